#pragma once
// The device information dialog ("Device Info"): for one port and one
// configuration slot, the option flags and the idle timer stored in the slot's
// configuration block, and a short register report about the chip variant and
// UASP. Everything is read when the dialog opens (Open); OK and Cancel only
// close it.
//
// The list has ten columns (Columns()) and one row whose first cell is
// "Status" (StatusRow()). In the flag byte a cleared bit means the option is
// on, so "O" marks an enabled option and "X" a disabled one. A failed slot
// read keeps the cells of the dialog's previous successful read; before the
// first one they are empty. Register failures go to the message sink and leave
// the report incomplete.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "linetool/app/engineering_access.h"
#include "linetool/profile/message_texts.h"
#include "platform/message_sink.h"

namespace linetool::app {

namespace ids::info {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kList = 1400;
inline constexpr int kConfigGroup = 1401;  // "Config Info"
inline constexpr int kUaspGroup = 1402;    // "UASP"
inline constexpr int kReport = 1403;       // the register report in the UASP group
}  // namespace ids::info

inline constexpr std::array<const char*, 10> kDeviceInfoColumns = {
    "Config", "CS", "EE", "TL", "HS", "U1U2", "LP", "2TB", "SE", "Idle Timer"};

// "X" when bit `bit` of the flag byte is set, "O" when it is clear.
std::string FlagText(std::uint8_t flags, int bit);
// The idle timer byte as the list shows it: 0xF1 "3 min" .. 0xFB "5 hr", 0xFF
// "Never", anything else "NULL".
std::string IdleTimerText(std::uint8_t idle);
// The variant mark of register 0xC8FF: "1-" for "00", "2-" for "001" and so
// on to "7-" for "111"; "Not Defined" otherwise.
std::string VariantMark(std::uint8_t variant);
// "No \n" or "Yes \n" after "Support UASP : " for registers 0xC890 and 0xC8FF.
bool UaspSupported(std::uint8_t c890, std::uint8_t c8ff);

// The C runtime's generator, as the variant line seeds it with the time.
class CrtRandom {
 public:
  explicit CrtRandom(std::uint32_t seed) : state_(seed) {}
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_;
};

class CDeviceInfoDlg {
 public:
  CDeviceInfoDlg(EngineeringAccess access, platform::MessageSink& sink);

  // Opening for a port (device-table index) and a configuration slot (0 or
  // 1): the slot read, the list, the register report. True when the slot and
  // every register were read.
  bool Open(int port, int image);

  std::string Title() const { return "Device Info"; }
  static std::vector<std::string> Columns();
  // The row "Status" and its nine cells.
  std::vector<std::string> StatusRow() const;
  // The text of the UASP group.
  const std::string& Report() const { return report_; }

 private:
  bool ReadSlot(int port, int image);
  bool BuildReport(int port);
  std::uint32_t TimeSeed() const;
  void ShowError(profile::MessageId id, std::string caption, int status = -1);

  EngineeringAccess access_;
  platform::MessageSink& sink_;
  std::optional<std::uint8_t> flag_byte_;  // of the previous successful read
  std::optional<std::uint8_t> idle_byte_;
  std::string report_;
};

}  // namespace linetool::app
