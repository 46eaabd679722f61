#include <gtest/gtest.h>

#include "romwright/data/buffer_edit.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/hex_view_model.h"

namespace romwright::app {
namespace {

class BufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buffer_ = DataBuffer::Create();
    ASSERT_TRUE(buffer_);
  }
  std::uint8_t* d() { return buffer_->Data(); }
  std::unique_ptr<DataBuffer> buffer_;
};

TEST_F(BufferTest, StartsErasedAndSumsTheViewLength) {
  EXPECT_EQ(d()[0], 0xFF);
  EXPECT_EQ(d()[kDataBufferSize - 1], 0xFF);
  EXPECT_EQ(buffer_->Checksum(), 0u);
  buffer_->SetViewLength(kDataBufferSize);
  // 16 MiB of 0xFF overflows nothing in 32 bits: 0xFF000000.
  EXPECT_EQ(buffer_->ChecksumText(), "CheckSum: FF000000H");
  buffer_->SetViewLength(3);
  d()[3] = 0x10;
  EXPECT_EQ(buffer_->Checksum(), 3u * 0xFF);
  buffer_->SetViewLength(kDataBufferSize + 5);
  EXPECT_EQ(buffer_->ViewLength(), kDataBufferSize);
}

TEST_F(BufferTest, ChangeMarksAreOneBitPerByte) {
  buffer_->Mark(9);
  EXPECT_EQ(buffer_->Marks()[1], 0x02);
  buffer_->MarkRange(5, 20);  // 5..24 across whole and partial mark bytes
  for (std::uint32_t a = 0; a < 30; ++a) EXPECT_EQ(buffer_->Marked(a), a >= 5 && a < 25) << a;
  buffer_->ClearMarks(7, 10);
  for (std::uint32_t a = 0; a < 30; ++a) EXPECT_EQ(buffer_->Marked(a), (a >= 5 && a < 7) || (a >= 17 && a < 25)) << a;
  buffer_->MarkRange(kDataBufferSize - 3, 100);  // cut at the buffer's end
  EXPECT_TRUE(buffer_->Marked(kDataBufferSize - 1));
}

TEST_F(BufferTest, FillTakesHexFieldsAndStopsAtTheViewLength) {
  buffer_->SetViewLength(4096);
  EXPECT_EQ(BufferFill(*buffer_, "10", "100000", "5a"), EditResult::kDone);
  EXPECT_EQ(d()[15], 0xFF);
  EXPECT_FALSE(buffer_->Marked(15));
  for (std::uint32_t a : {16u, 2000u, 4095u}) {
    EXPECT_EQ(d()[a], 0x5A) << a;
    EXPECT_TRUE(buffer_->Marked(a)) << a;
  }
  EXPECT_EQ(d()[4096], 0xFF);
  EXPECT_FALSE(buffer_->Marked(4096));
  // Empty fields read as 0: one... no bytes filled at address 0.
  EXPECT_EQ(BufferFill(*buffer_, "", "", ""), EditResult::kDone);
  EXPECT_EQ(d()[0], 0xFF);
  EXPECT_EQ(BufferFill(*buffer_, "0", "2", ""), EditResult::kDone);
  EXPECT_EQ(d()[1], 0x00);
  EXPECT_EQ(d()[2], 0xFF);
  EXPECT_EQ(BufferFill(*buffer_, "1000", "1", "00"), EditResult::kStartAddressError);
  EXPECT_EQ(BufferFill(*buffer_, "0G", "1", "00"), EditResult::kAddressFormatError);
  EXPECT_EQ(BufferFill(*buffer_, "0", "1", "100"), EditResult::kAddressFormatError);
  EXPECT_EQ(BufferFill(*buffer_, "0", "1000000", "1"), EditResult::kAddressFormatError);
  EXPECT_EQ(d()[0], 0x00);
}

TEST_F(BufferTest, ByteSwapExchangesPairsAndClearsMarks) {
  buffer_->SetViewLength(5);
  for (std::uint8_t i = 0; i < 6; ++i) d()[i] = i;
  buffer_->MarkRange(0, 5);
  ByteSwap(*buffer_);
  EXPECT_EQ((std::vector<int>(d(), d() + 6)), (std::vector<int>{1, 0, 3, 2, 5, 4}));
  EXPECT_FALSE(buffer_->Marked(0));
  EXPECT_FALSE(buffer_->Marked(4));
}

TEST_F(BufferTest, AddressLocationChecksFormatAndRange) {
  EXPECT_EQ(AddressLocation("000FFF", 4096).result, EditResult::kDone);
  EXPECT_EQ(AddressLocation("000fff", 4096).address, 0xFFFu);
  EXPECT_EQ(AddressLocation("001000", 4096).result, EditResult::kStartAddressError);
  EXPECT_EQ(AddressLocation("", 4096).result, EditResult::kAddressFormatError);
  EXPECT_EQ(AddressLocation("12 4", 4096).result, EditResult::kAddressFormatError);
  EXPECT_EQ(AddressLocation("1234567", kDataBufferSize).result, EditResult::kAddressFormatError);
  EXPECT_TRUE(IsHexFieldChar('c'));
  EXPECT_FALSE(IsHexFieldChar('g'));
}

