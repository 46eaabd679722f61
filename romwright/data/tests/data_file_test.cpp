#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "romwright/data/data_buffer.h"
#include "romwright/data/data_file.h"
#include "romwright/settings/language_table.h"
#include "romwright/testing/test_files.h"

namespace romwright::app {
namespace {

// Intel HEX records written the plain way, for the reader to take apart.
std::string Record(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  std::uint8_t sum = 0;
  for (auto b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  bytes.push_back(static_cast<std::uint8_t>(-sum));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line = ":";
  for (auto b : bytes) {
    line += kDigits[b >> 4];
    line += kDigits[b & 15];
  }
  return line + "\r\n";
}
std::string Ext(std::uint8_t type, std::uint16_t value) {
  return Record(type, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
const std::string kEnd = ":00000001FF\r\n";

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buffer_ = DataBuffer::Create();
    ASSERT_TRUE(buffer_);
    texts_.SetLanguage("English");
    dir_ = testing::FreshDir();
  }
  // Loads `text` as a file of that name with the view length given.
  LoadOutcome Load(const std::string& name, const std::string& text, std::uint32_t view) {
    buffer_->SetViewLength(view);
    testing::WriteText(dir_ / name, text);
    return LoadFile(*buffer_, (dir_ / name).string(), sink_, texts_);
  }
  std::uint8_t At(std::uint32_t a) const { return buffer_->Data()[a]; }

  std::unique_ptr<DataBuffer> buffer_;
  LanguageTable texts_;
  platform::RecordingSink sink_;
  std::filesystem::path dir_;
};

TEST_F(DataFileTest, BinaryLoadsTheViewLengthAndSaysWhenTheFileIsLonger) {
  std::string image(4097, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(Load("a.bin", image, 4096));
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"File is too long!\nthe file's data end at 00001001H (4097 "
                                                    "bytes); the chip holds 00001000H (4096 bytes)"});
  EXPECT_EQ(At(4095), static_cast<std::uint8_t>(4095 * 7));
  EXPECT_EQ(At(4096), 0xFF);  // beyond the view nothing is written
  // A shorter file leaves the rest 0xFF, with the marks cleared.
  buffer_->Mark(10);
  sink_.Clear();
  ASSERT_TRUE(Load("b.bin", "AB", 4096));
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(At(0), 'A');
  EXPECT_EQ(At(2), 0xFF);
  EXPECT_EQ(At(4095), 0xFF);
  EXPECT_FALSE(buffer_->Marked(10));
  // Exactly the view length is not too long; a missing file fails.
  ASSERT_TRUE(Load("c.bin", std::string(4096, 'x'), 4096));
  EXPECT_TRUE(sink_.Texts().empty());
  buffer_->SetViewLength(4096);
  EXPECT_FALSE(LoadFile(*buffer_, (dir_ / "missing.bin").string(), sink_, texts_));
  // "...HEX" and "...hex" choose the HEX reader; other spellings do not.
  EXPECT_TRUE(IsIntelHexPath("a.HEX"));
  EXPECT_TRUE(IsIntelHexPath("a.hex"));
  EXPECT_FALSE(IsIntelHexPath("a.Hex"));
  EXPECT_FALSE(IsIntelHexPath("ex"));
}

TEST_F(DataFileTest, HexRecordsAreCheckedStrictly) {
  const std::string good = Record(0, 0x0010, {1, 2, 3}) + kEnd;
  ASSERT_TRUE(Load("a.hex", "junk before\n" + good, 4096));
  EXPECT_EQ(At(0x10), 1);
  EXPECT_EQ(At(0x12), 3);
  EXPECT_EQ(At(0x13), 0xFF);

  // Lower-case digits fail the load.
  const std::string with_lower = Record(0, 0, {0xAB}) + kEnd;
  std::string l = with_lower;
  for (auto& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_FALSE(Load("l.hex", l, 4096));
  EXPECT_EQ(At(0), 0xFF);
  // Checksum off by one, a short record, an unknown type, no end record.
  std::string bad_sum = good;
  bad_sum[good.find("\r") - 1] = bad_sum[good.find("\r") - 1] == '0' ? '1' : '0';
  EXPECT_FALSE(Load("s.hex", bad_sum, 4096));
  EXPECT_FALSE(Load("t.hex", ":0300100001", 4096));
  EXPECT_FALSE(Load("u.hex", Record(6, 0, {}) + kEnd, 4096));
  EXPECT_FALSE(Load("v.hex", Record(0, 0, {1}), 4096));
  EXPECT_FALSE(Load("w.hex", Record(4, 0, {1}) + kEnd, 4096));  // extended record of one byte
  // A file that fails leaves the buffer as it was: no half image to write.
  ASSERT_TRUE(Load("p.hex", Record(0, 0, {0x11, 0x22}) + kEnd, 4096));
  buffer_->Mark(1);
  EXPECT_FALSE(Load("x.hex", Record(0, 0, {0x42}) + ":zz", 4096));
  EXPECT_EQ(At(0), 0x11);
  EXPECT_EQ(At(1), 0x22);
  EXPECT_TRUE(buffer_->Marked(1));
  // Types 03 and 05 are skipped; nothing after the end record counts.
  ASSERT_TRUE(Load("y.hex", Record(3, 0, {1, 2, 3, 4}) + Record(5, 0, {0, 0, 1, 0}) + Record(0, 0, {9}) + kEnd +
                                "garbage",
                   4096));
  EXPECT_EQ(At(0), 9);
}

TEST_F(DataFileTest, AFailedLoadSaysWhichRecordAndWhy) {
  const std::string good = Record(0, 0, {1, 2}) + Record(0, 2, {3, 4});
  struct Case {
    std::string text;
    std::string fault;
  } cases[] = {
      {good + ":0300100001", "line 3: the record ends early"},
      {good + Record(0, 4, {5}).substr(0, 3) + "g" + Record(0, 4, {5}).substr(4) + kEnd,
       "line 3: \"g\" is not an upper-case hexadecimal digit"},
      {good + ":0100040005F7\r\n" + kEnd, "line 3: the checksum does not match"},
      {good + Record(6, 0, {}) + kEnd, "line 3: record type 06 is not known"},
      {"\r\n" + Record(4, 0, {1}) + kEnd, "line 2: an extended address record holds 1 bytes, not 2"},
      {good, "the file has no end record (it may be cut short)"},
  };
  for (const auto& c : cases) {
    const LoadOutcome r = Load("bad.hex", c.text, 4096);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_EQ(r.fault, c.fault) << c.text;
  }
  const LoadOutcome missing = LoadFile(*buffer_, (dir_ / "missing.bin").string(), sink_, texts_);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.fault, (dir_ / "missing.bin").string() + " cannot be opened: No such file or directory");
}

TEST_F(DataFileTest, HexDataGoToTheirOwnChipAddress) {
  // A file for chip address 0x10000 whose first record is its type 04.
  ASSERT_TRUE(Load("a.hex", Ext(4, 1) + Record(0, 0, {0xA1, 0xA2}) + kEnd, 0x20000));
  EXPECT_EQ(At(0), 0xFF);
  EXPECT_EQ(At(0x10000), 0xA1);
  EXPECT_EQ(At(0x10001), 0xA2);
  EXPECT_TRUE(sink_.Texts().empty());
  // Data for 0x100000 on a 1 MiB chip lie beyond it: too long, nothing lands.
  const LoadOutcome r = Load("b.hex", Ext(4, 0x10) + Record(0, 0, {0xB0}) + kEnd, 0x100000);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.moved_down, 0u);
  EXPECT_EQ(At(0), 0xFF);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"File is too long!\nthe file's data end at 00100001H (1048577 "
                                                    "bytes); the chip holds 00100000H (1048576 bytes)"});
  // An image linked for 0x08000000 lies wholly above any chip: it is moved
  // down by the upper address of its lowest record, whichever comes first.
  sink_.Clear();
  const LoadOutcome m = Load("c.hex", Ext(4, 0x0801) + Record(0, 0, {0xC1}) + Ext(4, 0x0800) +
                                          Record(0, 0x0100, {0xC0}) + kEnd,
                             0x20000);
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.moved_down, 0x08000000u);
  EXPECT_EQ(m.lowest, 0x08000100u);
  EXPECT_EQ(At(0x100), 0xC0);
  EXPECT_EQ(At(0x10000), 0xC1);
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(MovedDownText(m), "The file's data start at 08000100H, beyond the chip: moved down by 08000000H");
  // Streamed and in memory alike.
  const std::string text = Ext(4, 0x0800) + Record(0, 0x10, {0xD0}) + kEnd;
  std::vector<std::uint8_t> whole(64, 0xFF);
  std::vector<std::uint8_t> streamed(64, 0xFF);
  const auto a = ReadIntelHex(Bytes(text), whole);
  std::istringstream in(text);
  const auto b = ReadIntelHex(in, streamed);
  EXPECT_EQ(a.moved_down, 0x08000000u);
  EXPECT_EQ(b.moved_down, 0x08000000u);
  EXPECT_EQ(whole[0x10], 0xD0);
  EXPECT_EQ(whole, streamed);
}

