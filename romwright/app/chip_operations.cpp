#include "romwright/app/chip_operations.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "platform/large_pages.h"

namespace romwright::app {

namespace {
using Millis = platform::Clock::Millis;
constexpr Millis kPollPause{5};

// Language table entries.
enum : std::uint32_t {
  kTextBusy = 0,
  kTextNoProgrammer = 1,
  kTextMemoryOverflow = 19,
  kTextAuto = 31,
  kTextReadChip = 32,
  kTextEraseChip = 36,
  kTextWriteChip = 40,
  kTextVerifyChip = 44,
  kTextVerifyError = 45,
  kTextVerifying = 46,
  kTextVerifyOk = 47,
  kTextAddr = 48,
  kTextBuf = 49,
  kTextChip = 50,
  kTextDetectChip = 51,
  kTextDetectError = 52,
  kTextDetectErrorBox = 53,
  kTextUnknownChip = 54,
  kTextChipType = 55,
  kTextChipTypeNote = 56,
  kTextElapsed = 124,
};
}  // namespace

// One of Read, Erase, Write and Verify: its texts, its command and the code
// Poll answers while it runs.
struct ChipOperations::Frame {
  std::uint32_t start_text;
  std::uint32_t running_text;
  std::uint32_t ok_text;
  std::uint32_t error_text;
  int in_progress;
  std::function<int()> start;
  int pump_after_start = 0;
  std::function<void()> on_success;
};

ChipOperations::ChipOperations(ProgrammerContext context, DataBuffer& buffer,
                               const ChipDatabase& database)
    : ctx_(context), buffer_(buffer), database_(database) {}

std::string ChipOperations::Elapsed(Millis since) const {
  return ElapsedSuffix(T(kTextElapsed), ctx_.clock.Now() - since);
}

void ChipOperations::Pause() { ctx_.clock.WaitFor(kPollPause, ctx_.stop); }

void ChipOperations::Busy() {
  ctx_.sink.Show(T(kTextBusy));
  ctx_.status.LogLine(T(kTextBusy));
}

// The busy and link checks every operation starts with.
bool ChipOperations::BusyOrUnlinked() {
  if (ctx_.engine.Poll() != link::kIdle) {
    Busy();
    return true;
  }
  if (!ctx_.link.OpenLink()) {
    ctx_.status.ShowError(T(kTextNoProgrammer));
    ctx_.sink.Show(T(kTextNoProgrammer));
    return true;
  }
  return false;
}

void ChipOperations::Fail(std::uint32_t error_text) {
  ctx_.status.ShowError(T(error_text));
  ctx_.sink.Show(T(error_text));
  operation_ok_ = 0;
}

bool ChipOperations::Stopped(std::uint32_t error_text) {
  if (!ctx_.stop.stop_requested()) return false;
  ctx_.engine.AbortTransfer();
  ctx_.status.ShowError(T(error_text));
  operation_ok_ = 0;
  return true;
}

bool ChipOperations::RunFrame(const Frame& f) {
  ctx_.status.SetProgress(0);
  ctx_.status.LogLine(T(f.start_text));
  if (BusyOrUnlinked()) return false;
  start_tick_ = ctx_.clock.Now();
  ctx_.engine.SetChip(selected_);
  if (!f.start()) {
    Fail(f.error_text);
    return false;
  }
  ctx_.status.ShowInfo(T(f.running_text));
  for (int i = 0; i < f.pump_after_start; ++i) ctx_.status.PumpMessage();
  for (;;) {
    const int s = ctx_.engine.Poll();
    if (s == link::kIdle) break;
    if (s == link::kFailed) {
      Fail(f.error_text);
      return false;
    }
    ctx_.status.SetProgress(ctx_.engine.Progress());
    ctx_.status.PumpMessage();
    if (Stopped(f.error_text)) return false;
    Pause();
  }
  ctx_.status.ShowInfo(T(f.ok_text) + Elapsed(start_tick_));
  ctx_.status.SetProgress(100);
  operation_ok_ = 1;
  if (f.on_success) f.on_success();
  return true;
}

bool ChipOperations::ReadChip() {
  const std::uint32_t capacity = selected_.capacity;
  return RunFrame(Frame{kTextReadChip, 34, 35, 33, link::kReading,
                 [&] { return ctx_.engine.StartRead(buffer_.Data(), 0, capacity); }, 0,
                 [&] {
                   buffer_.ClearMarks(0, capacity);
                   if (on_buffer_read) on_buffer_read();
                 }});
}

bool ChipOperations::EraseChip() {
  if (selected_.type != static_cast<std::uint32_t>(ChipType::kSpiFlash)) {
    ctx_.status.LogLine(T(kTextEraseChip));
    operation_ok_ = 0;
    return false;
  }
  return RunFrame(Frame{kTextEraseChip, 38, 39, 37, link::kChipBusy,
                 [&] {
                   if (!ctx_.engine.StartErase()) return 0;
                   ctx_.status.SetProgress(0);
                   return 1;
                 },
                 2, nullptr});
}

bool ChipOperations::WriteChip() {
  const std::uint32_t capacity = selected_.capacity;
  const std::uint16_t page = selected_.page_write != 0 ? selected_.page_size : 1;
  return RunFrame(Frame{kTextWriteChip, 42, 43, 41, link::kWriting,
                 [&] { return ctx_.engine.StartWrite(buffer_.Data(), 0, capacity, page); }, 0,
                 nullptr});
}

bool ChipOperations::VerifyChip() {
  verify_mismatch_.reset();
  ctx_.status.SetProgress(0);
  ctx_.status.LogLine(T(kTextVerifyChip));
  if (BusyOrUnlinked()) return false;
  start_tick_ = ctx_.clock.Now();
  ctx_.engine.SetChip(selected_);
  const std::uint32_t capacity = selected_.capacity;
  std::vector<std::uint8_t> chip;
  try {
    chip = platform::FilledBytes(capacity, 0);
  } catch (const std::bad_alloc&) {
    ctx_.sink.Show(T(kTextMemoryOverflow));
    return false;
  }
  if (!ctx_.engine.StartRead(chip.data(), 0, capacity)) {
    Fail(kTextVerifyError);
    return false;
  }
  ctx_.status.ShowInfo(T(kTextVerifying));
  const std::uint8_t* expected = buffer_.Data();
  const std::uint32_t step = capacity / 100;
  std::uint32_t position = 0;
  while (position < capacity) {
    const int s = ctx_.engine.Poll();
    if (s == link::kFailed) {
      ctx_.engine.AbortTransfer();
      Fail(kTextVerifyError);
      return false;
    }
    ctx_.status.SetProgress(ctx_.engine.Progress());
    ctx_.status.PumpMessage();
    if (Stopped(kTextVerifyError)) return false;
    const std::uint32_t received = std::min(ctx_.engine.ReadCount(), capacity);
    if (s == link::kReading && received < position + step) {
      Pause();
      continue;
    }
    // Compare what has arrived, 1024 bytes at a time.
    while (position < received) {
      const std::uint32_t end = std::min(position + 1024, received);
      const auto* at = std::mismatch(expected + position, expected + end, chip.data() + position).first;
      if (at != expected + end) {
        const std::uint32_t address = static_cast<std::uint32_t>(at - expected);
        const std::uint8_t buf = *at;
        const std::uint8_t got = chip[address];
        verify_mismatch_ = address;
        ctx_.engine.AbortTransfer();
        ctx_.status.ShowError(T(kTextVerifyError));
        char addr[64], bytes[32], chip_byte[32];
        std::snprintf(addr, sizeof addr, "0x%X%X%X%X%X%X   \r\n", (address >> 20) & 0xF,
                      (address >> 16) & 0xF, (address >> 12) & 0xF, (address >> 8) & 0xF,
                      (address >> 4) & 0xF, address & 0xF);
        std::snprintf(bytes, sizeof bytes, "0x%X%X   \r\n", buf >> 4, buf & 0xF);
        std::snprintf(chip_byte, sizeof chip_byte, "0x%X%X   ", got >> 4, got & 0xF);
        const std::string detail = T(kTextVerifyError) + "\r\n\r\n" + T(kTextAddr) + addr +
                                   T(kTextBuf) + bytes + T(kTextChip) + chip_byte;
        ctx_.status.LogLine(detail);
        ctx_.sink.Show(detail);
        operation_ok_ = 0;
        return false;
      }
      position = end;
    }
    if (s != link::kReading && position < capacity) {
      // The read phase ended before the whole chip arrived: the bytes not
      // received were never compared.
      Fail(kTextVerifyError);
      return false;
    }
  }
  // Every byte compared; let the engine finish its phase.
  while (ctx_.engine.Poll() == link::kReading) Pause();
  ctx_.status.SetProgress(100);
  ctx_.status.ShowInfo(T(kTextVerifyOk) + Elapsed(start_tick_));
  operation_ok_ = 1;
  return true;
}

bool ChipOperations::DetectChip() {
  ctx_.status.LogLine(T(kTextDetectChip));
  if (BusyOrUnlinked()) return false;
  start_tick_ = ctx_.clock.Now();
  ctx_.engine.SetChip(selected_);
  std::uint8_t manufacturer = 0, device = 0;
  detected_ids_.reset();
  if (!ctx_.engine.ReadId(manufacturer, device)) {
    ctx_.status.ShowError(T(kTextDetectError));
    ctx_.sink.Show(T(kTextDetectErrorBox));
    return false;
  }
  detected_ids_.emplace(manufacturer, device);
  ctx_.status.SetProgress(100);
  char ids[64];
  std::snprintf(ids, sizeof ids, "ManufacturerID:%X\r\nDeviceID:%X", manufacturer, device);
  std::optional<ChipRecord> found;
  if (!(manufacturer == 0xFF && device == 0xFF)) found = database_.FindByIds(manufacturer, device);
  if (!found) {
    ctx_.status.ShowError(T(kTextUnknownChip));
    ctx_.sink.Show(T(kTextUnknownChip) + ids);
    ctx_.status.LogLine(ids);
    return false;
  }
  selected_ = *found;
  if (on_chip_detected) on_chip_detected(selected_);
  const std::string result =
      T(kTextChipType) + " " + NameOf(selected_) + "   " + "\r\n(" + T(kTextChipTypeNote) + ")";
  ctx_.status.ShowInfo(result + Elapsed(start_tick_));
  ctx_.sink.Show(result);
  return true;
}

bool ChipOperations::Auto() {
  const Millis auto_start = ctx_.clock.Now();
  verify_mismatch_.reset();
  ctx_.status.LogLine(T(kTextAuto));
  if (BusyOrUnlinked()) return false;
  if (selected_.type == static_cast<std::uint32_t>(ChipType::kSpiFlash)) {
    if (!EraseChip()) return false;
  }
  if (!WriteChip()) return false;
  if (!VerifyChip()) return false;
  ctx_.status.ShowInfo(T(kTextVerifyOk) + Elapsed(auto_start));
  return true;
}

bool ChipOperations::Dispatch(int command_id) {
  bool (ChipOperations::*op)() = nullptr;
  switch (command_id) {
    case kCmdAuto: op = &ChipOperations::Auto; break;
    case kCmdChipErase: op = &ChipOperations::EraseChip; break;
    case kCmdWriteChip: op = &ChipOperations::WriteChip; break;
    case kCmdReadChip: op = &ChipOperations::ReadChip; break;
    case kCmdVerifyChip: op = &ChipOperations::VerifyChip; break;
    case kCmdDetectChip: op = &ChipOperations::DetectChip; break;
    default: return false;
  }
  if (running_) {
    Busy();
    return true;
  }
  running_ = true;
  (this->*op)();
  running_ = false;
  return true;
}

}  // namespace romwright::app