class HexViewTest : public BufferTest {
 protected:
  // Pixel of the middle of cell (column, row).
  static int X(int column) { return HexViewModel::ColumnX(column) + 3; }
  static int Y(int row) { return HexViewModel::RowY(row) + 5; }
};

TEST_F(HexViewTest, RowsShowWholeRowsOfTheViewLength) {
  buffer_->SetViewLength(40);  // two whole rows and a partial one
  HexViewModel view(*buffer_);
  d()[0x11] = 'A';
  d()[0x12] = 0x2F;
  buffer_->Mark(0x11);
  const auto row = view.Row(2);
  ASSERT_TRUE(row.shown);
  EXPECT_EQ(row.address, "000010 ");
  EXPECT_EQ(row.bytes[1].hex, "41");
  EXPECT_EQ(row.bytes[1].ascii, 'A');
  EXPECT_EQ(row.bytes[2].ascii, '.');
  EXPECT_EQ(row.bytes[3].ascii, '.');  // 0xFF
  EXPECT_TRUE(row.bytes[1].changed);
  EXPECT_FALSE(row.bytes[2].changed);
  EXPECT_FALSE(view.Row(3).shown);
  EXPECT_FALSE(view.Row(0).shown);
  EXPECT_EQ(HexViewModel::AsciiOf('z'), 'z');
  EXPECT_EQ(HexViewModel::AsciiOf('{'), '.');
  EXPECT_EQ(HexViewModel::AsciiOf('0'), '0');
  EXPECT_EQ(HexViewModel::AsciiOf('/'), '.');
}

TEST_F(HexViewTest, ClicksMapToNibblesAndBytes) {
  buffer_->SetViewLength(4096);
  HexViewModel view(*buffer_);
  view.GoToAddress(0x123);
  // Row 0, the address columns and anything right of the ASCII area change nothing.
  EXPECT_FALSE(view.Click(X(10), Y(0)));
  EXPECT_FALSE(view.Click(X(6), Y(3)));
  EXPECT_FALSE(view.Click(X(71), Y(3)));
  EXPECT_FALSE(view.Click(X(10), Y(25)));
  EXPECT_EQ(view.CursorNibble(), 2u * 0x123);
  view.GoToAddress(0);
  ASSERT_TRUE(view.Click(X(7), Y(1)));
  EXPECT_EQ(view.CursorNibble(), 0u);
  ASSERT_TRUE(view.Click(X(8), Y(1)));
  EXPECT_EQ(view.CursorNibble(), 1u);
  ASSERT_TRUE(view.Click(X(9), Y(1)));  // the blank after a pair is the next byte
  EXPECT_EQ(view.CursorNibble(), 2u);
  ASSERT_TRUE(view.Click(X(7 + 3 * 15 + 1), Y(2)));
  EXPECT_EQ(view.CursorNibble(), 32u + 31u);
  EXPECT_EQ(view.CursorArea(), HexViewModel::Area::kHex);
  ASSERT_TRUE(view.Click(X(60), Y(3)));
  EXPECT_EQ(view.CursorArea(), HexViewModel::Area::kAscii);
  EXPECT_EQ(view.CursorAddress(), 32u + 5u);
  EXPECT_EQ(view.SelectionFirst(), 37u);
  EXPECT_EQ(view.SelectionLast(), 37u);
  // Past the view length the cursor stops at it.
  buffer_->SetViewLength(20);
  view.LengthChanged();
  ASSERT_TRUE(view.Click(X(60), Y(5)));
  EXPECT_EQ(view.CursorAddress(), 20u);
}

TEST_F(HexViewTest, TypingReplacesNibblesAndCharactersAndMarksThem) {
  buffer_->SetViewLength(32);
  HexViewModel view(*buffer_);
  ASSERT_TRUE(view.Click(X(7 + 3 * 15), Y(1)));  // byte 15, high nibble
  EXPECT_TRUE(view.Type('a'));
  EXPECT_EQ(d()[15], 0xAF);
  EXPECT_TRUE(view.Type('3'));
  EXPECT_EQ(d()[15], 0xA3);
  EXPECT_TRUE(buffer_->Marked(15));
  EXPECT_EQ(view.CursorNibble(), 32u);  // on to the next row's byte
  EXPECT_FALSE(view.Type('g'));
  EXPECT_EQ(d()[16], 0xFF);
  ASSERT_TRUE(view.Click(X(55 + 15), Y(2)));  // ASCII of the last byte
  EXPECT_FALSE(view.Type('{'));
  EXPECT_FALSE(view.Type('\x1f'));
  EXPECT_TRUE(view.Type(' '));
  EXPECT_EQ(d()[31], 0x20);
  EXPECT_TRUE(buffer_->Marked(31));
  // The cursor now stands past the view: typing writes nothing beyond it.
  EXPECT_EQ(view.CursorAddress(), 32u);
  EXPECT_FALSE(view.Type('x'));
  EXPECT_EQ(d()[32], 0xFF);
}

