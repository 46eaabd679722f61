#pragma once
// Progress of long work as one line on a terminal: percentage, bytes, rate
// and time left, redrawn in place. Nothing is written when the stream is no
// terminal, so pipes and log files get no progress at all.

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace command_line {

// True when standard error is a terminal.
bool StderrIsTerminal();

class ProgressLine {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Now = std::function<TimePoint()>;

  // Draws on `out` only when `enabled` (StderrIsTerminal() for stderr).
  ProgressLine(std::ostream& out, bool enabled, Now now = &std::chrono::steady_clock::now);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool Enabled() const { return enabled_; }
  // A new piece of work: what it is ("Reading") and how many bytes it moves
  // (0: show the percentage and time only).
  void Start(const std::string& what, std::uint64_t total_bytes);
  // What the work is, once known; the timing goes on.
  void SetLabel(const std::string& what) { what_ = what; }
  // `percent` of the work is done (0-100). Redrawn when the percentage
  // changes or every quarter of a second; nothing at 0 % or after Finish.
  void Update(int percent);
  // Ends the line (a line feed) when one is drawn; later updates of the same
  // work draw nothing.
  void Finish();
  // True while a line is drawn and not ended.
  bool Drawn() const { return drawn_; }

  // The line as drawn, without the carriage return: "Reading  45%  7.2 MiB of
  // 16.0 MiB  1.9 MiB/s  0:04 left".
  std::string Text(int percent) const;

 private:
  std::ostream& out_;
  bool enabled_;
  Now now_;
  std::string what_;
  std::uint64_t total_ = 0;
  TimePoint started_{};
  TimePoint drawn_at_{};
  int drawn_percent_ = -1;
  bool drawn_ = false;
  bool finished_ = false;
};

}  // namespace command_line
