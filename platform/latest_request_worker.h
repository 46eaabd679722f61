#pragma once
// A thread of its own that answers the newest request posted to it. A request
// posted while another still waits replaces it, so a slow answer (a database
// across the network) never piles up work that is already out of date, and
// the caller never waits for an answer. The thread starts with the first
// request. Stop (and the destructor) drops what waits, lets an answer under
// way finish and joins: nothing is answered after it returns. Stop is not for
// the answer itself to call.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

namespace platform {

template <typename Request>
class LatestRequestWorker {
 public:
  // Runs on the worker's thread, with no lock of the worker held.
  using Answer = std::function<void(Request)>;

  explicit LatestRequestWorker(Answer answer) : answer_(std::move(answer)) {}
  ~LatestRequestWorker() { Stop(); }
  LatestRequestWorker(const LatestRequestWorker&) = delete;
  LatestRequestWorker& operator=(const LatestRequestWorker&) = delete;

  // Replaces the request that waits, if any, and returns at once. Ignored
  // once Stop has begun.
  void Post(Request request) {
    {
      const std::lock_guard lock(mutex_);
      if (stopped_) return;
      pending_ = std::move(request);
      if (!thread_.joinable()) thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    wanted_.notify_one();
  }

  void Stop() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
      pending_.reset();
    }
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
  }

  bool Stopped() const {
    const std::lock_guard lock(mutex_);
    return stopped_;
  }

 private:
  void Run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (wanted_.wait(lock, stop, [this] { return pending_.has_value(); }) && !stop.stop_requested()) {
      Request request = std::move(*pending_);
      pending_.reset();
      lock.unlock();
      answer_(std::move(request));
      lock.lock();
    }
  }

  const Answer answer_;
  mutable std::mutex mutex_;
  std::condition_variable_any wanted_;
  std::optional<Request> pending_;
  bool stopped_ = false;
  std::jthread thread_;
};

}  // namespace platform
