// The chip list reader on any text: every chip it reads is written back by
// the dump as a list that reads to the same chips, and the checks the
// database build makes take any list.

#include <cstddef>
#include <cstdint>
#include <string>

#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_list.h"
#include "tools/fuzz/fuzz_input.h"

using namespace romwright;
using namespace romwright::app;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ChipListResult read = ParseChipList(fuzz::AsText(data, size));
  const std::vector<std::string> problems = CheckChipList(read.chips);
  const ChipListResult again = ParseChipList(FormatChipList(read.chips));
  fuzz::Check(again.errors.empty(), "a written chip list has faulty lines");
  fuzz::Check(again.chips == read.chips, "a written chip list reads other chips");
  if (problems.empty()) {
    ChipDatabase db;
    fuzz::Check(db.LoadDatabaseBytes(BuildDatabaseFile(read.chips)) && db.Records() == read.chips,
                "a chip list that passes its checks does not make a database that loads");
  }
  return 0;
}
