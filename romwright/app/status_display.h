#pragma once
// The status display every chip and programmer operation writes to: the
// progress bar with its percentage text, the one-line info text, and the log
// file. It holds what the window shows; a view (the window, the command line)
// is told of every change and handles one pending window message on request.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace romwright::app {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBarColour{49, 106, 197};
inline constexpr Rgb kErrorRed{255, 0, 0};
inline constexpr Rgb kTextBlack{0, 0, 0};

// SetProgress's value for the error state.
inline constexpr unsigned kProgressError = 0xFFFF;
// A log file longer than this is started again, empty.
inline constexpr std::uintmax_t kLogRestartSize = 10485760;

class StatusView {
 public:
  virtual ~StatusView() = default;
  virtual void InfoChanged(const std::string& /*text*/, Rgb /*colour*/) {}
  virtual void ProgressChanged(int /*position*/, const std::string& /*text*/, Rgb /*bar*/,
                               Rgb /*text_colour*/) {}
  // Handles one pending window message, so the window stays responsive.
  virtual void PumpMessage() {}
};

class StatusDisplay {
 public:
  // `log_host_path`: the log file as the host names it; empty: no log.
  StatusDisplay(platform::Clock& clock, std::string log_host_path, StatusView* view = nullptr);

  // Appends "\r\n", the local time "YYYY/MM/DD/ HH:MM:SS", ".mmm: " with its
  // milliseconds, then the text. A log file past 10 MiB is first
  // recreated empty.
  void LogLine(std::string_view text);
  // Info line in black; logged as "ShowInfo: " + text.
  void ShowInfo(std::string_view text);
  // The progress display's error state; info line in red; logged like ShowInfo.
  void ShowError(std::string_view text);
  // 0xFFFF: red bar at 100 with "ERROR". Else the value cut to 100, the bar
  // back to its normal colour, text "N%".
  void SetProgress(unsigned value);
  void PumpMessage();

  int ProgressPosition() const { return progress_position_; }
  const std::string& ProgressText() const { return progress_text_; }
  Rgb BarColour() const { return bar_colour_; }
  Rgb ProgressTextColour() const { return progress_text_colour_; }
  const std::string& InfoText() const { return info_text_; }
  Rgb InfoColour() const { return info_colour_; }
  const std::string& LogPath() const { return log_path_; }

 private:
  void NotifyProgress();

  platform::Clock& clock_;
  std::string log_path_;
  StatusView* view_;
  int progress_position_ = 0;
  std::string progress_text_ = "0%";
  Rgb bar_colour_ = kBarColour;
  Rgb progress_text_colour_ = kTextBlack;
  std::string info_text_;
  Rgb info_colour_ = kTextBlack;
};

// "   " + label ("Elapsed time: ") + "N ms".
std::string ElapsedSuffix(std::string_view label, platform::Clock::Millis elapsed);

}  // namespace romwright::app
