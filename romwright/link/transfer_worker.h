#pragma once
// One bulk transfer phase on its own thread: the read worker fills a buffer from
// the read channel, the write worker sends a buffer on the write channel, both
// in chunks of 4096 bytes. The thread that started the worker checks it with
// Check: a worker past its overall deadline or its per-chunk deadline is
// stopped at once by cancelling its pending transfer, which leaves the channel
// usable for the next transfer.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/clock.h"
#include "platform/programmer_usb.h"

namespace romwright::link {

inline constexpr std::uint32_t kChunkSize = 4096;
inline constexpr platform::Clock::Millis kChunkLimit{5000};

class TransferWorker {
 public:
  enum class Outcome { kRunning, kSucceeded, kFailed };

  explicit TransferWorker(platform::Clock& clock) : clock_(clock) {}
  ~TransferWorker() { Stop(); }
  TransferWorker(const TransferWorker&) = delete;
  TransferWorker& operator=(const TransferWorker&) = delete;

  // Reads up to `length` bytes into `buffer`. A chunk that comes back short
  // ends the phase as a success with a smaller count. So does a packet longer
  // than the room left: the bytes that fit are kept and Overflowed() tells.
  void StartRead(std::shared_ptr<platform::ProgrammerChannels> channels, std::uint8_t* buffer,
                 std::uint32_t length, platform::Clock::Millis limit);
  // Sends `length` bytes of `data`; a failed chunk is sent again until it goes
  // through or the worker is stopped.
  void StartWrite(std::shared_ptr<platform::ProgrammerChannels> channels,
                  const std::uint8_t* data, std::uint32_t length, platform::Clock::Millis limit);

  // Done: its result. Still running within its deadlines: kRunning. Past a
  // deadline: stopped, kFailed.
  Outcome Check();
  // Checks every 5 ms until the worker is done or stopped.
  bool WaitDone();
  // Stops the worker at once (its pending transfer is cancelled) and waits
  // for its thread to end.
  void Stop();

  // Bytes moved so far. The bytes of a read buffer below this count are
  // complete and may be read by the checking thread.
  std::uint32_t Count() const { return count_.load(std::memory_order_acquire); }
  // The device sent more than the read phase asked for; valid once done.
  bool Overflowed() const { return overflowed_.load(std::memory_order_acquire); }

 private:
  void Begin(platform::Clock::Millis limit);
  void RunRead(std::stop_token stop, std::shared_ptr<platform::ProgrammerChannels> channels,
               std::uint8_t* buffer, std::uint32_t length);
  void RunWrite(std::stop_token stop, std::shared_ptr<platform::ProgrammerChannels> channels,
                const std::uint8_t* data, std::uint32_t length);
  void StartChunk();

  platform::Clock& clock_;
  std::jthread thread_;
  std::atomic<std::uint32_t> count_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> result_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> overflowed_{false};
  platform::Clock::Millis overall_deadline_{0};
  std::atomic<std::int64_t> chunk_deadline_ms_{0};
};

}  // namespace romwright::link
