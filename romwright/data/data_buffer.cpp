#include "romwright/data/data_buffer.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <numeric>

#include "platform/large_pages.h"

namespace romwright::app {

namespace {

// Calls `byte_op` on each whole mark byte and `bit_op` on each address at the
// ragged ends of [start, end).
template <typename ByteOp, typename BitOp>
void ForMarks(std::uint32_t start, std::uint32_t end, ByteOp byte_op, BitOp bit_op) {
  std::uint32_t a = start;
  for (; a < end && (a & 7) != 0; ++a) bit_op(a);
  for (; a + 8 <= end; a += 8) byte_op(a >> 3);
  for (; a < end; ++a) bit_op(a);
}

}  // namespace

std::unique_ptr<DataBuffer> DataBuffer::Create() {
  std::unique_ptr<DataBuffer> buffer(new (std::nothrow) DataBuffer());
  if (!buffer) return nullptr;
  buffer->data_.reset(new (std::nothrow) std::uint8_t[kDataBufferSize]);
  buffer->marks_.reset(new (std::nothrow) std::uint8_t[kChangeMarkSize]);
  if (!buffer->data_ || !buffer->marks_) return nullptr;
  platform::PreferLargePages(buffer->data_.get(), kDataBufferSize);
  platform::PreferLargePages(buffer->marks_.get(), kChangeMarkSize);
  std::fill_n(buffer->data_.get(), kDataBufferSize, std::uint8_t{0xFF});
  std::fill_n(buffer->marks_.get(), kChangeMarkSize, std::uint8_t{0});
  return buffer;
}

void DataBuffer::SetViewLength(std::uint32_t length) { view_length_ = std::min(length, kDataBufferSize); }

void DataBuffer::MarkRange(std::uint32_t start, std::uint32_t count) {
  const std::uint32_t end = start + std::min(count, kDataBufferSize - std::min(start, kDataBufferSize));
  ForMarks(start, end, [this](std::uint32_t i) { marks_[i] = 0xFF; }, [this](std::uint32_t a) { Mark(a); });
}

void DataBuffer::ClearMarks(std::uint32_t start, std::uint32_t count) {
  const std::uint32_t end = start + std::min(count, kDataBufferSize - std::min(start, kDataBufferSize));
  ForMarks(
      start, end, [this](std::uint32_t i) { marks_[i] = 0; },
      [this](std::uint32_t a) { marks_[a >> 3] &= static_cast<std::uint8_t>(~(1u << (a & 7))); });
}

void DataBuffer::ClearView() {
  std::fill_n(data_.get(), view_length_, std::uint8_t{0xFF});
  ClearMarks(0, view_length_);
}

std::uint32_t DataBuffer::Checksum() const {
  const auto view = View();
  return std::accumulate(view.begin(), view.end(), std::uint32_t{0});
}

std::string DataBuffer::ChecksumText() const {
  char text[32];
  std::snprintf(text, sizeof text, "CheckSum: %08XH", static_cast<unsigned>(Checksum()));
  return text;
}

}  // namespace romwright::app
