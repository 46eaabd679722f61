#include "romwright/link/programmer_packets.h"

namespace romwright::link {

namespace {
void PutBigEndian32(std::vector<std::uint8_t>& p, std::uint32_t v) {
  p.push_back(static_cast<std::uint8_t>(v >> 24));
  p.push_back(static_cast<std::uint8_t>(v >> 16));
  p.push_back(static_cast<std::uint8_t>(v >> 8));
  p.push_back(static_cast<std::uint8_t>(v));
}
void PutConfig(std::vector<std::uint8_t>& p, const ChipParams& c) {
  p.push_back(c.cfg0);
  p.push_back(c.cfg1);
  p.push_back(c.cfg2);
  p.push_back(c.cfg3);
}
}  // namespace

std::vector<std::uint8_t> ReadPacket(const ChipParams& p, std::uint32_t address,
                                     std::uint32_t length) {
  std::vector<std::uint8_t> packet{kCmdRead, 0x0A, p.type_code};
  PutBigEndian32(packet, address);
  PutBigEndian32(packet, length);
  PutConfig(packet, p);
  return packet;
}

std::vector<std::uint8_t> WritePacket(const ChipParams& p, std::uint32_t address,
                                      std::uint32_t length, std::uint16_t page_size) {
  std::vector<std::uint8_t> packet{kCmdWrite, 0x0C, p.type_code};
  PutBigEndian32(packet, address);
  PutBigEndian32(packet, length);
  packet.push_back(static_cast<std::uint8_t>(page_size >> 8));
  packet.push_back(static_cast<std::uint8_t>(page_size));
  PutConfig(packet, p);
  return packet;
}

std::vector<std::uint8_t> ChipCommandPacket(CommandCode code, const ChipParams& p) {
  return {code, static_cast<std::uint8_t>(code == kCmdErase ? 0x01 : 0x00), p.type_code};
}

std::vector<std::uint8_t> InfoPacket(CommandCode code) { return {code, 0x00}; }

std::vector<std::uint8_t> BootPacket(std::uint32_t length) {
  std::vector<std::uint8_t> packet(23, 0);
  packet[0] = kCmdBoot;
  for (std::size_t i = 0; i < 16; ++i) packet[1 + i] = static_cast<std::uint8_t>(kBootText[i]);
  packet[17] = 0x00;
  for (std::size_t i = 0; i < 4; ++i) packet[18 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 22; ++i) sum = static_cast<std::uint8_t>(sum + packet[i]);
  packet[22] = static_cast<std::uint8_t>(0x100 - sum);
  return packet;
}

}  // namespace romwright::link
