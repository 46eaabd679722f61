#pragma once
// The 128-byte bridge configuration block: identifiers, strings, serial number
// and option bits, kept in the bridge's configuration slots. Signature 0x5A at
// byte 126 and an 8-bit sum of bytes 4..126 at byte 127.

#include <array>
#include <cstdint>

namespace linetool::profile {

inline constexpr std::size_t kConfigBlockSize = 128;
inline constexpr std::size_t kConfigSignatureOffset = 0x7E;
inline constexpr std::size_t kConfigChecksumOffset = 0x7F;
inline constexpr std::uint8_t kConfigSignature = 0x5A;

using ConfigBlock = std::array<std::uint8_t, kConfigBlockSize>;

}  // namespace linetool::profile