TEST_F(DataFileTest, ASegmentFirstIsTheBaseAndUpperAddressesAreTheChips) {
  // First record type 02 for segment 0x1000: the data land at position 0.
  ASSERT_TRUE(Load("a.hex", Ext(2, 0x1000) + Record(0, 0, {0x11}) + Ext(2, 0x1001) + Record(0, 0, {0x22}) + kEnd,
                   4096));
  EXPECT_EQ(At(0), 0x11);
  EXPECT_EQ(At(16), 0x22);
  // Type 04 segments above 64 KiB keep their distance instead of overlapping.
  ASSERT_TRUE(Load("b.hex", Ext(4, 0) + Record(0, 0, {0xA0}) + Ext(4, 1) + Record(0, 0, {0xA1}) + Ext(4, 2) +
                                Record(0, 0xFFFF, {0xA2}) + kEnd,
                   0x30000));
  EXPECT_EQ(At(0), 0xA0);
  EXPECT_EQ(At(0x10000), 0xA1);
  EXPECT_EQ(At(0x2FFFF), 0xA2);
  // Data first (as objcopy writes it): the base stays 0.
  ASSERT_TRUE(Load("c.hex", Record(0, 0, {0xB0}) + Ext(4, 1) + Record(0, 4, {0xB1}) + kEnd, 0x20000));
  EXPECT_EQ(At(0), 0xB0);
  EXPECT_EQ(At(0x10004), 0xB1);
  // A segment below the first is invalid; upper addresses may go down.
  EXPECT_FALSE(Load("e.hex", Ext(2, 0x0800) + Record(0, 0, {1}) + Ext(2, 0x07FF) + Record(0, 0, {2}) + kEnd, 4096));
  ASSERT_TRUE(Load("g.hex", Ext(4, 1) + Record(0, 0, {1}) + Ext(4, 0) + Record(0, 0, {2}) + kEnd, 0x20000));
  EXPECT_EQ(At(0), 2);
  EXPECT_EQ(At(0x10000), 1);
  // Data before any extended record, then one: base 0, so a low offset is fine.
  ASSERT_TRUE(Load("f.hex", Record(0, 0, {1}) + Ext(2, 0) + Record(0, 1, {2}) + kEnd, 4096));
  EXPECT_EQ(At(1), 2);
}

