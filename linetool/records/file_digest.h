#pragma once
// The fingerprint a record keeps of the files a run used.

#include <cstdint>
#include <span>
#include <string>

namespace linetool::records {

// SHA-256 as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace linetool::records
