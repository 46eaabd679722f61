#include "tools/cli/progress_line.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace command_line {

namespace {

std::string Bytes(double bytes) {
  char text[32];
  if (bytes >= 1024.0 * 1024.0) {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024.0) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  }
  return text;
}

std::string Duration(double seconds) {
  const auto s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

ProgressLine::ProgressLine(std::ostream& out, bool enabled, Now now)
    : out_(out), enabled_(enabled), now_(std::move(now)) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Start(const std::string& what, std::uint64_t total_bytes) {
  Finish();
  what_ = what;
  total_ = total_bytes;
  started_ = now_();
  drawn_percent_ = -1;
  finished_ = false;
}

std::string ProgressLine::Text(int percent) const {
  percent = std::clamp(percent, 0, 100);
  const double seconds = std::chrono::duration<double>(now_() - started_).count();
  char head[64];
  std::snprintf(head, sizeof head, "%3d%%", percent);
  std::string text = what_.empty() ? std::string(head) : what_ + "  " + head;
  if (total_ > 0) {
    const double done = static_cast<double>(total_) * percent / 100.0;
    text += "  " + Bytes(done) + " of " + Bytes(static_cast<double>(total_));
    if (seconds > 0.0 && done > 0.0) text += "  " + Bytes(done / seconds) + "/s";
  }
  if (percent >= 100) {
    text += "  " + Duration(seconds);
  } else if (percent > 0 && seconds > 0.0) {
    text += "  " + Duration(seconds * (100 - percent) / percent) + " left";
  }
  return text;
}

void ProgressLine::Update(int percent) {
  if (!enabled_ || finished_ || percent <= 0) return;
  const TimePoint now = now_();
  if (percent == drawn_percent_ && now - drawn_at_ < std::chrono::milliseconds(250)) return;
  drawn_percent_ = percent;
  drawn_at_ = now;
  drawn_ = true;
  out_ << '\r' << Text(percent) << "\033[K" << std::flush;
}

void ProgressLine::Finish() {
  finished_ = true;
  if (!drawn_) return;
  drawn_ = false;
  out_ << '\n' << std::flush;
}

}  // namespace command_line