TEST_F(DataFileTest, HexDataBeyondTheViewIsCutAndOnlyRealDataIsTooLong) {
  // A record that runs past the view length is cut there.
  ASSERT_TRUE(Load("a.hex", Record(0, 4094, {1, 2, 3, 4}) + kEnd, 4096));
  ASSERT_EQ(sink_.Texts().size(), 1u);
  EXPECT_TRUE(sink_.Texts()[0].starts_with("File is too long!\nthe file's data end at 00001002H (4098 bytes)"));
  EXPECT_EQ(At(4094), 1);
  EXPECT_EQ(At(4095), 2);
  EXPECT_EQ(At(4096), 0xFF);
  // Trailing 0xFF bytes beyond the view do not count.
  sink_.Clear();
  ASSERT_TRUE(Load("b.hex", Record(0, 4094, {1, 2, 0xFF, 0xFF}) + Record(0, 8000, {0xFF}) + kEnd, 4096));
  EXPECT_TRUE(sink_.Texts().empty());
  // Nor do 0xFF bytes inside the view after the last real byte.
  ASSERT_TRUE(Load("c.hex", Record(0, 0, std::vector<std::uint8_t>(32, 0xFF)) + kEnd, 16));
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(DataFileTest, ASixteenMebibyteHexImageLoadsByteForByteHoweverItStarts) {
  std::vector<std::uint8_t> image(kDataBufferSize);
  std::uint32_t x = 7;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 23);
  }
  // Written the fast way: 16-byte data records, a type 04 record at every
  // 64 KiB boundary (also at 0 when `leading_ext`).
  const auto write = [&](bool leading_ext) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(image.size() / 16 * 45 + 65536, '\0');
    std::size_t n = 0;
    const auto put = [&](std::uint8_t b, std::uint8_t& sum) {
      text[n++] = kDigits[b >> 4];
      text[n++] = kDigits[b & 15];
      sum = static_cast<std::uint8_t>(sum + b);
    };
    for (std::uint32_t a = 0; a < image.size(); a += 16) {
      if ((a & 0xFFFF) == 0 && (a != 0 || leading_ext)) {
        const auto ext = Ext(4, static_cast<std::uint16_t>(a >> 16));
        std::copy(ext.begin(), ext.end(), text.begin() + static_cast<std::ptrdiff_t>(n));
        n += ext.size();
      }
      std::uint8_t sum = 0;
      text[n++] = ':';
      put(16, sum);
      put(static_cast<std::uint8_t>(a >> 8), sum);
      put(static_cast<std::uint8_t>(a), sum);
      put(0, sum);
      for (std::uint32_t i = 0; i < 16; ++i) put(image[a + i], sum);
      std::uint8_t ignored = 0;
      put(static_cast<std::uint8_t>(-sum), ignored);
      text[n++] = '\r';
      text[n++] = '\n';
    }
    text.resize(n);
    return text + kEnd;
  };
  // In memory: the file round trip is covered above, and 46 MB on disk twice
  // would only measure the disk.
  for (const bool leading_ext : {true, false}) {
    buffer_->SetViewLength(kDataBufferSize);
    buffer_->ClearView();
    const std::string text = write(leading_ext);
    const auto r = ReadIntelHex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, buffer_->View());
    ASSERT_TRUE(r.ok);
    EXPECT_LE(r.end, kDataBufferSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), buffer_->Data())) << leading_ext;
  }
}

