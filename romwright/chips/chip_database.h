#pragma once
// The chip database: the file the programmer application reads its chip list
// from, and the look-ups the window and the chip operations make in it.
//
// File layout (every byte stored scrambled, see DatabaseScrambler):
//   offset 0    100-byte header: u16 LE record count, u8 checksum (the 8-bit
//               sum of all unscrambled record bytes), the rest unused
//   offset 100  count records of 108 bytes, in database order
// Record (little-endian): u32 type, char[40] name, char[20] manufacturer,
// u8 mode, u8 supply voltage, 2 unused, u32 capacity, u32 page-write flag,
// u16 page size, u8 manufacturer ID, u8 device ID, u8 93-series address bits,
// u8 93-series organisation, 26 unused.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "romwright/link/chip_record.h"

namespace romwright::app {

inline constexpr std::size_t kDatabaseHeaderSize = 100;
inline constexpr std::size_t kMaxDatabaseRecords = 2000;
// ListManufacturers and ListChips take this for "every type".
inline constexpr std::uint32_t kAllTypes = 4;
// Longest search pattern, as the search field holds it.
inline constexpr std::size_t kMaxSearchPattern = 20;

// One record as the file stores it (unscrambled), and back. Name and
// manufacturer are cut to leave room for their terminating NUL.
std::array<std::uint8_t, kChipRecordFileSize> EncodeChipRecord(const ChipRecord& record);
ChipRecord DecodeChipRecord(std::span<const std::uint8_t, kChipRecordFileSize> bytes);

// The name and manufacturer of a record as text (up to the first NUL).
std::string NameOf(const ChipRecord& record);
std::string ManufacturerOf(const ChipRecord& record);
// Fills name and manufacturer from text; false when a text does not fit
// (39 and 19 characters at most).
bool SetNames(ChipRecord& record, std::string_view name, std::string_view manufacturer);

// Why `record` cannot describe a chip the programmer can work on: a type
// outside 0-3, a capacity of 0 or beyond the 16 MiB data buffer, a page size
// of 0 or one that does not divide the capacity. Empty when it can.
std::string RecordFault(const ChipRecord& record);

// The complete scrambled database file for `records` (at most
// kMaxDatabaseRecords; more are an error and give an empty result).
std::vector<std::uint8_t> BuildDatabaseFile(const std::vector<ChipRecord>& records);

class ChipDatabase {
 public:
  // Reads, unscrambles and checks a database file (a host path). Clears the
  // database first and again when the file is rejected: missing, shorter than
  // its header, more than kMaxDatabaseRecords records, shorter than its
  // records, a checksum that does not match, or a record with a RecordFault
  // (the chip operations trust every loaded capacity and page size). True
  // when loaded.
  bool LoadDatabase(const std::string& host_path);
  // The same checks on a file's bytes already in memory.
  bool LoadDatabaseBytes(std::span<const std::uint8_t> file);
  // Why the last load failed, for a diagnostic beside "Database error!";
  // empty after a load that succeeded.
  const std::string& LoadFault() const { return load_fault_; }

  // The first record whose name equals `name` exactly.
  std::optional<ChipRecord> FindByName(std::string_view name) const;
  // The first record with both ID bytes equal.
  std::optional<ChipRecord> FindByIds(std::uint8_t manufacturer_id, std::uint8_t device_id) const;
  // The distinct manufacturer names of `type`'s records (kAllTypes: of every
  // type), in database order of their first occurrence.
  std::vector<std::string> ListManufacturers(std::uint32_t type) const;
  // The records of `manufacturer` and `type` (kAllTypes: every type), in
  // database order.
  std::vector<ChipRecord> ListChips(std::string_view manufacturer, std::uint32_t type) const;
  // Wildcard search over every name: the pattern (its first
  // kMaxSearchPattern characters) is upper-cased and split at "*"; a name
  // matches when the non-empty pieces occur in it in order without overlap,
  // anywhere in the name. No pieces match every record. Database order.
  std::vector<ChipRecord> SearchChips(std::string_view pattern) const;

  const std::vector<ChipRecord>& Records() const { return records_; }
  bool Empty() const { return records_.empty(); }
  void Clear() { records_.clear(); }

 private:
  bool Reject(std::string why);

  std::vector<ChipRecord> records_;
  std::string load_fault_;
};

}  // namespace romwright::app
