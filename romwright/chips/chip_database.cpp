#include "romwright/chips/chip_database.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "romwright/chips/database_scrambler.h"
#include "romwright/data/data_buffer.h"

namespace romwright::app {

namespace {

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

template <std::size_t N>
std::string TextOf(const std::array<char, N>& field) {
  const auto end = std::find(field.begin(), field.end(), '\0');
  return std::string(field.begin(), end);
}

template <std::size_t N>
bool SetText(std::array<char, N>& field, std::string_view text) {
  if (text.size() >= N || text.find('\0') != std::string_view::npos) return false;
  field.fill('\0');
  std::copy(text.begin(), text.end(), field.begin());
  return true;
}

// Record byte offsets.
constexpr std::size_t kType = 0, kName = 4, kManufacturer = 44, kMode = 64, kVoltage = 65,
                      kCapacity = 68, kPageWrite = 72, kPageSize = 76, kManufacturerId = 78,
                      kDeviceId = 79, kAddressBits = 80, kOrganisation = 81;

}  // namespace

std::array<std::uint8_t, kChipRecordFileSize> EncodeChipRecord(const ChipRecord& r) {
  std::array<std::uint8_t, kChipRecordFileSize> b{};
  PutU32(&b[kType], r.type);
  std::memcpy(&b[kName], r.name.data(), r.name.size());
  std::memcpy(&b[kManufacturer], r.manufacturer.data(), r.manufacturer.size());
  // The fields are fixed-width and terminated within their width.
  b[kName + r.name.size() - 1] = 0;
  b[kManufacturer + r.manufacturer.size() - 1] = 0;
  b[kMode] = r.mode;
  b[kVoltage] = r.voltage;
  PutU32(&b[kCapacity], r.capacity);
  PutU32(&b[kPageWrite], r.page_write);
  PutU16(&b[kPageSize], r.page_size);
  b[kManufacturerId] = r.manufacturer_id;
  b[kDeviceId] = r.device_id;
  b[kAddressBits] = r.address_bits;
  b[kOrganisation] = r.organisation;
  return b;
}

ChipRecord DecodeChipRecord(std::span<const std::uint8_t, kChipRecordFileSize> b) {
  ChipRecord r;
  r.type = GetU32(&b[kType]);
  std::memcpy(r.name.data(), &b[kName], r.name.size());
  std::memcpy(r.manufacturer.data(), &b[kManufacturer], r.manufacturer.size());
  // A record whose name fills its field without a NUL still reads as a
  // terminated text.
  r.name.back() = '\0';
  r.manufacturer.back() = '\0';
  r.mode = b[kMode];
  r.voltage = b[kVoltage];
  r.capacity = GetU32(&b[kCapacity]);
  r.page_write = GetU32(&b[kPageWrite]);
  r.page_size = GetU16(&b[kPageSize]);
  r.manufacturer_id = b[kManufacturerId];
  r.device_id = b[kDeviceId];
  r.address_bits = b[kAddressBits];
  r.organisation = b[kOrganisation];
  return r;
}

std::string NameOf(const ChipRecord& record) { return TextOf(record.name); }
std::string ManufacturerOf(const ChipRecord& record) { return TextOf(record.manufacturer); }

bool SetNames(ChipRecord& record, std::string_view name, std::string_view manufacturer) {
  ChipRecord copy = record;
  if (!SetText(copy.name, name) || !SetText(copy.manufacturer, manufacturer)) return false;
  record = copy;
  return true;
}

std::string RecordFault(const ChipRecord& r) {
  if (r.type > static_cast<std::uint32_t>(ChipType::kEeprom93)) {
    return "type " + std::to_string(r.type) + " is not a chip type";
  }
  if (r.capacity == 0 || r.capacity > kDataBufferSize) {
    return "capacity " + std::to_string(r.capacity) + " outside 1.." + std::to_string(kDataBufferSize);
  }
  if (r.page_size == 0 || r.capacity % r.page_size != 0) {
    return "page size " + std::to_string(r.page_size) + " does not divide the capacity";
  }
  return {};
}

std::vector<std::uint8_t> BuildDatabaseFile(const std::vector<ChipRecord>& records) {
  if (records.size() > kMaxDatabaseRecords) return {};
  std::vector<std::uint8_t> file(kDatabaseHeaderSize + kChipRecordFileSize * records.size(), 0);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto bytes = EncodeChipRecord(records[i]);
    for (const auto b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(kDatabaseHeaderSize + i * kChipRecordFileSize));
  }
  PutU16(&file[0], static_cast<std::uint16_t>(records.size()));
  file[2] = sum;
  DatabaseScrambler scrambler;
  for (auto& b : file) b = scrambler.Scramble(b);
  return file;
}

