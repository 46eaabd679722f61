#pragma once
// Whole transfers at an offset of an open file or device, retried over
// interruptions and short counts.

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::linux_host {

// Reads until `data` is full or the end is reached; the count read, -1 on an
// error.
long long ReadFully(int fd, std::uint64_t offset, std::span<std::uint8_t> data);
// True when every byte was written.
bool WriteFully(int fd, std::uint64_t offset, std::span<const std::uint8_t> data);

}  // namespace platform::linux_host
