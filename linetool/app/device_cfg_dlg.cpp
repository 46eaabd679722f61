#include "linetool/app/device_cfg_dlg.h"

namespace linetool::app {

namespace c = ids::cfg;

namespace {

// One row per flag box: its identifier, its text, the flag it sets and the
// profile setting the flag comes from and goes back to.
struct FlagBox {
  int id;
  const char* text;
  std::uint8_t MoreConfigFlags::*flag;
  std::uint8_t profile::ProfileSettings::*setting;
};

using S = profile::ProfileSettings;
using F = MoreConfigFlags;
constexpr FlagBox kFlagBoxes[] = {
    {c::kCustomizedString, "Customized String", &F::customized_string, &S::customized_string},
    {c::kEupEnabled, "Eup Enabled", &F::eup_enable, &S::eup_enable},
    {c::kTwoLeds, "Two LEDS", &F::two_leds, &S::two_leds},
    {c::kHddStandby, "HDD Standby", &F::hdd_standby, &S::hdd_standby},
    {c::kWhck, "WHCK", &F::U1U2, &S::U1U2},
    {c::kLowPowerMode, "Low Power Mode", &F::low_power_mode, &S::low_power_mode},
    {c::kTwoTb, "2TB", &F::two_tb, &S::two_tb},
    {c::kHddsn, "HDDSN", &F::slow_enumeration, &S::slow_enumeration},
    {c::kWin8Wtg, "Win8 WTG", &F::Win8WTG, &S::Win8WTG},
    {c::kHddPowerControl, "HDD Power Control", &F::HDDPC, &S::HDDPC},
    {c::kImage0, "Image 0", &F::image0, &S::image0},
    {c::kImage1, "Image 1", &F::image1, &S::image1},
    {c::kGenerateCrc32, "Generate CRC32", &F::crc32, &S::crc32},
};

}  // namespace

MoreConfigFlags MoreConfigFlags::From(const profile::ProfileSettings& s) {
  MoreConfigFlags flags;
  for (const FlagBox& box : kFlagBoxes) flags.*box.flag = s.*box.setting;
  return flags;
}

void MoreConfigFlags::To(profile::ProfileSettings& s) const {
  for (const FlagBox& box : kFlagBoxes) s.*box.setting = this->*box.flag;
}

std::uint8_t* MoreConfigFlags::Of(int id) {
  for (const FlagBox& box : kFlagBoxes) {
    if (box.id == id) return &(this->*box.flag);
  }
  return nullptr;
}

CDeviceCfgDlg::CDeviceCfgDlg(const MoreConfigFlags& flags, bool update_config, bool update_fw, Writer write)
    : flags_(flags), write_(std::move(write)) {
  for (const FlagBox& box : kFlagBoxes) panel_[box.id].text = box.text;
  for (const auto& [id, text] : {std::pair{c::kSpecifiedFlag, "Specified Flag"}, std::pair{c::kDualImage, "Dual Image"},
                                 std::pair{c::kOk, "OK"}, std::pair{c::kCancel, "Cancel"}}) {
    panel_[id].text = text;
  }
  for (int id : c::kSpecifiedFlags) {
    const std::uint8_t* flag = flags_.Of(id);
    panel_[id].checked = flag != nullptr && *flag != 0;
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
