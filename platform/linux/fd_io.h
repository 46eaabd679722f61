#pragma once
// Whole transfers at an offset of an open file or device, retried over
// interruptions and short counts; the small text files of the kernel's
// tables and sysfs.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform::linux_host {

// Reads until `data` is full or the end is reached; the count read, -1 on an
// error.
long long ReadFully(int fd, std::uint64_t offset, std::span<std::uint8_t> data);
// True when every byte was written.
bool WriteFully(int fd, std::uint64_t offset, std::span<const std::uint8_t> data);

// Makes `length` bytes at `offset` of an open block device (BLKZEROOUT) or
// regular file (fallocate: zero range, else punch hole) read as zeros
// without writing them; false when neither can.
bool ZeroRangeInPlace(int fd, std::uint64_t offset, std::uint64_t length);

// The whole text of a file, or its first line without the line end; empty
// when it cannot be read.
std::string ReadText(const std::string& path);
std::string ReadFirstLine(const std::string& path);

// True when this process may read and write the file or device node at
// `path` (its effective ids and capabilities: at once for root).
bool ReadWritable(const std::string& path);

}  // namespace platform::linux_host
