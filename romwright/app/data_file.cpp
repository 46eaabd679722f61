#include "romwright/app/data_file.h"

#include <algorithm>
#include <fstream>
#include <istream>
#include <vector>

#include "platform/replace_file.h"
#include "romwright/app/data_buffer.h"
#include "romwright/app/language_table.h"

namespace romwright::app {

namespace {

constexpr std::uint32_t kTextFileTooLong = 23;

// Upper-case hexadecimal digit value, or -1.
constexpr int DigitOf(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Characters from a file in memory.
class SpanSource {
 public:
  explicit SpanSource(std::span<const std::uint8_t> file) : file_(file) {}
  // The next character, or -1 at the end.
  int Get() { return pos_ < file_.size() ? file_[pos_++] : -1; }

 private:
  std::span<const std::uint8_t> file_;
  std::size_t pos_ = 0;
};

// Characters from a stream, read in blocks, so that a file of any size is
// parsed in constant memory.
class StreamSource {
 public:
  explicit StreamSource(std::istream& in) : in_(in), block_(1 << 16) {}
  int Get() {
    if (pos_ == size_) {
      in_.read(reinterpret_cast<char*>(block_.data()), static_cast<std::streamsize>(block_.size()));
      size_ = static_cast<std::size_t>(in_.gcount());
      pos_ = 0;
      if (size_ == 0) return -1;
    }
    return block_[pos_++];
  }

 private:
  std::istream& in_;
  std::vector<std::uint8_t> block_;
  std::size_t pos_ = 0;
  std::size_t size_ = 0;
};

template <typename Source>
class HexParser {
 public:
  explicit HexParser(Source& source) : source_(source) {}

  // Skips to the character after the next ":"; false when there is none.
  bool NextRecord() {
    for (int c = source_.Get(); c >= 0; c = source_.Get()) {
      if (c == ':') return true;
    }
    return false;
  }
  // One byte from two digits; false on a short read or a bad digit.
  bool Byte(std::uint8_t& out) {
    const int a = source_.Get();
    const int b = source_.Get();
    if (a < 0 || b < 0) return false;
    const int hi = DigitOf(static_cast<std::uint8_t>(a));
    const int lo = DigitOf(static_cast<std::uint8_t>(b));
    if (hi < 0 || lo < 0) return false;
    out = static_cast<std::uint8_t>(hi * 16 + lo);
    return true;
  }

 private:
  Source& source_;
};

template <typename Source>
IntelHexResult ReadRecords(Source& source, std::span<std::uint8_t> view) {
  IntelHexResult result;
  HexParser<Source> p(source);
  std::uint64_t offset = 0;
  std::uint64_t base = 0;
  bool base_fixed = false;     // set by the first data or extended address record
  std::uint64_t stored_end = 0;  // highest end of data stored in the view
  std::uint64_t beyond_end = 0;  // highest end of non-0xFF data beyond the view
  std::uint8_t data[255];

  while (p.NextRecord()) {
    std::uint8_t count = 0, addr_hi = 0, addr_lo = 0, type = 0, check = 0;
    if (!p.Byte(count) || !p.Byte(addr_hi) || !p.Byte(addr_lo) || !p.Byte(type)) return result;
    std::uint8_t sum = static_cast<std::uint8_t>(count + addr_hi + addr_lo + type);
    for (unsigned i = 0; i < count; ++i) {
      if (!p.Byte(data[i])) return result;
      sum = static_cast<std::uint8_t>(sum + data[i]);
    }
    if (!p.Byte(check) || static_cast<std::uint8_t>(sum + check) != 0) return result;

    switch (type) {
      case 0x00: {
        base_fixed = true;
        const std::uint64_t position = offset + ((addr_hi << 8) | addr_lo) - base;
        for (unsigned i = 0; i < count; ++i) {
          const std::uint64_t at = position + i;
          if (at < view.size()) {
            view[at] = data[i];
            stored_end = std::max(stored_end, at + 1);
          } else if (data[i] != 0xFF) {
            beyond_end = std::max(beyond_end, at + 1);
          }
        }
        break;
      }
      case 0x02:
      case 0x04: {
        if (count != 2) return result;
        const std::uint64_t value = (static_cast<std::uint64_t>(data[0]) << 8) | data[1];
        offset = type == 0x02 ? value * 16 : value * 65536;
        if (!base_fixed) {
          base = offset;
          base_fixed = true;
        }
        if (offset < base) return result;
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
        return result;
      }
      default:
        return result;
    }
  }
  return result;  // no end record
}

}  // namespace

IntelHexResult ReadIntelHex(std::span<const std::uint8_t> file, std::span<std::uint8_t> view) {
  SpanSource source(file);
  return ReadRecords(source, view);
}

IntelHexResult ReadIntelHex(std::istream& file, std::span<std::uint8_t> view) {
  StreamSource source(file);
  return ReadRecords(source, view);
}

bool IsIntelHexPath(std::string_view path) {
  return path.size() >= 3 && (path.substr(path.size() - 3) == "HEX" || path.substr(path.size() - 3) == "hex");
}

bool LoadFile(DataBuffer& buffer, const std::string& host_path, platform::MessageSink& sink,
              const LanguageTable& texts) {
  buffer.ClearView();
  const auto view = buffer.View();
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return false;

  if (IsIntelHexPath(host_path)) {
    const auto r = ReadIntelHex(in, view);
    if (!r.ok) return false;
    if (r.end > view.size()) sink.Show(texts.TextOf(kTextFileTooLong));
    return true;
  }

  in.read(reinterpret_cast<char*>(view.data()), static_cast<std::streamsize>(view.size()));
  const bool longer = in && in.peek() != std::char_traits<char>::eof();
  if (longer) sink.Show(texts.TextOf(kTextFileTooLong));
  return true;
}

bool SaveFile(const DataBuffer& buffer, const std::string& host_path) {
  return platform::ReplaceFile(host_path, buffer.View()) == platform::WriteOutcome::kWritten;
}

}  // namespace romwright::app
