#include "romwright/chips/chip_list.h"

#include <set>
#include <sstream>

#include "platform/number_text.h"
#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_texts.h"

namespace romwright::app {

namespace {

constexpr std::size_t kColumns = 13;

// One record of the list: its fields, the line it starts on, and whether a
// quoted field ran to the end of the text without its closing quote.
struct CsvRecord {
  std::vector<std::string> fields{1};
  std::size_t line = 0;
  bool unclosed = false;
};

// Reads the record at `pos` and moves `pos` and `line` past it. A quoted field
// may hold commas, doubled quotes and line breaks; outside quotes a line break
// (LF or CR LF) ends the record.
CsvRecord ReadRecord(std::string_view text, std::size_t& pos, std::size_t& line) {
  CsvRecord record;
  record.line = line;
  bool quoted = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '\n') ++line;
    if (quoted) {
      if (c == '"' && pos + 1 < text.size() && text[pos + 1] == '"') {
        record.fields.back() += '"';
        ++pos;
      } else if (c == '"') {
        quoted = false;
      } else {
        record.fields.back() += c;
      }
    } else if (c == '\n') {
      ++pos;
      return record;
    } else if (c == '\r' && (pos + 1 == text.size() || text[pos + 1] == '\n')) {
      // the CR of a CR LF line end
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.fields.emplace_back();
    } else {
      record.fields.back() += c;
    }
  }
  record.unclosed = quoted;
  return record;
}

// Skips the line at `pos` when it is empty, a comment ("#...") or the header
// ("name,..."); false when a record starts there.
bool SkipLine(std::string_view text, std::size_t& pos, std::size_t& line) {
  const auto nl = text.find('\n', pos);
  const std::string_view rest = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
  if (!(rest.empty() || rest == "\r" || rest.front() == '#' || rest.rfind("name,", 0) == 0)) return false;
  pos = nl == std::string_view::npos ? text.size() : nl + 1;
  ++line;
  return true;
}

// A decimal or "0x" hexadecimal number of at most `max`.
bool ParseNumber(std::string_view text, std::uint64_t max, std::uint32_t& out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const auto value = platform::ParseUnsigned(text, hex ? 16 : 10, max);
  if (!value) return false;
  out = static_cast<std::uint32_t>(*value);
  return true;
}

std::string Hex(unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[(v >> 4) & 0xF] + digits[v & 0xF];
}

// A field as the list writes it: quoted when it holds a comma, a quote or a
// line break, and a first field when a bare one would read as a comment or as
// the header.
std::string Quoted(const std::string& field, bool first) {
  const bool misread_first = first && !field.empty() && (field.front() == '#' || field == "name");
  if (!misread_first && field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (const char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

ChipListResult ParseChipList(std::string_view text) {
  ChipListResult result;
  std::size_t line_no = 1;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (SkipLine(text, pos, line_no)) continue;
    auto record = ReadRecord(text, pos, line_no);
    const auto error = [&](const std::string& what) {
      result.errors.push_back("line " + std::to_string(record.line) + ": " + what);
    };
    if (record.unclosed) {
      error("a quoted field is not closed");
      continue;
    }
    auto& f = record.fields;
    if (f.size() == kColumns - 1) f.emplace_back();  // notes may be left out
    if (f.size() != kColumns) {
      error("expected " + std::to_string(kColumns) + " columns, found " + std::to_string(f.size()));
      continue;
    }
    ChipRecord r;
    if (!SetNames(r, f[0], f[1])) {
      error("name longer than 39 or manufacturer longer than 19 characters");
      continue;
    }
    if (f[0].empty()) {
      error("empty chip name");
      continue;
    }
    r.type = TypeFromName(f[2]);
    if (r.type > 3) {
      error("unknown type \"" + f[2] + "\"");
      continue;
    }
    std::uint32_t page_size = 0, mid = 0, did = 0, mode = 0, volt = 0, bits = 0, org = 0;
    const bool ok = ParseNumber(f[3], 0xFFFFFFFFu, r.capacity) && ParseNumber(f[4], 0xFFFFFFFFu, r.page_write) &&
                    ParseNumber(f[5], 0xFFFF, page_size) && ParseNumber(f[6], 0xFF, mid) &&
                    ParseNumber(f[7], 0xFF, did) && ParseNumber(f[8], 0xFF, mode) && ParseNumber(f[9], 0xFF, volt) &&
                    ParseNumber(f[10], 0xFF, bits) && ParseNumber(f[11], 0xFF, org);
    if (!ok) {
      error("a number column is empty, not a number or too large");
      continue;
    }
    r.page_size = static_cast<std::uint16_t>(page_size);
    r.manufacturer_id = static_cast<std::uint8_t>(mid);
    r.device_id = static_cast<std::uint8_t>(did);
    r.mode = static_cast<std::uint8_t>(mode);
    r.voltage = static_cast<std::uint8_t>(volt);
    r.address_bits = static_cast<std::uint8_t>(bits);
    r.organisation = static_cast<std::uint8_t>(org);
    result.chips.push_back(r);
  }
  return result;
}

std::string FormatChipList(const std::vector<ChipRecord>& chips) {
  std::ostringstream out;
  out << kChipListHeader << "\n";
  for (const auto& c : chips) {
    out << Quoted(NameOf(c), true) << ',' << Quoted(ManufacturerOf(c), false) << ',' << TypeName(c.type) << ','
        << c.capacity << ',' << c.page_write << ',' << c.page_size << ',' << Hex(c.manufacturer_id) << ','
        << Hex(c.device_id) << ',' << unsigned{c.mode} << ',' << unsigned{c.voltage} << ','
        << unsigned{c.address_bits} << ',' << unsigned{c.organisation} << ",\n";
  }
  return out.str();
}

std::vector<std::string> CheckChipList(const std::vector<ChipRecord>& chips) {
  std::vector<std::string> problems;
  if (chips.size() > kMaxDatabaseRecords) {
    problems.push_back(std::to_string(chips.size()) + " chips; the database holds at most " +
                       std::to_string(kMaxDatabaseRecords));
  }
  if (chips.empty()) problems.push_back("the list holds no chips");
  std::set<std::string> names;
  for (const auto& c : chips) {
    const std::string name = NameOf(c);
    const auto problem = [&](const std::string& what) { problems.push_back(name + ": " + what); };
    if (!names.insert(name).second) problem("name used more than once");
    if (const auto fault = RecordFault(c); !fault.empty()) problem(fault);
    if (c.type == static_cast<std::uint32_t>(ChipType::kEeprom93) && c.address_bits == 0) {
      problem("93-series part without address bits");
    }
  }
  return problems;
}

}  // namespace romwright::app
