#pragma once
// The Programmer menu's chip operations: Auto, Chip Erase, Write Chip, Read
// Chip, Verify Chip and Detect Chip, on the selected chip and the data buffer.
// Each starts a command of the transfer engine and polls it with 5 ms pauses,
// updating the progress and handling one window message per pass, and reports
// through the status display and message boxes.

#include <cstdint>
#include <functional>
#include <stop_token>
#include <utility>
#include <optional>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "romwright/app/status_display.h"
#include "romwright/chips/chip_database.h"
#include "romwright/data/data_buffer.h"
#include "romwright/link/chip_record.h"
#include "romwright/link/programmer_link.h"
#include "romwright/link/transfer_engine.h"
#include "romwright/settings/language_table.h"

namespace romwright::app {

// Menu command identifiers.
inline constexpr int kCmdAuto = 32891;
inline constexpr int kCmdChipErase = 32886;
inline constexpr int kCmdWriteChip = 32887;
inline constexpr int kCmdReadChip = 32889;
inline constexpr int kCmdVerifyChip = 32888;
inline constexpr int kCmdDetectChip = 32881;

// What the operations of the programmer application work with.
struct ProgrammerContext {
  platform::Clock& clock;
  platform::MessageSink& sink;
  StatusDisplay& status;
  const LanguageTable& texts;
  link::ProgrammerLink& link;
  link::TransferEngine& engine;
  // A stop request (the window closes) breaks off the operation under way:
  // the transfer is aborted and the operation ends as failed, without a box.
  std::stop_token stop{};
};

class ChipOperations {
 public:
  ChipOperations(ProgrammerContext context, DataBuffer& buffer, const ChipDatabase& database);

  void SetSelectedChip(const ChipRecord& chip) { selected_ = chip; }
  const ChipRecord& SelectedChip() const { return selected_; }
  // Detect Chip selected a chip by its ID bytes: the window refreshes its chip
  // fields (and the view length) from it.
  std::function<void(const ChipRecord&)> on_chip_detected;
  // Read Chip succeeded: the hex view is redrawn.
  std::function<void()> on_buffer_read;

  // Each returns true when the operation succeeded (Detect: a known chip was
  // found); the window ignores it, the command line turns it into its exit code.
  bool ReadChip();
  bool EraseChip();
  bool WriteChip();
  bool VerifyChip();
  bool DetectChip();
  bool Auto();

  // The ID bytes the last Detect read: manufacturer first, then device;
  // nothing before a Detect or when it could not read them.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> DetectedIds() const { return detected_ids_; }

  // The address of the first byte the last Verify found different; nothing
  // when it found none (or did not get to compare).
  std::optional<std::uint32_t> VerifyMismatch() const { return verify_mismatch_; }

  // Runs the operation of a menu command identifier; false for another
  // identifier. A command that arrives while an operation runs meets the busy
  // message.
  bool Dispatch(int command_id);

  // 1 when the last Erase, Write or Verify succeeded.
  int OperationOk() const { return operation_ok_; }
  // True while an operation runs (its loop handles window messages, so other
  // commands can arrive meanwhile).
  bool Running() const { return running_; }

 private:
  std::optional<std::pair<std::uint8_t, std::uint8_t>> detected_ids_;
  std::optional<std::uint32_t> verify_mismatch_;
  struct Frame;
  const std::string& T(std::uint32_t id) const { return ctx_.texts.TextOf(id); }
  bool BusyOrUnlinked();
  void Busy();
  bool RunFrame(const Frame& frame);
  void Fail(std::uint32_t error_text);
  bool Stopped(std::uint32_t error_text);
  std::string Elapsed(platform::Clock::Millis since) const;
  void Pause();

  ProgrammerContext ctx_;
  DataBuffer& buffer_;
  const ChipDatabase& database_;
  ChipRecord selected_;
  int operation_ok_ = 0;
  platform::Clock::Millis start_tick_{0};
  bool running_ = false;
};

}  // namespace romwright::app
