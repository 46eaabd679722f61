#include "linetool/app/device_cfg_dlg.h"

namespace linetool::app {

namespace c = ids::cfg;

MoreConfigFlags MoreConfigFlags::From(const profile::ProfileSettings& s) {
  return MoreConfigFlags{s.customized_string, s.eup_enable, s.two_leds,         s.hdd_standby, s.U1U2,
                         s.low_power_mode,    s.two_tb,     s.slow_enumeration, s.Win8WTG,     s.HDDPC,
                         s.image0,            s.image1,     s.crc32};
}

void MoreConfigFlags::To(profile::ProfileSettings& s) const {
  s.customized_string = customized_string;
  s.eup_enable = eup_enable;
  s.two_leds = two_leds;
  s.hdd_standby = hdd_standby;
  s.U1U2 = U1U2;
  s.low_power_mode = low_power_mode;
  s.two_tb = two_tb;
  s.slow_enumeration = slow_enumeration;
  s.Win8WTG = Win8WTG;
  s.HDDPC = HDDPC;
  s.image0 = image0;
  s.image1 = image1;
  s.crc32 = crc32;
}

std::uint8_t* MoreConfigFlags::Of(int id) {
  switch (id) {
    case c::kCustomizedString: return &customized_string;
    case c::kEupEnabled: return &eup_enable;
    case c::kTwoLeds: return &two_leds;
    case c::kHddStandby: return &hdd_standby;
    case c::kWhck: return &U1U2;
    case c::kLowPowerMode: return &low_power_mode;
    case c::kTwoTb: return &two_tb;
    case c::kHddsn: return &slow_enumeration;
    case c::kWin8Wtg: return &Win8WTG;
    case c::kHddPowerControl: return &HDDPC;
    case c::kImage0: return &image0;
    case c::kImage1: return &image1;
    case c::kGenerateCrc32: return &crc32;
    default: return nullptr;
  }
}

CDeviceCfgDlg::CDeviceCfgDlg(const MoreConfigFlags& flags, bool update_config, bool update_fw, Writer write)
    : flags_(flags), write_(std::move(write)) {
  const std::pair<int, const char*> texts[] = {
      {c::kSpecifiedFlag, "Specified Flag"}, {c::kCustomizedString, "Customized String"},
      {c::kEupEnabled, "Eup Enabled"},       {c::kTwoLeds, "Two LEDS"},
      {c::kHddStandby, "HDD Standby"},       {c::kWhck, "WHCK"},
      {c::kLowPowerMode, "Low Power Mode"},  {c::kTwoTb, "2TB"},
      {c::kHddsn, "HDDSN"},                  {c::kWin8Wtg, "Win8 WTG"},
      {c::kHddPowerControl, "HDD Power Control"}, {c::kDualImage, "Dual Image"},
      {c::kImage0, "Image 0"},               {c::kImage1, "Image 1"},
      {c::kGenerateCrc32, "Generate CRC32"}, {c::kOk, "OK"},
      {c::kCancel, "Cancel"}};
  for (const auto& [id, text] : texts) panel_[id].text = text;
  for (int id : c::kSpecifiedFlags) {
    panel_[id].checked = *flags_.Of(id) != 0;
    panel_[id].enabled = update_config;
  }
  // Hidden boxes show the state a profile load forces; a click never reaches them.
  for (int id : {c::kLowPowerMode, c::kWin8Wtg, c::kDualImage, c::kImage0, c::kImage1, c::kGenerateCrc32}) {
    panel_[id].visible = false;
    panel_[id].checked = id == c::kImage0;
  }
  panel_[c::kImage0].enabled = update_config;
  panel_[c::kImage1].enabled = update_config;
  panel_[c::kGenerateCrc32].enabled = update_fw;
}

bool CDeviceCfgDlg::SetCheck(int id, bool checked) {
  std::uint8_t* flag = flags_.Of(id);
  const ControlState& box = panel_.At(id);
  if (flag == nullptr || !box.visible || !box.enabled) return false;
  *flag = checked ? 1 : 0;
  panel_[id].checked = checked;
  if (write_) write_(flags_, id, checked);
  return true;
}

}  // namespace linetool::app
