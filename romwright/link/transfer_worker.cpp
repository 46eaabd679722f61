#include "romwright/link/transfer_worker.h"

#include <algorithm>

namespace romwright::link {

namespace {
constexpr platform::Clock::Millis kCheckPeriod{5};
constexpr platform::Clock::Millis kRetryPause{1};
}  // namespace

void TransferWorker::Begin(platform::Clock::Millis limit) {
  Stop();
  count_.store(0);
  done_.store(false);
  result_.store(false);
  stopped_.store(false);
  overflowed_.store(false);
  const auto now = clock_.Now();
  overall_deadline_ = now + limit;
  chunk_deadline_ms_.store((now + kChunkLimit).count());
}

void TransferWorker::StartChunk() {
  chunk_deadline_ms_.store((clock_.Now() + kChunkLimit).count(), std::memory_order_release);
}

void TransferWorker::StartRead(std::shared_ptr<platform::ProgrammerChannels> channels,
                               std::uint8_t* buffer, std::uint32_t length,
                               platform::Clock::Millis limit) {
  Begin(limit);
  thread_ = std::jthread([this, channels = std::move(channels), buffer, length](std::stop_token st) {
    RunRead(st, channels, buffer, length);
  });
}

void TransferWorker::StartWrite(std::shared_ptr<platform::ProgrammerChannels> channels,
                                const std::uint8_t* data, std::uint32_t length,
                                platform::Clock::Millis limit) {
  Begin(limit);
  thread_ = std::jthread([this, channels = std::move(channels), data, length](std::stop_token st) {
    RunWrite(st, channels, data, length);
  });
}

void TransferWorker::RunRead(std::stop_token stop,
                             std::shared_ptr<platform::ProgrammerChannels> channels,
                             std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t left = length;
  std::uint32_t position = 0;
  bool ok = true;
  while (left > 0) {
    const std::uint32_t chunk = std::min(kChunkSize, left);
    left -= chunk;
    StartChunk();
    const auto r = channels->Read({buffer + position, chunk}, platform::Clock::Millis{0}, stop);
    const bool overflow = r.status == platform::UsbTransferStatus::kOverflow;
    ok = r.ok() || overflow;
    if (!ok) break;
    const auto got = static_cast<std::uint32_t>(std::min<std::size_t>(r.transferred, chunk));
    position += got;
    count_.fetch_add(got, std::memory_order_release);
    if (overflow) {
      // More came than was asked for: what fits is kept, the device is out of
      // step with this phase, so it ends here.
      overflowed_.store(true, std::memory_order_release);
      break;
    }
    if (got != chunk || chunk != kChunkSize) break;  // a short chunk ends the phase
  }
  result_.store(ok, std::memory_order_relaxed);
  done_.store(true, std::memory_order_release);
}

void TransferWorker::RunWrite(std::stop_token stop,
                              std::shared_ptr<platform::ProgrammerChannels> channels,
                              const std::uint8_t* data, std::uint32_t length) {
  std::uint32_t left = length;
  std::uint32_t position = 0;
  while (left > 0) {
    const std::uint32_t chunk = std::min(kChunkSize, left);
    left -= chunk;
    StartChunk();
    std::uint32_t sent = 0;
    while (sent < chunk) {
      if (stop.stop_requested()) return;  // the checker reports the failure
      const auto r = channels->Write({data + position + sent, chunk - sent},
                                     platform::Clock::Millis{0}, stop);
      sent += static_cast<std::uint32_t>(std::min<std::size_t>(r.transferred, chunk - sent));
      if (!r.ok() && sent < chunk) clock_.WaitFor(kRetryPause, stop);
    }
    position += chunk;
    count_.fetch_add(chunk, std::memory_order_release);
  }
  result_.store(true, std::memory_order_relaxed);
  done_.store(true, std::memory_order_release);
}

TransferWorker::Outcome TransferWorker::Check() {
  if (stopped_.load()) return Outcome::kFailed;
  if (done_.load(std::memory_order_acquire)) {
    return result_.load(std::memory_order_relaxed) ? Outcome::kSucceeded : Outcome::kFailed;
  }
  if (!thread_.joinable()) return Outcome::kFailed;  // never started
  const auto now = clock_.Now();
  if (now > overall_deadline_ ||
      now.count() > chunk_deadline_ms_.load(std::memory_order_acquire)) {
    Stop();
    return Outcome::kFailed;
  }
  return Outcome::kRunning;
}

bool TransferWorker::WaitDone() {
  for (;;) {
    switch (Check()) {
      case Outcome::kSucceeded:
        return true;
      case Outcome::kFailed:
        return false;
      case Outcome::kRunning:
        clock_.WaitFor(kCheckPeriod);
        break;
    }
  }
}

void TransferWorker::Stop() {
  if (!thread_.joinable()) return;
  if (!done_.load(std::memory_order_acquire)) stopped_.store(true);
  thread_.request_stop();
  thread_.join();
}

}  // namespace romwright::link
