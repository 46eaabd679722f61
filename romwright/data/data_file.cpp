#include "romwright/data/data_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <fstream>
#include <istream>
#include <vector>

#include "platform/large_pages.h"
#include "platform/replace_file.h"
#include "romwright/data/data_buffer.h"
#include "romwright/settings/language_table.h"

namespace romwright::app {

namespace {

constexpr std::uint32_t kTextFileTooLong = 23;

// A hexadecimal digit's value, or kNotDigit for any other character: only
// "0"-"9" and "A"-"F" are digits.
constexpr std::uint8_t kNotDigit = 0xFF;
constexpr std::array<std::uint8_t, 256> kDigitValue = [] {
  std::array<std::uint8_t, 256> t{};
  t.fill(kNotDigit);
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
  return t;
}();

// The characters of a record after its ":": count, address, type, up to 255
// data bytes and the checksum, two digits each.
constexpr std::size_t kLongestRecord = 2 * (4 + 255 + 1);

// Characters from a file in memory.
class SpanSource {
 public:
  explicit SpanSource(std::span<const std::uint8_t> file) : file_(file) {}
  // The characters not yet taken: at least `want` of them unless the file
  // ends first.
  std::span<const std::uint8_t> Ahead(std::size_t /*want*/) { return file_.subspan(pos_); }
  void Take(std::size_t n) { pos_ += n; }
  void Rewind() { pos_ = 0; }

 private:
  std::span<const std::uint8_t> file_;
  std::size_t pos_ = 0;
};

// Characters from a stream, read in blocks, so that a file of any size is
// parsed in constant memory.
class StreamSource {
 public:
  explicit StreamSource(std::istream& in) : in_(in), block_(kIntelHexBlock) {}
  std::span<const std::uint8_t> Ahead(std::size_t want) {
    if (size_ - pos_ < want && !ended_) {
      // What is left moves to the front and the block is filled up behind it.
      std::copy(block_.begin() + static_cast<std::ptrdiff_t>(pos_), block_.begin() + static_cast<std::ptrdiff_t>(size_),
                block_.begin());
      size_ -= pos_;
      pos_ = 0;
      while (size_ < block_.size() && !ended_) {
        in_.read(reinterpret_cast<char*>(block_.data() + size_), static_cast<std::streamsize>(block_.size() - size_));
        const auto got = static_cast<std::size_t>(in_.gcount());
        size_ += got;
        if (got == 0 || !in_) ended_ = true;
      }
    }
    return std::span<const std::uint8_t>(block_).subspan(pos_, size_ - pos_);
  }
  void Take(std::size_t n) { pos_ += n; }
  void Rewind() {
    in_.clear();
    in_.seekg(0);
    pos_ = size_ = 0;
    ended_ = false;
  }

