#pragma once
// Ctrl-C (SIGINT) and SIGTERM for the command-line programs: the first one
// asks the work under way to stop at its next safe point, a second one ends
// the program at once. The exit status of stopped work is kExitInterrupted.

#include <functional>
#include <memory>

namespace command_line {

inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

class Interruption {
 public:
  // Blocks the signals in this thread and every thread it starts later, and
  // waits for them on a thread of its own. Make it in main, before any other
  // thread.
  Interruption();
  ~Interruption();
  Interruption(const Interruption&) = delete;
  Interruption& operator=(const Interruption&) = delete;

  // What stops the work under way; it runs on the signal's thread. An empty
  // function: nothing to stop (a signal is still noted). Set after a signal
  // came, it runs at once, on the calling thread.
  void OnStop(std::function<void()> stop);
  // True once a signal asked the work to stop.
  bool Requested() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace command_line
