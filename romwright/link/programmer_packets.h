#pragma once
// The programmer's command packets, byte for byte. Numbers are big-endian.

#include <cstdint>
#include <vector>

#include "romwright/link/chip_params.h"

namespace romwright::link {

enum CommandCode : std::uint8_t {
  kCmdRead = 0x11,
  kCmdWrite = 0x12,
  kCmdStatus = 0x13,
  kCmdErase = 0x14,
  kCmdReadId = 0x15,
  kCmdVersion = 0x17,
  kCmdSerial = 0x18,
  kCmdBoot = 0xF2,
  kCmdSelfTest = 0xF3,
};

// "USB BOOT COMMAND": the text of the BOOT packet and of its reply.
inline constexpr char kBootText[] = "USB BOOT COMMAND";

std::vector<std::uint8_t> ReadPacket(const ChipParams& p, std::uint32_t address,
                                     std::uint32_t length);
std::vector<std::uint8_t> WritePacket(const ChipParams& p, std::uint32_t address,
                                      std::uint32_t length, std::uint16_t page_size);
// STATUS, ERASE and READ ID: code, one fixed byte, the type code.
std::vector<std::uint8_t> ChipCommandPacket(CommandCode code, const ChipParams& p);
// VERSION, SERIAL and SELF TEST: code and 0x00.
std::vector<std::uint8_t> InfoPacket(CommandCode code);
// BOOT for an image of `length` bytes, with its check byte.
std::vector<std::uint8_t> BootPacket(std::uint32_t length);

}  // namespace romwright::link