bool ChipDatabase::Reject(std::string why) {
  records_.clear();
  load_fault_ = std::move(why);
  return false;
}

bool ChipDatabase::LoadDatabase(const std::string& host_path) {
  records_.clear();
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return Reject("cannot be read");
  // Never more than the largest valid file is read.
  constexpr std::size_t kLargest = kDatabaseHeaderSize + kChipRecordFileSize * kMaxDatabaseRecords;
  std::vector<std::uint8_t> file(kLargest + 1);
  in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
  file.resize(static_cast<std::size_t>(in.gcount()));
  return LoadDatabaseBytes(file);
}

bool ChipDatabase::LoadDatabaseBytes(std::span<const std::uint8_t> file) {
  records_.clear();
  load_fault_.clear();
  if (file.size() < kDatabaseHeaderSize) return Reject("shorter than the database header");
  DatabaseScrambler scrambler;
  std::array<std::uint8_t, kDatabaseHeaderSize> header{};
  for (std::size_t i = 0; i < header.size(); ++i) header[i] = scrambler.Unscramble(file[i]);
  const std::size_t count = GetU16(&header[0]);
  const std::uint8_t checksum = header[2];
  if (count > kMaxDatabaseRecords) {
    return Reject("the header counts " + std::to_string(count) + " records, more than " +
                  std::to_string(kMaxDatabaseRecords));
  }
  if (file.size() < kDatabaseHeaderSize + kChipRecordFileSize * count) {
    return Reject("shorter than the " + std::to_string(count) + " records its header counts");
  }
  std::vector<ChipRecord> records;
  records.reserve(count);
  std::uint8_t sum = 0;
  std::array<std::uint8_t, kChipRecordFileSize> bytes{};
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t base = kDatabaseHeaderSize + i * kChipRecordFileSize;
    for (std::size_t j = 0; j < bytes.size(); ++j) {
      bytes[j] = scrambler.Unscramble(file[base + j]);
      sum = static_cast<std::uint8_t>(sum + bytes[j]);
    }
    records.push_back(DecodeChipRecord(bytes));
  }
  if (sum != checksum) return Reject("the checksum does not match its records");
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string fault = RecordFault(records[i]);
    if (!fault.empty()) {
      return Reject("record " + std::to_string(i + 1) + " \"" + NameOf(records[i]) + "\": " + fault);
    }
  }
  records_ = std::move(records);
  return true;
}

std::optional<ChipRecord> ChipDatabase::FindByName(std::string_view name) const {
  for (const auto& r : records_) {
    if (NameOf(r) == name) return r;
  }
  return std::nullopt;
}

std::optional<ChipRecord> ChipDatabase::FindByIds(std::uint8_t manufacturer_id, std::uint8_t device_id) const {
  for (const auto& r : records_) {
    if (r.manufacturer_id == manufacturer_id && r.device_id == device_id) return r;
  }
  return std::nullopt;
}

std::vector<std::string> ChipDatabase::ListManufacturers(std::uint32_t type) const {
  std::vector<std::string> names;
  for (const auto& r : records_) {
    if (type != kAllTypes && r.type != type) continue;
    auto m = ManufacturerOf(r);
    if (std::find(names.begin(), names.end(), m) == names.end()) names.push_back(std::move(m));
  }
  return names;
}

std::vector<ChipRecord> ChipDatabase::ListChips(std::string_view manufacturer, std::uint32_t type) const {
  std::vector<ChipRecord> chips;
  for (const auto& r : records_) {
    if ((type == kAllTypes || r.type == type) && ManufacturerOf(r) == manufacturer) chips.push_back(r);
  }
  return chips;
}

std::vector<ChipRecord> ChipDatabase::SearchChips(std::string_view pattern) const {
  std::string upper(pattern.substr(0, kMaxSearchPattern));
  for (auto& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= upper.size()) {
    const auto star = std::min(upper.find('*', start), upper.size());
    if (star > start) pieces.push_back(upper.substr(start, star - start));
    start = star + 1;
  }
  std::vector<ChipRecord> found;
  for (const auto& r : records_) {
    const std::string name = NameOf(r);
    std::size_t from = 0;
    bool match = true;
    for (const auto& piece : pieces) {
      const auto at = name.find(piece, from);
      if (at == std::string::npos) {
        match = false;
        break;
      }
      from = at + piece.size();
    }
    if (match) found.push_back(r);
  }
  return found;
}

}  // namespace romwright::app
