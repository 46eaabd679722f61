#pragma once
// The byte sequence that scrambles the chip database file. A multiplicative
// generator: state = state x 16807, kept to its low 31 bits; each value is
// state + (state >> 16), of which the low 8 bits count. A stored byte is the
// plain byte plus the next value plus kDatabaseByteOffset (modulo 256). The
// generator restarts from kDatabaseSeed for every file, and one sequence runs
// over the header and then over all records.

#include <cstdint>

namespace romwright::app {

// Constants of the database format: a file written for this program uses these.
inline constexpr std::uint32_t kDatabaseSeed = 0x2F6B1D53;
inline constexpr std::uint8_t kDatabaseByteOffset = 0x3C;

class DatabaseScrambler {
 public:
  explicit DatabaseScrambler(std::uint32_t seed = kDatabaseSeed) : state_(seed & 0x7FFFFFFFu) {}

  std::uint8_t Next() {
    state_ = static_cast<std::uint32_t>((static_cast<std::uint64_t>(state_) * 16807u) & 0x7FFFFFFFu);
    return static_cast<std::uint8_t>(state_ + (state_ >> 16));
  }
  std::uint8_t Scramble(std::uint8_t plain) {
    return static_cast<std::uint8_t>(plain + Next() + kDatabaseByteOffset);
  }
  std::uint8_t Unscramble(std::uint8_t stored) {
    return static_cast<std::uint8_t>(stored - Next() - kDatabaseByteOffset);
  }

 private:
  std::uint32_t state_;
};

}  // namespace romwright::app