TEST_F(DataFileTest, ANameEndingInHexSavesIntelHexThatLoadsBackTheSame) {
  const std::uint32_t size = 0x20010;
  buffer_->SetViewLength(size);
  for (std::uint32_t i = 0; i < size; ++i) buffer_->Data()[i] = static_cast<std::uint8_t>(i * 13 + (i >> 16));
  const std::vector<std::uint8_t> image(buffer_->Data(), buffer_->Data() + size);
  ASSERT_TRUE(SaveFile(*buffer_, (dir_ / "out.hex").string()));
  const std::string text = testing::ReadText(dir_ / "out.hex");
  // 32 data bytes a record, the upper address before 0x10000 and 0x20000
  // only, the end record last.
  EXPECT_TRUE(text.starts_with(Record(0, 0, std::vector<std::uint8_t>(image.begin(), image.begin() + 32))));
  EXPECT_NE(text.find(Ext(4, 1) + Record(0, 0, std::vector<std::uint8_t>(image.begin() + 0x10000,
                                                                         image.begin() + 0x10020))),
            std::string::npos);
  EXPECT_NE(text.find(Ext(4, 2)), std::string::npos);
  EXPECT_EQ(text.find(Ext(4, 0)), std::string::npos);
  EXPECT_TRUE(text.ends_with(Record(0, 0, std::vector<std::uint8_t>(image.end() - 16, image.end())) + kEnd));
  EXPECT_EQ(std::count(text.begin(), text.end(), ':'), 0x20010 / 32 + 1 + 2 + 1);

  std::fill_n(buffer_->Data(), size, std::uint8_t{0});
  ASSERT_TRUE(LoadFile(*buffer_, (dir_ / "out.hex").string(), sink_, texts_));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), buffer_->Data()));
  EXPECT_TRUE(sink_.Texts().empty());
  // "HEX" too; any other name is a binary image.
  ASSERT_TRUE(SaveFile(*buffer_, (dir_ / "OUT.HEX").string()));
  EXPECT_EQ(testing::ReadText(dir_ / "OUT.HEX"), text);
  ASSERT_TRUE(SaveFile(*buffer_, (dir_ / "out.Hex").string()));
  EXPECT_EQ(testing::ReadText(dir_ / "out.Hex").size(), size);
}

