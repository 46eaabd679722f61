#pragma once
// The simulated programmer: a device on the simulated USB bus that answers the
// programmer's command protocol on two byte channels, holds one chip, and
// reports its firmware version, serial number and self test. A firmware update
// takes it through its boot mode: the normal firmware leaves the bus on a BOOT
// command and comes back as the boot loader, which takes the image and comes
// back with the normal firmware.
//
// Transfers take the time the configured link rate needs, measured on the
// clock, in packets of the bulk endpoints' size. Faults are injected on
// request: foreign, short and long reply packets, read phases that end early,
// data of an abandoned read phase that still comes, a device that stops
// answering, a lost link.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/programmer_usb.h"
#include "romwright/link/chip_record.h"
#include "sim/programmer/sim_chip.h"

namespace sim::programmer {

struct SimProgrammerOptions {
  std::uint32_t bytes_per_second = 0;  // link rate in both directions; 0: no limit
  // The programmer's transfer buffer: while the host is not asking, the link
  // goes on filling it, so a host that comes late finds up to this many bytes
  // ready.
  std::uint32_t buffer_bytes = 4096;
  // Largest packet of the bulk endpoints. A read that asks for a number of
  // bytes that is no whole number of packets and meets a longer packet
  // overflows, and the rest of that packet is lost.
  std::uint32_t packet_bytes = 64;
  std::string version = "FPR7100 V2.10 2026-03-02";
  std::string serial = "FPR71000421";
  // The self test report; bytes 14 and 15 "ok" mean the hardware passed.
  std::string self_test_report = "Self-test V1: ok";
  // Busy time of a chip erase: a fixed part and a part per KiB of capacity.
  std::uint32_t erase_base_ms = 50;
  std::uint32_t erase_ms_per_kib = 1;
  // Time the programmer is off the bus while it changes between its normal
  // firmware and its boot loader.
  std::uint32_t reenumerate_ms = 1000;
};

class SimProgrammer final : public platform::ProgrammerUsb {
 public:
  SimProgrammer(platform::Clock& clock, const romwright::ChipRecord& chip,
                SimProgrammerOptions options = {});
  ~SimProgrammer() override;

  // platform::ProgrammerUsb
  std::optional<std::string> Find() override;
  std::unique_ptr<platform::ProgrammerChannels> Open(const std::string& location) override;

  // The chip in the socket.
  void InsertChip(const romwright::ChipRecord& chip);
  std::vector<std::uint8_t> ChipContents() const;
  void SetChipContents(const std::vector<std::uint8_t>& contents);
  romwright::ChipRecord ChipInSocket() const;

  // Faults on request.
  // `count` packets of `length` bytes that answer no command (their first byte
  // is no command code) come before the next reply.
  void InjectForeignPackets(int count, std::size_t length = 3);
  void ShortenNextReply();                 // the next reply is only its code byte
  void LengthenNextReply(std::size_t extra);  // the next reply has `extra` bytes more
  // A data phase the host stops reading is not dropped at once when the next
  // command comes: up to `bytes` more of it still come before that reply.
  void KeepAbandonedData(std::uint32_t bytes);
  void EndReadPhasesAfter(std::optional<std::uint32_t> bytes);  // short final packet
  void SetSilent(bool silent);             // commands are taken, never answered
  // Channels opened from now on cannot be claimed (another program holds
  // them, or the endpoint is missing).
  void RefuseChannels(bool write, bool read);
  void Unplug();                           // the link is lost until Plug
  void Plug();
  // Comes on the bus at `when` on the clock, in its boot loader when
  // `boot_mode` (as a programmer whose update was cut short).
  void PlugAt(platform::Clock::Millis when, bool boot_mode);
  void SetLinkRate(std::uint32_t bytes_per_second);
  // The programmer leaves the bus and comes back as its boot loader, as after
  // an update that broke off: it then answers only the boot handshake.
  void EnterBootMode();

  // What the programmer saw.
  int CommandCount() const;                // command packets received
  std::vector<std::vector<std::uint8_t>> CommandLog() const;
  bool InBootMode() const;
  std::vector<std::uint8_t> FirmwareImage() const;  // the last image taken
  int FirmwareUpdates() const;

  struct Core;  // shared with the open channels

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace sim::programmer
