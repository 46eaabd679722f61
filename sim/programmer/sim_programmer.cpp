#include "sim/programmer/sim_programmer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "romwright/link/programmer_packets.h"

namespace sim::programmer {

namespace {

using platform::UsbTransferResult;
using platform::UsbTransferStatus;
using Millis = platform::Clock::Millis;

using romwright::link::kBootText;
constexpr std::size_t kBootPacketSize = 23;

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& p, std::size_t at) {
  return (std::uint32_t{p[at]} << 24) | (std::uint32_t{p[at + 1]} << 16) |
         (std::uint32_t{p[at + 2]} << 8) | std::uint32_t{p[at + 3]};
}

// One transfer's worth of bytes waiting on the read channel. A data phase is a
// stream read from the chip as the host takes it.
struct Message {
  std::vector<std::uint8_t> bytes;
  std::size_t offset = 0;
  std::size_t taken = 0;  // bytes sent so far; packets start at multiples of the packet size
  bool chip_stream = false;
  bool chip_answers = true;  // false: the chip does not answer the selected bus
  std::uint32_t address = 0;
  std::uint32_t remaining = 0;

  std::size_t Left() const { return chip_stream ? remaining : bytes.size() - offset; }
};

enum class Phase { kCommand, kChipData, kImage };

}  // namespace

struct SimProgrammer::Core {
  Core(platform::Clock& c, const romwright::ChipRecord& record, SimProgrammerOptions o)
      : clock(c), options(std::move(o)), chip(record) {}

  platform::Clock& clock;
  SimProgrammerOptions options;
  mutable std::mutex mutex;
  std::condition_variable_any changed;
  SimChip chip;

  // Bus state. Leaving the bus starts a new generation; channels of an older
  // generation see the device as gone.
  bool unplugged = false;
  int generation = 1;
  std::optional<Millis> back_on_bus_at;
  bool boot_mode = false;

  std::deque<Message> to_host;
  Phase phase = Phase::kCommand;
  std::uint32_t data_address = 0;
  std::uint32_t data_remaining = 0;
  bool data_to_chip = true;
  std::vector<std::uint8_t> image;

  Millis erase_done_at{0};

  int foreign_packets = 0;
  std::size_t foreign_length = 3;
  bool shorten_next = false;
  std::size_t lengthen_next = 0;
  std::uint32_t keep_abandoned = 0;
  std::optional<std::uint32_t> read_phase_limit;
  bool silent = false;
  bool refuse_write = false;
  bool refuse_read = false;

  std::int64_t link_free_us = 0;

  std::vector<std::vector<std::uint8_t>> commands;
  std::vector<std::uint8_t> firmware;
  int firmware_updates = 0;

  bool OnBus() {
    if (unplugged) return false;
    if (back_on_bus_at) {
      if (clock.Now() < *back_on_bus_at) return false;
      back_on_bus_at.reset();
    }
    return true;
  }
  bool Valid(int gen) { return gen == generation && OnBus(); }

  void LeaveBus(bool to_boot_mode) {
    ++generation;
    to_host.clear();
    phase = Phase::kCommand;
    boot_mode = to_boot_mode;
    back_on_bus_at = clock.Now() + Millis{options.reenumerate_ms};
    changed.notify_all();
  }

  // Waits for the link to carry `bytes` bytes. Returns false when stopped.
  bool Throttle(std::unique_lock<std::mutex>& lock, std::size_t bytes, std::stop_token stop) {
    if (options.bytes_per_second == 0 || bytes == 0) return true;
    const std::int64_t now_us = clock.Now().count() * 1000;
    const std::int64_t buffered_us =
        static_cast<std::int64_t>(options.buffer_bytes) * 1000000 / options.bytes_per_second;
    const std::int64_t start = std::max(now_us - buffered_us, link_free_us);
    const std::int64_t end =
        start + static_cast<std::int64_t>(bytes) * 1000000 / options.bytes_per_second;
    link_free_us = end;
    lock.unlock();
    const bool reached = clock.WaitUntil(Millis{(end + 999) / 1000}, stop);
    lock.lock();
    return reached;
  }

