#include "sim/usb/scsi_sense.h"

namespace sim::usb {

namespace {

std::uint8_t Byte(std::uint64_t value, int index) { return static_cast<std::uint8_t>(value >> (8 * index)); }

}  // namespace

std::vector<std::uint8_t> SenseData::Fixed() const {
  std::vector<std::uint8_t> s(18, 0);
  s[0] = 0x70;  // current error, fixed format
  s[2] = key & 0x0F;
  s[7] = 10;  // additional sense length
  s[12] = asc;
  s[13] = ascq;
  if (ata) {
    // Information: ERROR, STATUS, DEVICE, COUNT (7:0); command-specific
    // information: the flags, then LBA (7:0), (15:8), (23:16).
    s[3] = ata->error;
    s[4] = ata->status;
    s[5] = ata->device;
    s[6] = Byte(ata->count, 0);
    s[8] = static_cast<std::uint8_t>((ata->extend ? 0x80 : 0) | ((ata->count >> 8) != 0 ? 0x40 : 0) |
                                     ((ata->lba >> 24) != 0 ? 0x20 : 0));
    s[9] = Byte(ata->lba, 0);
    s[10] = Byte(ata->lba, 1);
    s[11] = Byte(ata->lba, 2);
  }
  return s;
}

std::vector<std::uint8_t> SenseData::Descriptor() const {
  std::vector<std::uint8_t> s(ata ? 22 : 8, 0);
  s[0] = 0x72;  // current error, descriptor format
  s[1] = key & 0x0F;
  s[2] = asc;
  s[3] = ascq;
  s[7] = static_cast<std::uint8_t>(s.size() - 8);
  if (ata) {
    // ATA Status Return: each register's upper byte before its lower one.
    s[8] = 0x09;
    s[9] = 0x0C;
    s[10] = ata->extend ? 0x01 : 0x00;
    s[11] = ata->error;
    s[12] = Byte(ata->count, 1);
    s[13] = Byte(ata->count, 0);
    for (int i = 0; i < 3; ++i) {
      s[14 + 2 * static_cast<std::size_t>(i)] = Byte(ata->lba, 3 + i);
      s[15 + 2 * static_cast<std::size_t>(i)] = Byte(ata->lba, i);
    }
    s[20] = ata->device;
    s[21] = ata->status;
  }
  return s;
}

}  // namespace sim::usb