TEST_F(DataFileTest, SaveWritesTheViewLengthAndReportsFailure) {
  buffer_->SetViewLength(100);
  buffer_->Data()[99] = 0x12;
  ASSERT_TRUE(SaveFile(*buffer_, (dir_ / "out.bin").string()));
  const auto saved = testing::ReadText(dir_ / "out.bin");
  ASSERT_EQ(saved.size(), 100u);
  EXPECT_EQ(static_cast<std::uint8_t>(saved[99]), 0x12);
  EXPECT_FALSE(SaveFile(*buffer_, (dir_ / "no" / "out.bin").string()));
}

TEST(IntelHexReader, ReportsTheLoadedEnd) {
  std::vector<std::uint8_t> view(64, 0xFF);
  const auto r = ReadIntelHex(Bytes(Record(0, 8, {1, 0xFF}) + kEnd), view);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.end, 9u);
  EXPECT_FALSE(ReadIntelHex(Bytes(""), view).ok);
}

// The stream reader takes the file in blocks: a record split between two of
// them, at any character, reads as it does from the file in memory, with the
// same bytes, end, line and fault.
TEST(IntelHexReader, ARecordSplitBetweenReadBlocksReadsAsInMemory) {
  const std::string data = Record(0, 0x20, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC});
  const std::string bad_digit = data.substr(0, data.size() - 4) + "g" + data.substr(data.size() - 3);
  struct Case {
    std::string tail;
    bool ok;
    std::string fault;
  } cases[] = {
      {data + kEnd, true, ""},
      {bad_digit + kEnd, false, "\"g\" is not an upper-case hexadecimal digit"},
      {data.substr(0, data.size() - 5), false, "the record ends early"},
  };
  // Lines of text before the record, ending at every character around the
  // end of the first block.
  for (std::size_t lead = kIntelHexBlock - data.size() - 2; lead <= kIntelHexBlock + 1; ++lead) {
    std::string head(lead, 'x');
    for (std::size_t i = 99; i < lead; i += 100) head[i] = '\n';
    const auto lines = static_cast<std::uint64_t>(std::count(head.begin(), head.end(), '\n'));
    for (const auto& c : cases) {
      const std::string text = head + c.tail;
      std::vector<std::uint8_t> in_memory(64, 0xFF), streamed(64, 0xFF);
      const IntelHexResult a = ReadIntelHex(Bytes(text), in_memory);
      std::istringstream stream(text);
      const IntelHexResult b = ReadIntelHex(stream, streamed);
      ASSERT_EQ(a.ok, c.ok) << lead << " " << c.tail;
      ASSERT_EQ(b.ok, c.ok) << lead << " " << c.tail;
      ASSERT_EQ(b.fault, c.fault) << lead;
      ASSERT_EQ(a.fault, c.fault) << lead;
      ASSERT_EQ(b.end, a.end) << lead;
      ASSERT_EQ(streamed, in_memory) << lead;
      if (c.ok) {
        EXPECT_EQ(b.end, 0x2Cu);
        EXPECT_EQ(streamed[0x20], 0x11);
        EXPECT_EQ(streamed[0x2B], 0xCC);
      } else {
        ASSERT_EQ(b.line, lines + 1) << lead;
        ASSERT_EQ(a.line, lines + 1) << lead;
      }
    }
  }
}

}  // namespace
}  // namespace romwright::app