  void Reply(std::vector<std::uint8_t> bytes) {
    for (; foreign_packets > 0; --foreign_packets) {
      Message foreign;
      foreign.bytes.assign(std::max<std::size_t>(foreign_length, 1), 0x00);
      foreign.bytes[0] = static_cast<std::uint8_t>(bytes[0] ^ 0x80);
      to_host.push_back(std::move(foreign));
    }
    if (shorten_next) {
      bytes.resize(1);
      shorten_next = false;
    }
    if (lengthen_next > 0) {
      bytes.resize(bytes.size() + lengthen_next, 0x00);
      lengthen_next = 0;
    }
    Message m;
    m.bytes = std::move(bytes);
    to_host.push_back(std::move(m));
    changed.notify_all();
  }

  void StartChipStream(std::uint32_t address, std::uint32_t length, bool answers) {
    Message m;
    m.chip_stream = true;
    m.chip_answers = answers;
    m.address = address;
    m.remaining = read_phase_limit ? std::min(length, *read_phase_limit) : length;
    to_host.push_back(std::move(m));
    changed.notify_all();
  }

  void TakeData(std::span<const std::uint8_t> data) {
    const std::size_t n = std::min<std::size_t>(data.size(), data_remaining);
    if (phase == Phase::kChipData) {
      if (data_to_chip) chip.Program(data_address, data.first(n));
    } else {
      image.insert(image.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    }
    data_address += static_cast<std::uint32_t>(n);
    data_remaining -= static_cast<std::uint32_t>(n);
    if (data_remaining > 0) return;
    if (phase == Phase::kImage) {
      firmware = image;
      ++firmware_updates;
      phase = Phase::kCommand;
      LeaveBus(false);  // restarts with the new firmware
      return;
    }
    phase = Phase::kCommand;
  }

  // A new command ends an unfinished data phase; what the programmer keeps of
  // it still goes to the host first.
  void DropUnsentData() {
    std::optional<Message> kept;
    if (keep_abandoned > 0 && !to_host.empty() && to_host.front().chip_stream) {
      Message& m = to_host.front();
      kept.emplace();
      const std::uint32_t n = std::min(m.remaining, keep_abandoned);
      for (std::uint32_t i = 0; i < n; ++i) {
        kept->bytes.push_back(m.chip_answers ? chip.ReadByte(m.address + i) : 0xFF);
      }
    }
    to_host.clear();
    if (kept && !kept->bytes.empty()) to_host.push_back(std::move(*kept));
  }

  void HandleCommand(const std::vector<std::uint8_t>& p) {
    commands.push_back(p);
    DropUnsentData();
    if (silent || p.empty()) return;
    const std::uint8_t code = p[0];
    const bool bus_matches = p.size() > 2 && p[2] == chip.TypeCode();
    if (boot_mode) {
      if (code == 0xF2) HandleBoot(p);
      return;  // the boot loader knows nothing else
    }
    switch (code) {
      case 0x11:  // READ
        if (p.size() < 15) return;
        Reply({0x11, 0x01, 0x00});
        StartChipStream(BigEndian32(p, 3), BigEndian32(p, 7), bus_matches);
        return;
      case 0x12:  // WRITE
        if (p.size() < 17) return;
        Reply({0x12, 0x01, 0x01});
        phase = Phase::kChipData;
        data_address = BigEndian32(p, 3);
        data_remaining = BigEndian32(p, 7);
        data_to_chip = bus_matches;
        if (data_remaining == 0) phase = Phase::kCommand;
        return;
      case 0x13: {  // STATUS
        const bool busy = clock.Now() < erase_done_at;
        Reply({0x13, 0x01, static_cast<std::uint8_t>(busy ? 1 : 0)});
        return;
      }
      case 0x14:  // ERASE
        if (bus_matches && chip.IsSpiFlash()) {
          chip.EraseAll();
          erase_done_at = clock.Now() + Millis{options.erase_base_ms} +
                          Millis{std::int64_t{options.erase_ms_per_kib} *
                                 (chip.Record().capacity / 1024)};
          Reply({0x14, 0x01, 0x01});
        } else {
          Reply({0x14, 0x01, 0x00});
        }
        return;
      case 0x15: {  // READ ID: only SPI flash carries ID bytes
        std::uint8_t manufacturer = 0xFF;
        std::uint8_t device = 0xFF;
        if (bus_matches && chip.IsSpiFlash()) {
          manufacturer = chip.Record().manufacturer_id;
          device = chip.Record().device_id;
        }
        Reply({0x15, 0x02, manufacturer, device, 0x00});
        return;
      }
      case 0x17: {  // VERSION
        std::vector<std::uint8_t> r(102, 0);
        r[0] = 0x17;
        r[1] = 0x01;
        std::memcpy(r.data() + 2, options.version.data(), std::min<std::size_t>(options.version.size(), 100));
        Reply(std::move(r));
        return;
      }
      case 0x18: {  // SERIAL
        std::vector<std::uint8_t> r(20, 0);
        r[0] = 0x18;
        r[1] = 0x01;
        std::memcpy(r.data() + 2, options.serial.data(), std::min<std::size_t>(options.serial.size(), 18));
        Reply(std::move(r));
        return;
      }
      case 0xF3: {  // SELF TEST: the reply, then the 1000-byte report
        Reply({0xF3, 0x01});
        Message report;
        report.bytes.assign(1000, 0);
        std::memcpy(report.bytes.data(), options.self_test_report.data(),
                    std::min<std::size_t>(options.self_test_report.size(), 1000));
        to_host.push_back(std::move(report));
        changed.notify_all();
        return;
      }
      case 0xF2:  // BOOT: the normal firmware hands over to the boot loader
        if (BootPacketValid(p)) LeaveBus(true);
        return;
      default:
        return;  // unknown commands are not answered
    }
  }

  static bool BootPacketValid(const std::vector<std::uint8_t>& p) {
    if (p.size() < kBootPacketSize) return false;
    if (std::memcmp(p.data() + 1, kBootText, 16) != 0 || p[17] != 0) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kBootPacketSize; ++i) sum = static_cast<std::uint8_t>(sum + p[i]);
    return sum == 0;
  }

