#pragma once
// The data buffer every chip image passes through: 16 MiB, filled with 0xFF,
// and one change mark per byte (bit (address AND 7) of mark byte address/8)
// for the bytes the user changed. Only the first "view length" bytes count:
// the capacity of the selected chip.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace romwright::app {

inline constexpr std::uint32_t kDataBufferSize = 16777216;
inline constexpr std::uint32_t kChangeMarkSize = kDataBufferSize / 8;

class DataBuffer {
 public:
  // Allocates both blocks (buffer 0xFF, marks clear); nullptr when the memory
  // is not there, which the window reports as "Memory overflow!".
  static std::unique_ptr<DataBuffer> Create();

  std::span<std::uint8_t> Bytes() { return {data_.get(), kDataBufferSize}; }
  std::span<const std::uint8_t> Bytes() const { return {data_.get(), kDataBufferSize}; }
  std::uint8_t* Data() { return data_.get(); }
  const std::uint8_t* Data() const { return data_.get(); }
  // The first view-length bytes.
  std::span<std::uint8_t> View() { return Bytes().first(view_length_); }
  std::span<const std::uint8_t> View() const { return Bytes().first(view_length_); }

  std::uint32_t ViewLength() const { return view_length_; }
  // Cut to the buffer size.
  void SetViewLength(std::uint32_t length);

  bool Marked(std::uint32_t address) const {
    return (marks_[address >> 3] >> (address & 7)) & 1u;
  }
  void Mark(std::uint32_t address) { marks_[address >> 3] |= static_cast<std::uint8_t>(1u << (address & 7)); }
  // Sets or clears the marks of [start, start + count) (cut to the buffer).
  void MarkRange(std::uint32_t start, std::uint32_t count);
  void ClearMarks(std::uint32_t start, std::uint32_t count);
  std::span<const std::uint8_t> Marks() const { return {marks_.get(), kChangeMarkSize}; }

  // Fills the view length with 0xFF and clears its marks (before a load).
  void ClearView();

  // The 32-bit unsigned sum of the view length's bytes, and its label text
  // "CheckSum: %08XH".
  std::uint32_t Checksum() const;
  std::string ChecksumText() const;

 private:
  DataBuffer() = default;

  std::unique_ptr<std::uint8_t[]> data_;
  std::unique_ptr<std::uint8_t[]> marks_;
  std::uint32_t view_length_ = 0;
};

}  // namespace romwright::app