TEST_F(HexViewTest, SelectionFollowsADrag) {
  buffer_->SetViewLength(64);
  HexViewModel view(*buffer_);
  ASSERT_TRUE(view.Click(X(7 + 3 * 14), Y(1)));
  ASSERT_TRUE(view.Drag(X(7 + 3 * 2), Y(2)));
  EXPECT_EQ(view.SelectionFirst(), 14u);
  EXPECT_EQ(view.SelectionLast(), 18u);
  const auto r1 = view.Row(1);
  EXPECT_FALSE(r1.bytes[13].selected);
  EXPECT_TRUE(r1.bytes[14].selected);
  EXPECT_TRUE(r1.bytes[14].blank_selected);
  EXPECT_FALSE(r1.bytes[15].blank_selected);  // never after byte 15
  const auto r2 = view.Row(2);
  EXPECT_TRUE(r2.bytes[2].selected);
  EXPECT_FALSE(r2.bytes[2].blank_selected);  // nor after the last selected byte
  EXPECT_FALSE(r2.bytes[3].selected);
}

TEST_F(HexViewTest, ScrollingStaysWithinItsLimits) {
  HexViewModel view(*buffer_);
  buffer_->SetViewLength(399);
  EXPECT_EQ(view.MaxTopRow(), 0u);
  buffer_->SetViewLength(400);
  EXPECT_EQ(view.MaxTopRow(), 1u);
  buffer_->SetViewLength(65536);
  EXPECT_EQ(view.ScrollStep(), 1u);
  EXPECT_EQ(view.MaxTopRow(), 4096u - 24u);
  view.LineUp();
  EXPECT_EQ(view.TopRow(), 0u);
  view.PageDown();
  view.LineDown();
  EXPECT_EQ(view.TopRow(), 2u);
  view.Wheel(5);
  EXPECT_EQ(view.TopRow(), 0u);
  buffer_->SetViewLength(kDataBufferSize);
  EXPECT_EQ(view.ScrollStep(), 16u);
  view.PageDown();
  EXPECT_EQ(view.TopRow(), 16u);
  view.Thumb(view.ScrollRange() + 10);
  EXPECT_EQ(view.TopRow(), view.MaxTopRow());
  view.GoToAddress(0x123456);
  EXPECT_EQ(view.TopRow(), 0x12345u);
  EXPECT_EQ(view.CursorNibble(), 2u * 0x123456);
  view.GoToAddress(kDataBufferSize - 1);
  EXPECT_EQ(view.TopRow(), view.MaxTopRow());
  // A smaller chip pulls the top row and the cursor back inside.
  buffer_->SetViewLength(512);
  view.LengthChanged();
  EXPECT_EQ(view.TopRow(), 32u - 24u);
  EXPECT_EQ(view.CursorAddress(), 512u);
}

}  // namespace
}  // namespace romwright::app

namespace romwright::app {
namespace {

TEST_F(HexViewTest, CursorKeysMoveWithinTheViewAndScroll) {
  buffer_->SetViewLength(1024);  // 64 rows
  HexViewModel view(*buffer_);
  view.Navigate(HexViewModel::Key::kLeft);
  EXPECT_EQ(view.CursorNibble(), 0u);
  view.Navigate(HexViewModel::Key::kRight);
  EXPECT_EQ(view.CursorNibble(), 1u);
  for (int i = 0; i < 24; ++i) view.Navigate(HexViewModel::Key::kDown);
  EXPECT_EQ(view.CursorNibble(), 1u + 24u * 32u);
  EXPECT_EQ(view.TopRow(), 1u);  // row 24 is now the last row shown
  view.Navigate(HexViewModel::Key::kEnd);
  EXPECT_EQ(view.CursorAddress(), 1023u);
  EXPECT_EQ(view.TopRow(), view.MaxTopRow());
  view.Navigate(HexViewModel::Key::kPageDown);
  EXPECT_EQ(view.CursorAddress(), 1023u);  // never past the last byte
  ASSERT_TRUE(view.Click(X(60), Y(1)));  // ASCII area moves by whole bytes
  const auto at = view.CursorAddress();
  view.Navigate(HexViewModel::Key::kRight);
  EXPECT_EQ(view.CursorNibble(), 2u * (at + 1));
  view.Navigate(HexViewModel::Key::kHome);
  EXPECT_EQ(view.CursorNibble(), 0u);
  EXPECT_EQ(view.TopRow(), 0u);
}

}  // namespace
}  // namespace romwright::app
