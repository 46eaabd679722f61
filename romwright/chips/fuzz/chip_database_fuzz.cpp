// The chip database reader on any file. The input is the unscrambled file;
// its first byte chooses whether the header's count and checksum are made
// to fit, so most inputs reach the record checks. A database that loads
// holds only records the programmer can work with, writes back to the same
// records, and survives a dump to the chip list and a build from it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_list.h"
#include "romwright/chips/database_scrambler.h"
#include "romwright/data/data_buffer.h"
#include "romwright/link/chip_params.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

using namespace romwright;
using namespace romwright::app;

// A record as the chip list holds it: texts up to their NUL.
ChipRecord AsListed(ChipRecord r) {
  const std::string name = NameOf(r);
  const std::string manufacturer = ManufacturerOf(r);
  r.name.fill('\0');
  r.manufacturer.fill('\0');
  SetNames(r, name, manufacturer);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool fit_header = (data[0] & 1) != 0;
  std::vector<std::uint8_t> plain(data + 1, data + size);
  if (fit_header) {
    if (plain.size() < kDatabaseHeaderSize) plain.resize(kDatabaseHeaderSize, 0);
    const std::size_t count =
        std::min((plain.size() - kDatabaseHeaderSize) / kChipRecordFileSize, kMaxDatabaseRecords);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count * kChipRecordFileSize; ++i) {
      sum = static_cast<std::uint8_t>(sum + plain[kDatabaseHeaderSize + i]);
    }
    plain[0] = static_cast<std::uint8_t>(count);
    plain[1] = static_cast<std::uint8_t>(count >> 8);
    plain[2] = sum;
  }
  DatabaseScrambler scrambler;
  for (auto& b : plain) b = scrambler.Scramble(b);

  ChipDatabase db;
  if (!db.LoadDatabaseBytes(plain)) {
    fuzz::Check(db.Empty(), "a rejected database keeps records");
    return 0;
  }
  link::ChipParams params;
  for (const auto& r : db.Records()) {
    fuzz::Check(r.type <= static_cast<std::uint32_t>(ChipType::kEeprom93), "a loaded record of an unknown type");
    fuzz::Check(r.capacity > 0 && r.capacity <= kDataBufferSize, "a loaded record larger than the data buffer");
    fuzz::Check(r.page_size > 0 && r.capacity % r.page_size == 0, "a loaded record whose pages do not fit");
    fuzz::Check(link::DeriveChipParams(r, params), "a loaded record without protocol parameters");
    fuzz::Check(db.FindByName(NameOf(r)).has_value(), "a loaded record is not found by its name");
    (void)db.ListChips(ManufacturerOf(r), r.type);
  }
  for (std::uint32_t type = 0; type <= kAllTypes; ++type) (void)db.ListManufacturers(type);
  (void)db.SearchChips(std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 24)));

  ChipDatabase again;
  fuzz::Check(again.LoadDatabaseBytes(BuildDatabaseFile(db.Records())) && again.Records() == db.Records(),
              "a database written from loaded records does not load the same");

  // The dump keeps every chip: each comes back from the list, or (a chip the
  // list cannot name) is refused with a line of its own, never dropped.
  std::vector<ChipRecord> listed;
  std::size_t unnamed = 0;
  for (const auto& r : db.Records()) {
    if (NameOf(r).empty()) {
      ++unnamed;
    } else {
      listed.push_back(AsListed(r));
    }
  }
  std::vector<ChipRecord> all;
  for (const auto& r : db.Records()) all.push_back(AsListed(r));
  const ChipListResult parsed = ParseChipList(FormatChipList(all));
  fuzz::Check(parsed.errors.size() == unnamed, "a dumped chip list has faulty lines");
  fuzz::Check(parsed.chips == listed, "a dumped chip list builds other chips");
  return 0;
}