 private:
  std::istream& in_;
  std::vector<std::uint8_t> block_;
  std::size_t pos_ = 0;
  std::size_t size_ = 0;
  bool ended_ = false;
};

std::string Hex8(std::uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(v));
  return text;
}

// One record as read from the file.
struct Record {
  std::uint8_t count = 0;
  std::uint16_t address = 0;
  std::uint8_t type = 0;
  std::uint8_t check = 0;
  std::uint8_t data[255];
};

// Decodes the record in `text` (the characters after its ":") when every
// character it needs is there and a digit; the number of characters it
// took, or 0 when it is not.
std::size_t DecodeWhole(std::span<const std::uint8_t> text, Record& r) {
  if (text.size() < 8) return 0;
  const std::uint8_t* t = text.data();
  unsigned bad = 0;
  const auto pair = [&](std::size_t at) {
    const std::uint8_t hi = kDigitValue[t[at]];
    const std::uint8_t lo = kDigitValue[t[at + 1]];
    bad |= hi | lo;
    return static_cast<std::uint8_t>((hi << 4) | lo);
  };
  r.count = pair(0);
  r.address = static_cast<std::uint16_t>((pair(2) << 8) | pair(4));
  r.type = pair(6);
  // A digit's value has no bit above the low four; kNotDigit has them all.
  if ((bad & 0xF0) != 0) return 0;
  const std::size_t length = 8 + 2 * static_cast<std::size_t>(r.count) + 2;
  if (text.size() < length) return 0;
  for (unsigned i = 0; i < r.count; ++i) r.data[i] = pair(8 + 2 * i);
  r.check = pair(length - 2);
  return (bad & 0xF0) != 0 ? 0 : length;
}

// Goes through the record in `text` two characters at a time, as far as it
// is sound, and says what is wrong with it first: the record ends before its
// checksum, or a character is not a digit. Empty when nothing is wrong.
std::string RecordFault(std::span<const std::uint8_t> text) {
  std::size_t at = 0;
  std::size_t length = 10;  // until the count is known: count, address, type, checksum
  while (at < length) {
    if (text.size() - at < 2) return "the record ends early";
    for (const std::uint8_t c : {text[at], text[at + 1]}) {
      if (kDigitValue[c] == kNotDigit) {
        const bool printable = c > 0x20 && c < 0x7F;
        return printable ? "\"" + std::string(1, static_cast<char>(c)) + "\" is not an upper-case hexadecimal digit"
                         : std::string("a character that is not an upper-case hexadecimal digit");
      }
    }
    if (at == 0) length = 8 + 2 * static_cast<std::size_t>(kDigitValue[text[0]] * 16 + kDigitValue[text[1]]) + 2;
    at += 2;
  }
  return {};
}

// What one pass over the records found.
struct Pass {
  IntelHexResult result;
  bool any_data = false;
  std::uint64_t lowest = 0;       // lowest data address as written
  std::uint64_t lowest_base = 0;  // the extended address in force at that record
};

template <typename Source>
Pass ReadRecords(Source& source, std::span<std::uint8_t> view, std::uint64_t shift) {
  Pass pass;
  IntelHexResult& result = pass.result;
  std::uint64_t line = 1;         // the line the reading has reached (from 1)
  std::uint64_t record_line = 1;  // the line the current record started on
  std::uint64_t offset = 0;
  std::uint64_t base = 0;
  bool base_fixed = false;     // set by the first data or extended address record
  std::uint64_t stored_end = 0;  // highest end of data stored in the view
  std::uint64_t beyond_end = 0;  // highest end of non-0xFF data beyond the view
  Record r;
  const auto fail = [&](std::string why) {
    result.line = record_line;
    result.fault = std::move(why);
    return pass;
  };

  for (;;) {
    // Everything up to the next ":" is skipped; only its line breaks count.
    const auto skipped = source.Ahead(1);
    if (skipped.empty()) break;
    const auto colon = std::find(skipped.begin(), skipped.end(), static_cast<std::uint8_t>(':'));
    line += static_cast<std::uint64_t>(std::count(skipped.begin(), colon, static_cast<std::uint8_t>('\n')));
    if (colon == skipped.end()) {
      source.Take(skipped.size());
      continue;
    }
    source.Take(static_cast<std::size_t>(colon - skipped.begin()) + 1);
    record_line = line;

    const auto text = source.Ahead(kLongestRecord);
    const std::size_t length = DecodeWhole(text, r);
    if (length == 0) return fail(RecordFault(text));
    source.Take(length);
    std::uint8_t sum = static_cast<std::uint8_t>(r.count + (r.address >> 8) + (r.address & 0xFF) + r.type + r.check);
    for (unsigned i = 0; i < r.count; ++i) sum = static_cast<std::uint8_t>(sum + r.data[i]);
    if (sum != 0) return fail("the checksum does not match");

    switch (r.type) {
      case 0x00: {
        base_fixed = true;
        const std::uint64_t address = offset + r.address - base;
        if (r.count > 0 && (!pass.any_data || address < pass.lowest)) {
          pass.lowest = address;
          pass.lowest_base = offset - base;
        }
        pass.any_data = pass.any_data || r.count > 0;
        const std::uint64_t position = address - shift;
        // The part that lies in the view is stored; beyond it only the end of
        // the last byte that is not 0xFF counts.
        const std::size_t stored =
            position < view.size() ? static_cast<std::size_t>(std::min<std::uint64_t>(r.count, view.size() - position)) : 0;
        if (stored > 0) {
          std::copy_n(r.data, stored, view.begin() + static_cast<std::ptrdiff_t>(position));
          stored_end = std::max(stored_end, position + stored);
        }
        for (std::size_t i = r.count; i > stored; --i) {
          if (r.data[i - 1] != 0xFF) {
            beyond_end = std::max(beyond_end, position + i);
            break;
          }
        }
        break;
      }
      case 0x02:
      case 0x04: {
        if (r.count != 2) return fail("an extended address record holds " + std::to_string(r.count) + " bytes, not 2");
        const std::uint64_t value = (static_cast<std::uint64_t>(r.data[0]) << 8) | r.data[1];
        offset = r.type == 0x02 ? value * 16 : value * 65536;
        // A file that starts with a segment is taken relative to it.
        if (!base_fixed && r.type == 0x02) base = offset;
        base_fixed = true;
        if (offset < base) return fail("the segment lies below the file's first segment");
        break;
      }
      case 0x03:
      case 0x05:
        break;
      case 0x01: {
        // Trailing 0xFF bytes do not count as loaded.
        while (stored_end > 0 && view[stored_end - 1] == 0xFF) --stored_end;
        result.end = std::max(stored_end, beyond_end);
        result.ok = true;
        return pass;
      }
      default: {
        char why[48];
        std::snprintf(why, sizeof why, "record type %02X is not known", static_cast<unsigned>(r.type));
        return fail(why);
      }
    }
  }
  result.line = 0;
  result.fault = "the file has no end record (it may be cut short)";
  return pass;
}
// Reads once at the file's own addresses; a file whose data all lie above
// the largest chip is read again, moved down.
template <typename Source>
IntelHexResult ReadMovingDown(Source& source, std::span<std::uint8_t> view) {
  const Pass first = ReadRecords(source, view, 0);
  if (!first.result.ok || !first.any_data || first.lowest < kDataBufferSize || first.lowest_base == 0) {
    IntelHexResult r = first.result;
    r.lowest = first.lowest;
    return r;
  }
  source.Rewind();
  IntelHexResult r = ReadRecords(source, view, first.lowest_base).result;
  r.moved_down = first.lowest_base;
  r.lowest = first.lowest;
  return r;
}

}  // namespace