  void HandleBoot(const std::vector<std::uint8_t>& p) {
    std::vector<std::uint8_t> r(19, 0);
    r[0] = 0xF2;
    std::memcpy(r.data() + 1, kBootText, 16);
    const bool ok = BootPacketValid(p) && BigEndian32(p, 18) > 0;
    r[18] = ok ? 0x01 : 0x00;
    Reply(std::move(r));
    if (!ok) return;
    phase = Phase::kImage;
    image.clear();
    data_address = 0;
    data_remaining = BigEndian32(p, 18);
  }
};

namespace {

class SimChannels final : public platform::ProgrammerChannels {
 public:
  SimChannels(std::shared_ptr<SimProgrammer::Core> core, int generation, std::string location,
              bool write_open, bool read_open)
      : core_(std::move(core)),
        generation_(generation),
        location_(std::move(location)),
        write_open_(write_open),
        read_open_(read_open) {}

  std::string Location() const override { return location_; }
  bool IsOpen(platform::ProgrammerChannel channel) const override {
    return channel == platform::ProgrammerChannel::kWrite ? write_open_ : read_open_;
  }

  UsbTransferResult Write(std::span<const std::uint8_t> data, std::chrono::milliseconds,
                          std::stop_token stop) override {
    if (!write_open_) return {UsbTransferStatus::kError, 0};
    auto& c = *core_;
    std::unique_lock lock(c.mutex);
    if (!c.Valid(generation_)) return {UsbTransferStatus::kNoDevice, 0};
    if (!c.Throttle(lock, data.size(), stop)) return {UsbTransferStatus::kCancelled, 0};
    if (!c.Valid(generation_)) return {UsbTransferStatus::kNoDevice, 0};
    if (c.phase == Phase::kCommand) {
      c.HandleCommand(std::vector<std::uint8_t>(data.begin(), data.end()));
    } else {
      c.TakeData(data);
    }
    return {UsbTransferStatus::kOk, data.size()};
  }

