#include "romwright/app/data_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
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
  void Rewind() { pos_ = 0; }

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
  void Rewind() {
    in_.clear();
    in_.seekg(0);
    pos_ = size_ = 0;
  }

 private:
  std::istream& in_;
  std::vector<std::uint8_t> block_;
  std::size_t pos_ = 0;
  std::size_t size_ = 0;
};

std::string Hex8(std::uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(v));
  return text;
}

template <typename Source>
class HexParser {
 public:
  explicit HexParser(Source& source) : source_(source) {}

  // Skips to the character after the next ":"; false when there is none.
  bool NextRecord() {
    for (int c = Get(); c >= 0; c = Get()) {
      if (c == ':') return true;
    }
    return false;
  }
  // One byte from two digits; false (with the fault) on a short read or a
  // bad digit.
  bool Byte(std::uint8_t& out) {
    const int a = Get();
    const int b = a < 0 ? -1 : Get();
    if (a < 0 || b < 0) return Fail("the record ends early");
    for (const int c : {a, b}) {
      if (DigitOf(static_cast<std::uint8_t>(c)) < 0) {
        const bool printable = c > 0x20 && c < 0x7F;
        return Fail(printable ? "\"" + std::string(1, static_cast<char>(c)) + "\" is not an upper-case hexadecimal digit"
                              : std::string("a character that is not an upper-case hexadecimal digit"));
      }
    }
    out = static_cast<std::uint8_t>(DigitOf(static_cast<std::uint8_t>(a)) * 16 + DigitOf(static_cast<std::uint8_t>(b)));
    return true;
  }
  bool Fail(std::string why) {
    fault_ = std::move(why);
    return false;
  }
  // The line the current record started on (from 1).
  std::uint64_t RecordLine() const { return record_line_; }
  const std::string& Fault() const { return fault_; }

 private:
  int Get() {
    const int c = source_.Get();
    if (c == '\n') ++line_;
    if (c == ':') record_line_ = line_;
    return c;
  }

  Source& source_;
  std::uint64_t line_ = 1;
  std::uint64_t record_line_ = 1;
  std::string fault_;
};

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
  HexParser<Source> p(source);
  std::uint64_t offset = 0;
  std::uint64_t base = 0;
  bool base_fixed = false;     // set by the first data or extended address record
  std::uint64_t stored_end = 0;  // highest end of data stored in the view
  std::uint64_t beyond_end = 0;  // highest end of non-0xFF data beyond the view
  std::uint8_t data[255];
  const auto fail = [&](const std::string& why) {
    result.line = p.RecordLine();
    result.fault = why.empty() ? p.Fault() : why;
    return pass;
  };

  while (p.NextRecord()) {
    std::uint8_t count = 0, addr_hi = 0, addr_lo = 0, type = 0, check = 0;
    if (!p.Byte(count) || !p.Byte(addr_hi) || !p.Byte(addr_lo) || !p.Byte(type)) return fail({});
    std::uint8_t sum = static_cast<std::uint8_t>(count + addr_hi + addr_lo + type);
    for (unsigned i = 0; i < count; ++i) {
      if (!p.Byte(data[i])) return fail({});
      sum = static_cast<std::uint8_t>(sum + data[i]);
    }
    if (!p.Byte(check)) return fail({});
    if (static_cast<std::uint8_t>(sum + check) != 0) return fail("the checksum does not match");

    switch (type) {
      case 0x00: {
        base_fixed = true;
        const std::uint64_t address = offset + ((addr_hi << 8) | addr_lo) - base;
        if (count > 0 && (!pass.any_data || address < pass.lowest)) {
          pass.lowest = address;
          pass.lowest_base = offset - base;
        }
        pass.any_data = pass.any_data || count > 0;
        const std::uint64_t position = address - shift;
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
        if (count != 2) return fail("an extended address record holds " + std::to_string(count) + " bytes, not 2");
        const std::uint64_t value = (static_cast<std::uint64_t>(data[0]) << 8) | data[1];
        offset = type == 0x02 ? value * 16 : value * 65536;
        // A file that starts with a segment is taken relative to it.
        if (!base_fixed && type == 0x02) base = offset;
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
        std::snprintf(why, sizeof why, "record type %02X is not known", static_cast<unsigned>(type));
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
    image.assign(buffer.ViewLength(), 0xFF);
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
