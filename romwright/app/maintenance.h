#pragma once
// The commands that look after the programmer itself: Read Firmware Version,
// Self Test, Read Serial Number and Update Firmware.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "romwright/app/chip_operations.h"

namespace romwright::app {

inline constexpr int kCmdReadFirmwareVersion = 32893;
inline constexpr int kCmdSelfTest = 32928;
inline constexpr int kCmdReadSerialNumber = 32937;
inline constexpr int kCmdUpdateFirmware = 32897;

// Largest update image; the image block is pre-filled with 0xFF.
inline constexpr std::size_t kUpdateImageSize = 0x40000;
// The update file dialog: filter (after the language's "Update File") and
// default extension.
inline constexpr const char* kUpdateFileFilter = "(*.fpr)|*.fpr|";
inline constexpr const char* kUpdateFileExtension = "FPR";

class Maintenance {
 public:
  // `model_setting`: the Version setting; its first seven characters name the
  // programmer model ("FPR7100" or "FPR7101").
  Maintenance(ProgrammerContext context, std::string model_setting);

  // Each returns true when the command succeeded (Self Test: the hardware
  // passed, or the report was shown).
  bool ReadFirmwareVersion();
  bool SelfTest();
  bool ReadSerialNumber();
  // `host_path`: the file the operator chose, nothing when the dialog was
  // cancelled.
  bool UpdateFirmware(const std::optional<std::string>& host_path);

  bool UpdateRunning() const { return update_running_; }

  // What the last command read: the version as shown, the serial number as
  // shown, the self test's verdict (nothing when the programmer sent its own
  // report instead) and that report. Empty when not read.
  struct Readings {
    std::string firmware_version;
    std::string serial_number;
    std::optional<bool> hardware_ok;
    std::string self_test_report;
  };
  const Readings& LastReadings() const { return readings_; }
  // The version text as shown: the FPR7101 programmer reports itself as FPR7100.
  static std::string ShownVersion(const std::string& model_setting, std::string version);
  // "Serial number:" is followed by this when the programmer holds none.
  static std::string SerialText(const std::array<char, 20>& serial);

 private:
  Readings readings_;
  const std::string& T(std::uint32_t id) const { return ctx_.texts.TextOf(id); }
  bool CommonStart(std::uint32_t start_text);
  bool BusyCheck();
  bool RunUpdate(const std::vector<std::uint8_t>& image, std::uint32_t length);
  std::string Elapsed() const;

  ProgrammerContext ctx_;
  std::string model_setting_;
  platform::Clock::Millis start_tick_{0};
  bool update_running_ = false;
};

}  // namespace romwright::app