  UsbTransferResult Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout,
                         std::stop_token stop) override {
    if (!read_open_) return {UsbTransferStatus::kError, 0};
    auto& c = *core_;
    std::stop_callback wake(stop, [&c] {
      std::lock_guard guard(c.mutex);
      c.changed.notify_all();
    });
    const auto deadline = c.clock.Now() + timeout;
    std::unique_lock lock(c.mutex);
    for (;;) {
      if (!c.Valid(generation_)) return {UsbTransferStatus::kNoDevice, 0};
      if (stop.stop_requested()) return {UsbTransferStatus::kCancelled, 0};
      if (!c.to_host.empty()) {
        const std::size_t n = std::min(data.size(), c.to_host.front().Left());
        if (!c.Throttle(lock, n, stop)) return {UsbTransferStatus::kCancelled, 0};
        if (!c.Valid(generation_)) return {UsbTransferStatus::kNoDevice, 0};
        if (c.to_host.empty()) continue;  // a new command dropped it meanwhile
        return Take(data);
      }
      if (timeout.count() > 0) {
        // Looks again every millisecond of the clock until the time-out.
        if (c.clock.Now() >= deadline) return {UsbTransferStatus::kTimedOut, 0};
        lock.unlock();
        c.clock.WaitUntil(std::min(deadline, c.clock.Now() + Millis{1}), stop);
        lock.lock();
      } else {
        c.changed.wait(lock, [&] {
          return stop.stop_requested() || !c.to_host.empty() || generation_ != c.generation ||
                 c.unplugged;
        });
      }
    }
  }

 private:
  // One transfer into `room` from the first message: whole packets while they
  // fit, a short last packet ends it, a packet longer than the room left
  // overflows and its rest is lost.
  UsbTransferResult Take(std::span<std::uint8_t> room) {
    auto& c = *core_;
    Message& m = c.to_host.front();
    const std::size_t packet = std::max<std::size_t>(c.options.packet_bytes, 1);
    const std::size_t n = std::min(room.size(), m.Left());
    const bool overflow = n < m.Left() && n % packet != 0;
    Advance(m, room.first(n));
    if (overflow) Advance(m, {}, std::min(m.Left(), packet - m.taken % packet));
    if (m.Left() == 0) c.to_host.pop_front();
    return {overflow ? UsbTransferStatus::kOverflow : UsbTransferStatus::kOk, n};
  }

  // Sends the next bytes of `m` into `out`, or drops `drop` of them.
  void Advance(Message& m, std::span<std::uint8_t> out, std::size_t drop = 0) {
    const std::size_t n = out.empty() ? drop : out.size();
    if (m.chip_stream) {
      for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = m.chip_answers ? core_->chip.ReadByte(m.address + static_cast<std::uint32_t>(i)) : 0xFF;
      }
      m.address += static_cast<std::uint32_t>(n);
      m.remaining -= static_cast<std::uint32_t>(n);
    } else {
      if (!out.empty()) std::memcpy(out.data(), m.bytes.data() + m.offset, n);
      m.offset += n;
    }
    m.taken += n;
  }

  std::shared_ptr<SimProgrammer::Core> core_;
  int generation_;
  std::string location_;
  bool write_open_;
  bool read_open_;
};

}  // namespace

SimProgrammer::SimProgrammer(platform::Clock& clock, const romwright::ChipRecord& chip,
                             SimProgrammerOptions options)
    : core_(std::make_shared<Core>(clock, chip, std::move(options))) {}

SimProgrammer::~SimProgrammer() {
  std::lock_guard lock(core_->mutex);
  core_->unplugged = true;
  core_->changed.notify_all();
}

std::optional<std::string> SimProgrammer::Find() {
  std::lock_guard lock(core_->mutex);
  if (!core_->OnBus()) return std::nullopt;
  return "sim:" + std::to_string(core_->generation);
}

