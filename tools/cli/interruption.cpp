#include "tools/cli/interruption.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace command_line {

struct Interruption::State {
  std::mutex mutex;
  std::function<void()> stop;
  std::atomic<bool> requested{false};
  sigset_t signals{};
  sigset_t previous{};
  std::thread watcher;
};

Interruption::Interruption() : state_(std::make_unique<State>()) {
  State* s = state_.get();
  sigemptyset(&s->signals);
  sigaddset(&s->signals, SIGINT);
  sigaddset(&s->signals, SIGTERM);
  sigaddset(&s->signals, SIGUSR1);  // wakes the watcher when the program ends
  pthread_sigmask(SIG_BLOCK, &s->signals, &s->previous);
  s->watcher = std::thread([s] {
    for (;;) {
      int signal = 0;
      if (sigwait(&s->signals, &signal) != 0) continue;
      if (signal == SIGUSR1) return;
      if (s->requested.exchange(true)) _exit(kExitInterrupted);  // the second one: at once
      std::lock_guard lock(s->mutex);
      if (s->stop) s->stop();
    }
  });
}

Interruption::~Interruption() {
  pthread_kill(state_->watcher.native_handle(), SIGUSR1);
  state_->watcher.join();
  pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

void Interruption::OnStop(std::function<void()> stop) {
  std::lock_guard lock(state_->mutex);
  state_->stop = std::move(stop);
  // A signal that came before there was anything to stop (while the program
  // was still starting) stops this work as soon as it is named.
  if (state_->requested.load() && state_->stop) state_->stop();
}

bool Interruption::Requested() const { return state_->requested.load(); }

}  // namespace command_line
