#include "romwright/app/chip_list.h"

#include <charconv>
#include <set>
#include <sstream>

#include "romwright/app/chip_database.h"
#include "romwright/app/chip_texts.h"

namespace romwright::app {

namespace {

constexpr std::size_t kColumns = 13;

// Splits one CSV line; quoted fields may hold commas and doubled quotes.
std::vector<std::string> SplitCsv(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

bool ParseNumber(std::string_view text, std::uint64_t max, std::uint32_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

std::string Hex(unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[(v >> 4) & 0xF] + digits[v & 0xF];
}

std::string Quoted(const std::string& field) {
  if (field.find_first_of(",\"") == std::string::npos) return field;
  std::string out = "\"";
  for (const char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

ChipListResult ParseChipList(std::string_view text) {
  ChipListResult result;
  std::size_t line_no = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#' || line.rfind("name,", 0) == 0) continue;

    const auto error = [&](const std::string& what) {
      result.errors.push_back("line " + std::to_string(line_no) + ": " + what);
    };
    auto f = SplitCsv(line);
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
    out << Quoted(NameOf(c)) << ',' << Quoted(ManufacturerOf(c)) << ',' << TypeName(c.type) << ','
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