std::unique_ptr<platform::ProgrammerChannels> SimProgrammer::Open(const std::string& location) {
  std::lock_guard lock(core_->mutex);
  if (!core_->OnBus() || location != "sim:" + std::to_string(core_->generation)) return nullptr;
  return std::make_unique<SimChannels>(core_, core_->generation, location, !core_->refuse_write,
                                       !core_->refuse_read);
}

void SimProgrammer::InsertChip(const romwright::ChipRecord& chip) {
  std::lock_guard lock(core_->mutex);
  core_->chip = SimChip(chip);
}

std::vector<std::uint8_t> SimProgrammer::ChipContents() const {
  std::lock_guard lock(core_->mutex);
  return core_->chip.Contents();
}

void SimProgrammer::SetChipContents(const std::vector<std::uint8_t>& contents) {
  std::lock_guard lock(core_->mutex);
  auto& mine = core_->chip.Contents();
  std::fill(mine.begin(), mine.end(), std::uint8_t{0xFF});
  std::copy_n(contents.begin(), std::min(contents.size(), mine.size()), mine.begin());
}

romwright::ChipRecord SimProgrammer::ChipInSocket() const {
  std::lock_guard lock(core_->mutex);
  return core_->chip.Record();
}

void SimProgrammer::InjectForeignPackets(int count, std::size_t length) {
  std::lock_guard lock(core_->mutex);
  core_->foreign_packets = count;
  core_->foreign_length = length;
}

void SimProgrammer::LengthenNextReply(std::size_t extra) {
  std::lock_guard lock(core_->mutex);
  core_->lengthen_next = extra;
}

void SimProgrammer::KeepAbandonedData(std::uint32_t bytes) {
  std::lock_guard lock(core_->mutex);
  core_->keep_abandoned = bytes;
}

void SimProgrammer::ShortenNextReply() {
  std::lock_guard lock(core_->mutex);
  core_->shorten_next = true;
}

void SimProgrammer::EndReadPhasesAfter(std::optional<std::uint32_t> bytes) {
  std::lock_guard lock(core_->mutex);
  core_->read_phase_limit = bytes;
}

void SimProgrammer::SetSilent(bool silent) {
  std::lock_guard lock(core_->mutex);
  core_->silent = silent;
}

void SimProgrammer::RefuseChannels(bool write, bool read) {
  std::lock_guard lock(core_->mutex);
  core_->refuse_write = write;
  core_->refuse_read = read;
}

void SimProgrammer::Unplug() {
  std::lock_guard lock(core_->mutex);
  core_->unplugged = true;
  ++core_->generation;
  core_->to_host.clear();
  core_->phase = Phase::kCommand;
  core_->changed.notify_all();
}

void SimProgrammer::Plug() {
  std::lock_guard lock(core_->mutex);
  core_->unplugged = false;
  core_->changed.notify_all();
}

void SimProgrammer::PlugAt(platform::Clock::Millis when, bool boot_mode) {
  std::lock_guard lock(core_->mutex);
  core_->LeaveBus(boot_mode);
  core_->unplugged = false;
  core_->back_on_bus_at = when;
}

void SimProgrammer::SetLinkRate(std::uint32_t bytes_per_second) {
  std::lock_guard lock(core_->mutex);
  core_->options.bytes_per_second = bytes_per_second;
}

void SimProgrammer::EnterBootMode() {
  std::lock_guard lock(core_->mutex);
  core_->LeaveBus(true);
}

int SimProgrammer::CommandCount() const {
  std::lock_guard lock(core_->mutex);
  return static_cast<int>(core_->commands.size());
}

std::vector<std::vector<std::uint8_t>> SimProgrammer::CommandLog() const {
  std::lock_guard lock(core_->mutex);
  return core_->commands;
}

bool SimProgrammer::InBootMode() const {
  std::lock_guard lock(core_->mutex);
  return core_->boot_mode;
}

std::vector<std::uint8_t> SimProgrammer::FirmwareImage() const {
  std::lock_guard lock(core_->mutex);
  return core_->firmware;
}

int SimProgrammer::FirmwareUpdates() const {
  std::lock_guard lock(core_->mutex);
  return core_->firmware_updates;
}

}  // namespace sim::programmer
