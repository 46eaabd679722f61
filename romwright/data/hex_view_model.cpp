#include "romwright/data/hex_view_model.h"

#include <algorithm>
#include <cstdio>

#include "romwright/data/data_buffer.h"

namespace romwright::app {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

int NibbleOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::uint32_t HexViewModel::ScrollStep() const { return buffer_.ViewLength() <= 65536 ? 1 : 16; }

std::uint32_t HexViewModel::MaxTopRow() const {
  const std::uint32_t rows = buffer_.ViewLength() / 16;
  return rows * 16 < 400 ? 0 : rows - kDataRows;
}

void HexViewModel::ScrollTo(std::int64_t row) {
  top_row_ = static_cast<std::uint32_t>(std::clamp<std::int64_t>(row, 0, MaxTopRow()));
}

void HexViewModel::LengthChanged() {
  ScrollTo(top_row_);
  const std::uint32_t last = 2 * buffer_.ViewLength();
  cursor_ = std::min(cursor_, last);
  anchor_ = std::min(anchor_, last);
  end_ = std::min(end_, last);
}

std::uint32_t HexViewModel::SelectionFirst() const { return std::min(anchor_, end_) / 2; }
std::uint32_t HexViewModel::SelectionLast() const { return std::max(anchor_, end_) / 2; }

HexViewModel::RowLayout HexViewModel::Row(int screen_row) const {
  RowLayout row;
  if (screen_row < 1 || screen_row > kDataRows) return row;
  const std::uint64_t index = static_cast<std::uint64_t>(top_row_) + static_cast<std::uint64_t>(screen_row) - 1;
  if (index >= buffer_.ViewLength() / 16) return row;
  row.shown = true;
  const auto start = static_cast<std::uint32_t>(index * 16);
  char text[16];
  std::snprintf(text, sizeof text, "%-.6X ", static_cast<unsigned>(start));
  row.address = text;
  const std::uint32_t first = SelectionFirst();
  const std::uint32_t last = SelectionLast();
  for (std::uint32_t j = 0; j < 16; ++j) {
    auto& cell = row.bytes[j];
    const std::uint32_t a = start + j;
    const std::uint8_t b = buffer_.Data()[a];
    cell.address = a;
    cell.hex = {kHexDigits[b >> 4], kHexDigits[b & 0xF]};
    cell.ascii = AsciiOf(b);
    cell.changed = buffer_.Marked(a);
    cell.selected = a >= first && a <= last;
    cell.blank_selected = cell.selected && a != last && j != 15;
  }
  return row;
}

bool HexViewModel::HitTest(int x, int y, std::uint32_t& nibble, Area& area) const {
  const int c = (x - kMargin) / kCellWidth;
  const int r = (y - kMargin) / kCellHeight;
  if (x < kMargin || y < kMargin || c < kFirstHexColumn || r < 1 || r > kDataRows || c > kLastAsciiColumn) {
    return false;
  }
  const std::uint64_t row = static_cast<std::uint64_t>(top_row_) + static_cast<std::uint64_t>(r) - 1;
  std::uint64_t n;
  if (c < kFirstAsciiColumn) {
    area = Area::kHex;
    n = 32 * row + static_cast<std::uint64_t>((2 * c - 12) / 3);
  } else {
    area = Area::kAscii;
    n = 2 * (16 * row + static_cast<std::uint64_t>(c - kFirstAsciiColumn));
  }
  nibble = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, 2ull * buffer_.ViewLength()));
  return true;
}

bool HexViewModel::Click(int x, int y) {
  std::uint32_t nibble = 0;
  Area area = Area::kHex;
  if (!HitTest(x, y, nibble, area)) return false;
  area_ = area;
  cursor_ = anchor_ = end_ = nibble;
  return true;
}

bool HexViewModel::Drag(int x, int y) {
  std::uint32_t nibble = 0;
  Area area = Area::kHex;
  if (!HitTest(x, y, nibble, area)) return false;
  cursor_ = end_ = nibble;
  return true;
}

bool HexViewModel::Type(char c) {
  const std::uint32_t address = cursor_ / 2;
  if (address >= buffer_.ViewLength()) return false;  // the cursor stands past the last byte
  std::uint8_t& byte = buffer_.Data()[address];
  if (area_ == Area::kHex) {
    const int v = NibbleOf(c);
    if (v < 0) return false;
    byte = (cursor_ & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | v)
                         : static_cast<std::uint8_t>((byte & 0x0F) | (v << 4));
    cursor_ += 1;
  } else {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7A) return false;
    byte = u;
    cursor_ = 2 * (address + 1);
  }
  buffer_.Mark(address);
  anchor_ = end_ = cursor_;
  return true;
}

void HexViewModel::ScrollToCursor() {
  const std::uint32_t row = cursor_ / 32;
  if (row < top_row_) {
    ScrollTo(row);
  } else if (row >= top_row_ + kDataRows) {
    ScrollTo(static_cast<std::int64_t>(row) - kDataRows + 1);
  }
}

void HexViewModel::Navigate(Key key) {
  const std::int64_t step = area_ == Area::kHex ? 1 : 2;  // nibbles
  const std::int64_t last = 2 * static_cast<std::int64_t>(buffer_.ViewLength());
  std::int64_t n = cursor_;
  switch (key) {
    case Key::kLeft: n -= step; break;
    case Key::kRight: n += step; break;
    case Key::kUp: n -= 32; break;
    case Key::kDown: n += 32; break;
    case Key::kPageUp: n -= 32 * kDataRows; break;
    case Key::kPageDown: n += 32 * kDataRows; break;
    case Key::kHome: n = 0; break;
    case Key::kEnd: n = last - step; break;
  }
  n = std::clamp<std::int64_t>(n, 0, std::max<std::int64_t>(last - step, 0));
  if (area_ == Area::kAscii) n &= ~std::int64_t{1};
  cursor_ = anchor_ = end_ = static_cast<std::uint32_t>(n);
  ScrollToCursor();
}

void HexViewModel::GoToAddress(std::uint32_t address) {
  cursor_ = anchor_ = end_ = 2 * address;
  ScrollTo(address / 16);
}

}  // namespace romwright::app
