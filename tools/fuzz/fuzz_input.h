#pragma once
// FuzzInput hands out a fuzz input's bytes as the values a fuzz target
// needs: numbers, flags, choices and texts. Once the bytes run out every
// value is 0 (false, empty), so a target always ends.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  bool Empty() const { return at_ >= size_; }
  std::size_t Left() const { return size_ - at_; }

  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  bool Flag() { return (Byte() & 1) != 0; }
  // Little-endian numbers of 1 to 8 bytes.
  template <class T>
  T Number() {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::uint64_t>(Byte()) << (8 * i);
    return static_cast<T>(v);
  }
  // A number in [lo, hi].
  template <class T>
  T InRange(T lo, T hi) {
    const std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    const std::uint64_t v = Number<std::uint64_t>();
    return static_cast<T>(static_cast<std::uint64_t>(lo) + (span == UINT64_MAX ? v : v % (span + 1)));
  }
  // One byte picks one of `count` choices.
  std::size_t Choice(std::size_t count) { return count == 0 ? 0 : Byte() % count; }
  // A text of a length byte's length (at most `longest`).
  std::string Text(std::size_t longest = 255) {
    const std::size_t n = std::min<std::size_t>({Byte(), longest, Left()});
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  // `n` bytes, zero where the input ran out.
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    std::vector<std::uint8_t> out(n, 0);
    for (auto& b : out) b = Byte();
    return out;
  }
  // Whatever is left.
  std::string_view Rest() {
    const std::string_view s(reinterpret_cast<const char*>(data_ + at_), Left());
    at_ = size_;
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The whole input as text.
inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
}

// Stops the fuzzer (and fails a replay) when a property of the code under
// test does not hold: libFuzzer sees the abort as a finding and keeps the input.
inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// A folder of this process for the files a target has the code under test
// open, in memory where the host has /dev/shm, removed at exit.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path shm("/dev/shm");
    const auto base = std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
    path_ = base / (name + "." + std::to_string(::getpid()));
    std::filesystem::create_directories(path_, ec);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace fuzz
