#pragma once
// Everything the application asks of the programmer goes through the transfer
// engine: a command packet on the write channel, a reply that echoes the
// command code on the read channel, and for some commands a bulk data phase on
// a worker thread or a busy phase of the chip. The user-interface thread starts
// a command and then calls Poll until it reports done (0) or failed (4).
//
// Functions return 1 for success and 0 for failure. READ, WRITE, ERASE,
// VERSION, SERIAL, SELF TEST and BOOT are refused (0, nothing sent) unless the
// engine is idle.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/clock.h"
#include "romwright/link/chip_params.h"
#include "romwright/link/chip_record.h"
#include "romwright/link/programmer_link.h"
#include "romwright/link/programmer_packets.h"
#include "romwright/link/transfer_worker.h"

namespace romwright::link {

enum EngineState : int {
  kIdle = 0,
  kReading = 1,
  kWriting = 2,
  kChipBusy = 3,
  kFailed = 4,  // only as Poll's answer
};

class TransferEngine {
 public:
  explicit TransferEngine(platform::Clock& clock);
  ~TransferEngine();

  void SetLink(ProgrammerLink* link) { link_ = link; }
  // Derives the parameters and keeps a copy of the record; 0 for an unknown type.
  int SetChip(const ChipRecord& record);
  const ChipParams& Params() const { return params_; }
  const ChipRecord& Chip() const { return chip_; }

  int StartRead(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
  int StartWrite(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length,
                 std::uint16_t page_size);
  int StartErase();
  int QueryStatus(std::uint8_t& status);
  int ReadId(std::uint8_t& manufacturer_id, std::uint8_t& device_id);
  int ReadVersion(std::array<char, 100>& text);
  int ReadSerial(std::array<char, 20>& serial);
  int SelfTest(std::array<char, 1000>& report);
  int StartBootUpdate(const std::uint8_t* image, std::uint32_t length);

  // Advances the state machine: 0 done or idle, 1 reading, 2 writing, 3 chip
  // busy, 4 failed (the engine is idle again).
  int Poll();
  // Bytes received so far in the current read phase; the buffer holds them.
  std::uint32_t ReadCount() const;
  std::uint16_t Progress() const { return progress_; }
  // Back to idle; a running transfer is stopped at once.
  void AbortTransfer();
  int State() const { return state_; }

 private:
  std::shared_ptr<platform::ProgrammerChannels> IdleChannels();
  int SendPacket(const std::shared_ptr<platform::ProgrammerChannels>& ch,
                 const std::vector<std::uint8_t>& packet, platform::Clock::Millis limit);
  // Fills `reply` with a packet whose first byte is `code` and that is not
  // longer than `longest`; 0 when none arrives.
  int ReadReply(const std::shared_ptr<platform::ProgrammerChannels>& ch, std::uint8_t code,
                std::size_t longest, std::vector<std::uint8_t>& reply);
  int Exchange(const std::shared_ptr<platform::ProgrammerChannels>& ch,
               const std::vector<std::uint8_t>& packet, platform::Clock::Millis send_limit,
               std::size_t longest, std::vector<std::uint8_t>& reply);
  int PollPhase(TransferWorker& worker, std::uint32_t total, int running_code);

  ProgrammerLink* link_ = nullptr;
  ChipParams params_;
  ChipRecord chip_;
  int state_ = kIdle;
  std::uint32_t read_total_ = 0;
  std::uint32_t write_total_ = 0;
  std::uint16_t progress_ = 0;
  TransferWorker read_worker_;
  TransferWorker write_worker_;
  std::array<std::uint8_t, 1024> scratch_{};
};

}  // namespace romwright::link
