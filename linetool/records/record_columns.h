#pragma once
// A unit record as the texts of its columns, in one order, for the stores'
// tables and the exports alike: texts as they are, numbers in decimal, a
// stage's result as -1 (off), 0 (fail) or 1 (pass), "passed" as 0 or 1.

#include <optional>
#include <string>
#include <vector>

#include "linetool/records/unit_record.h"

namespace linetool::records {

// The column names: run_id, station, time, port, usb_location, the device
// before and after, serial_written, the files and their digests, then
// <stage>_result and <stage>_ms per stage, capacity, ata_model, ata_serial,
// passed.
const std::vector<std::string>& RecordColumns();

// A column's text; nothing stands for NULL (read as the field's empty value).
using Row = std::vector<std::optional<std::string>>;
Row RowOf(const UnitRecord& record);
UnitRecord RecordOf(const Row& row);

}  // namespace linetool::records
