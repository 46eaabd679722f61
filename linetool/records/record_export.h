#pragma once
// Exports of unit records: CSV for spreadsheets (the users of the daily log)
// and JSON for programs.

#include <string>
#include <vector>

#include "linetool/records/unit_record.h"

namespace linetool::records {

// The CSV header: one column per field, a result and a duration column per
// stage ("config_result", "config_ms", ...). Lines end with CR LF.
std::string CsvHeader();
// One record as a CSV line (fields quoted where they hold a comma, a quote or
// a line break; a stage that was off has empty result and duration).
std::string CsvLine(const UnitRecord& record);
std::string ToCsv(const std::vector<UnitRecord>& records);

// An array of objects; each stage is an object {"result": "PASS"|"FAIL"|null,
// "ms": N} under "stages", keyed by the stage's name.
std::string ToJson(const std::vector<UnitRecord>& records);

// "PASS", "FAIL", or "" for a stage that was off.
std::string ResultText(StageResult result);

// True for a day written "YYYY-MM-DD" that exists in the calendar.
bool IsDay(const std::string& text);

}  // namespace linetool::records