IntelHexResult ReadIntelHex(std::span<const std::uint8_t> file, std::span<std::uint8_t> view) {
  SpanSource source(file);
  return ReadMovingDown(source, view);
}

IntelHexResult ReadIntelHex(std::istream& file, std::span<std::uint8_t> view) {
  StreamSource source(file);
  return ReadMovingDown(source, view);
}

bool IsIntelHexPath(std::string_view path) {
  return path.size() >= 3 && (path.substr(path.size() - 3) == "HEX" || path.substr(path.size() - 3) == "hex");
}

namespace {

// The line under "File is too long!": how far the file reaches and what the
// chip holds.
std::string TooLongDetail(std::uint64_t file_end, std::uint32_t view_length) {
  return "the file's data end at " + Hex8(file_end) + "H (" + std::to_string(file_end) + " bytes); the chip holds " +
         Hex8(view_length) + "H (" + std::to_string(view_length) + " bytes)";
}

std::string OpenFault(const std::string& host_path) {
  const int error = errno;
  return host_path + " cannot be opened" + (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
}

}  // namespace

LoadOutcome LoadFile(DataBuffer& buffer, const std::string& host_path, platform::MessageSink& sink,
                     const LanguageTable& texts) {
  LoadOutcome outcome;
  errno = 0;
  std::ifstream in(host_path, std::ios::binary);
  if (!in) {
    outcome.fault = OpenFault(host_path);
    return outcome;
  }
  // The file is read aside and takes the buffer's place only when it loaded.
  std::vector<std::uint8_t> image;
  try {
    image = platform::FilledBytes(buffer.ViewLength(), 0xFF);
  } catch (const std::bad_alloc&) {
    outcome.fault = "there is not enough memory to read it";
    return outcome;
  }
  std::uint64_t end = 0;
  if (IsIntelHexPath(host_path)) {
    const auto r = ReadIntelHex(in, image);
    if (!r.ok) {
      outcome.fault = r.line > 0 ? "line " + std::to_string(r.line) + ": " + r.fault : r.fault;
      return outcome;
    }
    end = r.end;
    outcome.moved_down = r.moved_down;
    outcome.lowest = r.lowest;
  } else {
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (in.bad()) {
      outcome.fault = host_path + " cannot be read";
      return outcome;
    }
    end = static_cast<std::uint64_t>(in.gcount());
    if (in && in.peek() != std::char_traits<char>::eof()) {
      // Longer than the chip: its size, for the message.
      in.seekg(0, std::ios::end);
      const auto size = in.tellg();
      end = size > 0 ? static_cast<std::uint64_t>(size) : end + 1;
    }
  }
  const auto view = buffer.View();
  std::copy(image.begin(), image.end(), view.begin());
  buffer.ClearMarks(0, buffer.ViewLength());
  outcome.ok = true;
  if (end > view.size()) {
    sink.Show(texts.TextOf(kTextFileTooLong) + "\n" + TooLongDetail(end, buffer.ViewLength()));
  }
  return outcome;
}

std::string MovedDownText(const LoadOutcome& outcome) {
  return "The file's data start at " + Hex8(outcome.lowest) + "H, beyond the chip: moved down by " +
         Hex8(outcome.moved_down) + "H";
}

bool SaveFile(const DataBuffer& buffer, const std::string& host_path) {
  if (IsIntelHexPath(host_path)) {
    return platform::ReplaceFile(host_path, WriteIntelHex(buffer.View())) == platform::WriteOutcome::kWritten;
  }
  return platform::ReplaceFile(host_path, buffer.View()) == platform::WriteOutcome::kWritten;
}

std::string WriteIntelHex(std::span<const std::uint8_t> data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  constexpr std::size_t kRecordBytes = 32;
  std::string text;
  text.reserve(data.size() / kRecordBytes * (11 + 2 * kRecordBytes + 2) + 64);
  const auto record = [&](std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    const auto put = [&](std::uint8_t b) {
      text += kDigits[b >> 4];
      text += kDigits[b & 15];
      sum = static_cast<std::uint8_t>(sum + b);
    };
    text += ':';
    put(static_cast<std::uint8_t>(bytes.size()));
    put(static_cast<std::uint8_t>(address >> 8));
    put(static_cast<std::uint8_t>(address));
    put(type);
    for (const std::uint8_t b : bytes) put(b);
    put(static_cast<std::uint8_t>(-sum));
    text += "\r\n";
  };
  for (std::size_t at = 0; at < data.size(); at += kRecordBytes) {
    if (at != 0 && (at & 0xFFFF) == 0) {
      const std::uint8_t upper[2] = {static_cast<std::uint8_t>(at >> 24), static_cast<std::uint8_t>(at >> 16)};
      record(0x04, 0, upper);
    }
    record(0x00, static_cast<std::uint16_t>(at & 0xFFFF), data.subspan(at, std::min(kRecordBytes, data.size() - at)));
  }
  record(0x01, 0, {});
  return text;
}

}  // namespace romwright::app
