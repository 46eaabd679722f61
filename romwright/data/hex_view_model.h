#pragma once
// The hex view without its widget: where each row and byte is drawn, what a
// click or a key does to the cursor and the buffer, the selection and the
// scrolling. The widget paints what RowLayout says and forwards mouse, keys
// and scroll bar here.
//
// Geometry: a character cell is 8 x 16 pixels; column c starts at x = 8c + 2
// and row r at y = 16r + 2. Row 0 is the header; rows 1-24 show 16 bytes each
// from (top row + row - 1) x 16: the address at column 0, the hex pair of
// byte j at column 7 + 3j and its character at column 55 + j.

#include <array>
#include <cstdint>
#include <string>

namespace romwright::app {

class DataBuffer;

class HexViewModel {
 public:
  static constexpr int kCellWidth = 8;
  static constexpr int kCellHeight = 16;
  static constexpr int kMargin = 2;
  static constexpr int kDataRows = 24;
  static constexpr int kFirstHexColumn = 7;
  static constexpr int kFirstAsciiColumn = 55;
  static constexpr int kLastAsciiColumn = 70;

  enum class Area { kHex, kAscii };
  // Cursor keys: by one nibble (hex) or byte (ASCII), one row, one page of
  // 24 rows, or to the first or last byte.
  enum class Key { kLeft, kRight, kUp, kDown, kPageUp, kPageDown, kHome, kEnd };

  struct ByteCell {
    std::uint32_t address = 0;
    std::string hex;       // two digits
    char ascii = '.';      // the byte for 0x30-0x7A, else "."
    bool changed = false;  // drawn in red
    bool selected = false;
    bool blank_selected = false;  // the blank after the pair takes the selection colour
  };
  struct RowLayout {
    bool shown = false;   // false past the last whole row of the view length
    std::string address;  // "%-.6X "
    std::array<ByteCell, 16> bytes{};
  };

  explicit HexViewModel(DataBuffer& buffer) : buffer_(buffer) {}

  // The view length changed (a chip was applied): keeps the top row and the
  // cursor inside.
  void LengthChanged();

  static int ColumnX(int column) { return kCellWidth * column + kMargin; }
  static int RowY(int row) { return kCellHeight * row + kMargin; }
  static char AsciiOf(std::uint8_t byte) { return byte >= 0x30 && byte <= 0x7A ? static_cast<char>(byte) : '.'; }

  // Screen row 1-24.
  RowLayout Row(int screen_row) const;

  // Mouse click at pixel (x, y); false when it lands outside the bytes.
  bool Click(int x, int y);
  // Mouse moved with the button held: the selection end follows.
  bool Drag(int x, int y);
  // A typed character; true when it changed a byte (the caller redraws with
  // the checksum).
  bool Type(char c);

  // Moves the cursor (anchor and end follow) and scrolls so it stays in view.
  void Navigate(Key key);

  // Cursor, anchor and end at `address`; top row = address / 16, limited.
  void GoToAddress(std::uint32_t address);

  // Scrolling; the top row stays between 0 and MaxTopRow().
  void LineUp() { ScrollTo(static_cast<std::int64_t>(top_row_) - 1); }
  void LineDown() { ScrollTo(static_cast<std::int64_t>(top_row_) + 1); }
  void PageUp() { ScrollTo(static_cast<std::int64_t>(top_row_) - ScrollStep()); }
  void PageDown() { ScrollTo(static_cast<std::int64_t>(top_row_) + ScrollStep()); }
  void Thumb(std::uint32_t position) { ScrollTo(static_cast<std::int64_t>(position) * ScrollStep()); }
  // Wheel notches: positive moves up by one row per notch.
  void Wheel(int notches) { ScrollTo(static_cast<std::int64_t>(top_row_) - notches); }
  // The scroll bar's range 0..ScrollRange() in steps.
  std::uint32_t ScrollRange() const { return MaxTopRow() / ScrollStep(); }
  std::uint32_t ScrollPosition() const { return top_row_ / ScrollStep(); }

  // 1 row up to a view length of 64 KiB, else 16 rows.
  std::uint32_t ScrollStep() const;
  // 0 when fewer than 400 bytes of whole rows, else view length / 16 - 24.
  std::uint32_t MaxTopRow() const;

  void ToggleCaret() { caret_visible_ = !caret_visible_; }
  bool CaretVisible() const { return caret_visible_; }

  std::uint32_t TopRow() const { return top_row_; }
  std::uint32_t CursorNibble() const { return cursor_; }
  std::uint32_t CursorAddress() const { return cursor_ / 2; }
  Area CursorArea() const { return area_; }
  // Selected bytes [first, last], inclusive.
  std::uint32_t SelectionFirst() const;
  std::uint32_t SelectionLast() const;

 private:
  void ScrollTo(std::int64_t row);
  void ScrollToCursor();
  // The nibble a click at (x, y) points at and its area; false outside.
  bool HitTest(int x, int y, std::uint32_t& nibble, Area& area) const;

  DataBuffer& buffer_;
  std::uint32_t top_row_ = 0;
  std::uint32_t cursor_ = 0;  // nibbles; even = high nibble
  std::uint32_t anchor_ = 0;
  std::uint32_t end_ = 0;
  Area area_ = Area::kHex;
  bool caret_visible_ = false;
};

}  // namespace romwright::app
