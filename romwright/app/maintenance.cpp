#include "romwright/app/maintenance.h"

#include <algorithm>
#include <fstream>

namespace romwright::app {

namespace {
using Millis = platform::Clock::Millis;
constexpr Millis kPollPause{5};
constexpr Millis kAttemptPeriod{100};
constexpr int kPromptAttempt = 50;
constexpr int kLastAttempt = 150;
constexpr const char* kDefaultSerial = "016000000";

enum : std::uint32_t {
  kTextBusy = 0,
  kTextNoProgrammer = 1,
  kTextReadVersion = 57,
  kTextReadVersionError = 58,
  kTextFirmwareVersion = 59,
  kTextAutoTest = 60,
  kTextAutoTestStart = 61,
  kTextAutoTestError = 62,
  kTextAutoTestResult = 63,
  kTextHardwareOk = 64,
  kTextHardwareProblems = 65,
  kTextReadSerial = 66,
  kTextReadSerialError = 67,
  kTextSerialNumber = 68,
  kTextFirmwareUpdate = 69,
  kTextOpenFileError = 71,
  kTextFileFormatError = 72,
  kTextWaitForLinking = 73,
  kTextLinkPrompt = 74,
  kTextUpdateError = 75,
  kTextUpdating = 76,
  kTextUpdateOk = 77,
  kTextElapsed = 124,
};
}  // namespace

Maintenance::Maintenance(ProgrammerContext context, std::string model_setting)
    : ctx_(context), model_setting_(std::move(model_setting)) {}

std::string Maintenance::Elapsed() const {
  return ElapsedSuffix(T(kTextElapsed), ctx_.clock.Now() - start_tick_);
}

bool Maintenance::BusyCheck() {
  if (ctx_.engine.Poll() == link::kIdle) return false;
  ctx_.sink.Show(T(kTextBusy));
  ctx_.status.LogLine(T(kTextBusy));
  return true;
}

bool Maintenance::CommonStart(std::uint32_t start_text) {
  readings_ = {};
  ctx_.status.LogLine(T(start_text));
  if (BusyCheck()) return false;
  if (!ctx_.link.OpenLink()) {
    ctx_.status.ShowError(T(kTextNoProgrammer));
    ctx_.sink.Show(T(kTextNoProgrammer));
    return false;
  }
  start_tick_ = ctx_.clock.Now();
  return true;
}

std::string Maintenance::ShownVersion(const std::string& model_setting, std::string version) {
  if (model_setting.rfind("FPR7101", 0) == 0 && version.rfind("FPR7100", 0) == 0) {
    version.replace(0, 7, "FPR7101");
  }
  return version;
}

bool Maintenance::ReadFirmwareVersion() {
  if (!CommonStart(kTextReadVersion)) return false;
  std::array<char, 100> version{};
  if (!ctx_.engine.ReadVersion(version)) {
    ctx_.status.ShowError(T(kTextReadVersionError));
    return false;
  }
  const std::string shown = ShownVersion(model_setting_, version.data());
  readings_.firmware_version = shown;
  ctx_.status.SetProgress(100);
  const std::string text = T(kTextFirmwareVersion) + " " + shown + "    ";
  ctx_.status.ShowInfo(text + Elapsed());
  ctx_.sink.Show(text);
  return true;
}

bool Maintenance::SelfTest() {
  if (!CommonStart(kTextAutoTest)) return false;
  ctx_.status.ShowInfo(T(kTextAutoTestStart));
  std::array<char, 1000> report{};
  if (!ctx_.engine.SelfTest(report)) {
    ctx_.status.ShowError(T(kTextAutoTestError));
    return false;
  }
  if (report[0] == '\r') {
    const std::string shown(report.data(), std::find(report.begin(), report.end(), '\0'));
    readings_.self_test_report = shown;
    const std::string text = T(kTextAutoTestResult) + " " + shown + "    ";
    ctx_.status.ShowInfo(text + Elapsed());
    ctx_.sink.Show(text);
    ctx_.status.LogLine(text);
    return true;
  }
  const bool ok = report[14] == 'o' && report[15] == 'k';
  readings_.hardware_ok = ok;
  const std::string& text = T(ok ? kTextHardwareOk : kTextHardwareProblems);
  if (ok) {
    ctx_.status.ShowInfo(text);
  } else {
    ctx_.status.ShowError(text);
  }
  ctx_.sink.Show(text);
  ctx_.status.LogLine(text);
  return ok;
}

std::string Maintenance::SerialText(const std::array<char, 20>& serial) {
  std::string s;
  for (char c : serial) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7A) break;
    s.push_back(c);
  }
  return s.empty() ? kDefaultSerial : s;
}

