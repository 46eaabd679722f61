#include "romwright/app/status_display.h"

#include <cstdio>

#include "platform/replace_file.h"

namespace romwright::app {

StatusDisplay::StatusDisplay(platform::Clock& clock, std::string log_host_path, StatusView* view)
    : clock_(clock), log_path_(std::move(log_host_path)), view_(view) {}

void StatusDisplay::LogLine(std::string_view text) {
  if (log_path_.empty()) return;
  const platform::LocalTime t = clock_.LocalNow();
  char stamp[64];
  // The milliseconds of the same wall-clock reading, so that stamps never run
  // backwards within a second.
  std::snprintf(stamp, sizeof stamp, "\r\n%04d/%02d/%02d/ %02d:%02d:%02d.%03d: ", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  // One entry goes in as one piece, so a second window's entries never cut into it.
  platform::AppendWhole(log_path_, std::string(stamp).append(text), kLogRestartSize);
}

void StatusDisplay::ShowInfo(std::string_view text) {
  LogLine(std::string("ShowInfo: ").append(text));
  info_text_ = text;
  info_colour_ = kTextBlack;
  if (view_) view_->InfoChanged(info_text_, info_colour_);
  PumpMessage();
}

void StatusDisplay::ShowError(std::string_view text) {
  SetProgress(kProgressError);
  LogLine(std::string("ShowInfo: ").append(text));
  info_text_ = text;
  info_colour_ = kErrorRed;
  if (view_) view_->InfoChanged(info_text_, info_colour_);
  PumpMessage();
}

void StatusDisplay::SetProgress(unsigned value) {
  if (value == kProgressError) {
    bar_colour_ = kErrorRed;
    progress_text_colour_ = kErrorRed;
    progress_position_ = 100;
    progress_text_ = "ERROR";
  } else {
    if (value > 100) value = 100;
    bar_colour_ = kBarColour;
    progress_text_colour_ = kTextBlack;
    progress_position_ = static_cast<int>(value);
    progress_text_ = std::to_string(value) + "%";
  }
  NotifyProgress();
}

void StatusDisplay::NotifyProgress() {
  if (view_) {
    view_->ProgressChanged(progress_position_, progress_text_, bar_colour_, progress_text_colour_);
  }
}

void StatusDisplay::PumpMessage() {
  if (view_) view_->PumpMessage();
}

std::string ElapsedSuffix(std::string_view label, platform::Clock::Millis elapsed) {
  return std::string("   ").append(label).append(std::to_string(elapsed.count())).append(" ms");
}

}  // namespace romwright::app
