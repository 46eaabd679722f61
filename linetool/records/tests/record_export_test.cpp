#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "linetool/records/record_export.h"

namespace linetool::records {
namespace {

UnitRecord Record() {
  UnitRecord r;
  r.run_id = "r1";
  r.station = "line 2, station \"B\"";
  r.time = "2026-03-12 10:11:12";
  r.port = 7;
  r.before = {"0F3C", "7700", "OLD", "121105100000"};
  r.after = {"0F3C", "7700", "NEW", "121105100001"};
  r.serial_written = "NEW";
  r.stages[0] = {StageResult::kPass, 120};
  r.stages[1] = {StageResult::kFail, 3400};
  r.ata_model = "line one\r\nline two";
  r.passed = false;
  return r;
}

// Splits CSV text as a spreadsheet reads it: quoted fields may hold commas,
// doubled quotes and line breaks.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  rows.back().clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last line end
  return rows;
}

TEST(RecordExport, CsvReadsBackFieldForFieldWithOneColumnPerTitle) {
  const auto rows = ParseCsv(ToCsv({Record(), Record()}));
  ASSERT_EQ(rows.size(), 3u);
  const auto& header = rows[0];
  const auto& line = rows[1];
  ASSERT_EQ(header.size(), line.size());
  auto field = [&](const std::string& title) {
    const auto at = std::find(header.begin(), header.end(), title);
    return at == header.end() ? std::string("<no column>") : line[static_cast<std::size_t>(at - header.begin())];
  };
  EXPECT_EQ(field("station"), "line 2, station \"B\"");
  EXPECT_EQ(field("ata_model"), "line one\r\nline two");
  EXPECT_EQ(field("port"), "7");
  EXPECT_EQ(field("serial_before"), "OLD");
  EXPECT_EQ(field("config_result"), "PASS");
  EXPECT_EQ(field("firmware_result"), "FAIL");
  EXPECT_EQ(field("firmware_ms"), "3400");
  // A stage that was off, and an unknown capacity, stay empty.
  EXPECT_EQ(field("preload_result"), "");
  EXPECT_EQ(field("preload_ms"), "");
  EXPECT_EQ(field("capacity"), "");
  EXPECT_EQ(field("result"), "FAIL");
}

TEST(RecordExport, JsonIsAnArrayOfRecordsWithStagesByName) {
  const auto all = nlohmann::json::parse(ToJson({Record()}));
  ASSERT_TRUE(all.is_array());
  ASSERT_EQ(all.size(), 1u);
  const auto& r = all[0];
  EXPECT_EQ(r["station"], "line 2, station \"B\"");
  EXPECT_EQ(r["after"]["serial"], "NEW");
  EXPECT_EQ(r["stages"]["config"]["result"], "PASS");
  EXPECT_EQ(r["stages"]["firmware"]["ms"], 3400);
  EXPECT_TRUE(r["stages"]["preload"]["result"].is_null());
  EXPECT_TRUE(r["capacity"].is_null());
  EXPECT_EQ(r["result"], "FAIL");
  EXPECT_EQ(nlohmann::json::parse(ToJson({})), nlohmann::json::array());
  // A device text that is not UTF-8 does not break the export.
  UnitRecord odd = Record();
  odd.ata_serial = "\xff\xfe";
  EXPECT_EQ(nlohmann::json::parse(ToJson({odd})).size(), 1u);
}

TEST(RecordExport, DaysAreCalendarDays) {
  EXPECT_TRUE(IsDay("2026-03-12"));
  EXPECT_TRUE(IsDay("2024-02-29"));
  EXPECT_FALSE(IsDay("2026-02-29"));
  EXPECT_FALSE(IsDay("1900-02-29"));
  EXPECT_TRUE(IsDay("2000-02-29"));
  EXPECT_FALSE(IsDay("2026-13-01"));
  EXPECT_FALSE(IsDay("2026-3-12"));
  EXPECT_FALSE(IsDay("20260312"));
  EXPECT_FALSE(IsDay("2026-03-1x"));
}

}  // namespace
}  // namespace linetool::records