bool Maintenance::ReadSerialNumber() {
  if (!CommonStart(kTextReadSerial)) return false;
  std::array<char, 20> serial{};
  if (!ctx_.engine.ReadSerial(serial)) {
    ctx_.status.ShowError(T(kTextReadSerialError));
    return false;
  }
  readings_.serial_number = SerialText(serial);
  const std::string text = T(kTextSerialNumber) + readings_.serial_number;
  ctx_.status.ShowInfo(text + Elapsed());
  ctx_.sink.Show(text);
  ctx_.status.LogLine(text);
  return true;
}

bool Maintenance::UpdateFirmware(const std::optional<std::string>& host_path) {
  ctx_.status.LogLine(T(kTextFirmwareUpdate));
  if (update_running_ || ctx_.engine.Poll() != link::kIdle) {
    ctx_.sink.Show(T(kTextBusy));
    ctx_.status.LogLine(T(kTextBusy));
    return false;
  }
  update_running_ = true;
  struct ClearFlag {
    bool& flag;
    ~ClearFlag() { flag = false; }
  } clear{update_running_};

  if (!host_path) return false;  // the dialog was cancelled
  std::vector<std::uint8_t> image(kUpdateImageSize, 0xFF);
  std::ifstream file(*host_path, std::ios::binary);
  if (!file) {
    ctx_.sink.Show(T(kTextOpenFileError));
    return false;
  }
  file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const auto length = static_cast<std::uint32_t>(file.gcount());
  // A longer file is no update image, and neither is an empty one: the BOOT
  // command would take the programmer into its boot loader and then send it
  // nothing, leaving it there without firmware.
  if (file.peek() != std::char_traits<char>::eof() || length == 0) {
    ctx_.sink.Show(T(kTextFileFormatError));
    return false;
  }
  if (BusyCheck()) return false;
  return RunUpdate(image, length);
}

bool Maintenance::RunUpdate(const std::vector<std::uint8_t>& image, std::uint32_t length) {
  start_tick_ = ctx_.clock.Now();
  // A bar left red or full by an earlier command does not belong to this one.
  ctx_.status.SetProgress(0);
  ctx_.status.ShowInfo(T(kTextWaitForLinking));
  for (int attempt = 0;; ++attempt) {
    if (attempt == kPromptAttempt) {
      const auto answer = ctx_.sink.Show(T(kTextLinkPrompt), {}, platform::MessageIcon::kNone,
                                         platform::MessageButtons::kOkCancel);
      if (answer == platform::MessageAnswer::kCancel) {
        ctx_.status.ShowError(T(kTextUpdateError));
        ctx_.sink.Show(T(kTextUpdateError));
        return false;
      }
      start_tick_ = ctx_.clock.Now();
    }
    if (attempt > kLastAttempt) {
      ctx_.status.ShowError(T(kTextUpdateError));
      ctx_.sink.Show(T(kTextUpdateError));
      return false;
    }
    if (ctx_.link.OpenLink() && ctx_.engine.StartBootUpdate(image.data(), length)) break;
    // Wait for the next attempt; the window keeps handling its messages.
    const auto next = ctx_.clock.Now() + kAttemptPeriod;
    while (ctx_.clock.Now() < next) {
      ctx_.status.PumpMessage();
      if (ctx_.stop.stop_requested()) {
        ctx_.status.ShowError(T(kTextUpdateError));
        return false;
      }
      ctx_.clock.WaitFor(std::min(kPollPause * 4, next - ctx_.clock.Now()));
    }
  }
  ctx_.status.ShowInfo(T(kTextUpdating));
  for (;;) {
    const int s = ctx_.engine.Poll();
    if (s == link::kWriting) {
      ctx_.status.SetProgress(ctx_.engine.Progress());
      ctx_.status.PumpMessage();
      if (ctx_.stop.stop_requested()) {
        ctx_.engine.AbortTransfer();
        ctx_.status.ShowError(T(kTextUpdateError));
        return false;
      }
      ctx_.clock.WaitFor(kPollPause, ctx_.stop);
      continue;
    }
    if (s == link::kIdle) {
      ctx_.status.SetProgress(100);
      ctx_.status.ShowInfo(T(kTextUpdateOk) + Elapsed());
      ctx_.sink.Show(T(kTextUpdateOk));
      return true;
    }
    ctx_.status.ShowError(T(kTextUpdateError));
    ctx_.sink.Show(T(kTextUpdateError));
    return false;
  }
}

}  // namespace romwright::app
