#pragma once
// The device configuration dialog behind "More Config": the option flags of
// the configuration block as check boxes. Every click is written into the
// settings panel at once (through the writer the panel hands over), so OK and
// Cancel both only close the dialog and keep what was clicked.
//
// Visible boxes start from the panel's flags; "Low Power Mode", "Win8 WTG",
// the "Dual Image" group with "Image 0" (checked) and "Image 1", and
// "Generate CRC32" are hidden. The ten boxes of "Specified Flag" and the two
// image boxes are enabled only while Update Config is on, "Generate CRC32"
// only while Update F/W is on.

#include <cstdint>
#include <functional>

#include "linetool/app/panel_state.h"
#include "linetool/profile/profile_settings.h"

namespace linetool::app {

namespace ids::cfg {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kSpecifiedFlag = 1200;  // group box
inline constexpr int kCustomizedString = 1201;
inline constexpr int kEupEnabled = 1202;
inline constexpr int kTwoLeds = 1203;
inline constexpr int kHddStandby = 1204;
inline constexpr int kWhck = 1205;  // U1U2: option bit 4
inline constexpr int kLowPowerMode = 1206;
inline constexpr int kTwoTb = 1207;
inline constexpr int kHddsn = 1208;  // slow_enumeration: option bit 7
inline constexpr int kWin8Wtg = 1209;
inline constexpr int kHddPowerControl = 1210;
inline constexpr int kDualImage = 1211;  // group box
inline constexpr int kImage0 = 1212;
inline constexpr int kImage1 = 1213;
inline constexpr int kGenerateCrc32 = 1214;

// The ten boxes of "Specified Flag", in the dialog's order.
inline constexpr int kSpecifiedFlags[10] = {kCustomizedString, kEupEnabled, kTwoLeds, kHddStandby,
                                             kWhck,             kLowPowerMode, kTwoTb, kHddsn,
                                             kWin8Wtg,          kHddPowerControl};
}  // namespace ids::cfg

// The option flags that "More Config" edits.
struct MoreConfigFlags {
  std::uint8_t customized_string = 0;
  std::uint8_t eup_enable = 0;
  std::uint8_t two_leds = 0;
  std::uint8_t hdd_standby = 0;  // the fourth flag: enables the idle timer
  std::uint8_t U1U2 = 0;
  std::uint8_t low_power_mode = 0;
  std::uint8_t two_tb = 0;
  std::uint8_t slow_enumeration = 0;
  std::uint8_t Win8WTG = 0;
  std::uint8_t HDDPC = 0;
  std::uint8_t image0 = 0;
  std::uint8_t image1 = 0;
  std::uint8_t crc32 = 0;

  static MoreConfigFlags From(const profile::ProfileSettings& s);
  void To(profile::ProfileSettings& s) const;
  // The flag a box of the dialog sets; nullptr for another identifier.
  std::uint8_t* Of(int id);

  bool operator==(const MoreConfigFlags&) const = default;
};

class CDeviceCfgDlg {
 public:
  // Called after each click with the flags as they are now and the box.
  using Writer = std::function<void(const MoreConfigFlags& flags, int id, bool checked)>;

  CDeviceCfgDlg(const MoreConfigFlags& flags, bool update_config, bool update_fw, Writer write);

  // A click of a visible, enabled box; false for any other.
  bool SetCheck(int id, bool checked);

  const Panel& Controls() const { return panel_; }
  const MoreConfigFlags& Flags() const { return flags_; }

 private:
  MoreConfigFlags flags_;
  Writer write_;
  Panel panel_;
};

}  // namespace linetool::app
