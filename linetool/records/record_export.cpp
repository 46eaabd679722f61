#include "linetool/records/record_export.h"

#include <nlohmann/json.hpp>

#include "linetool/records/record_columns.h"

namespace linetool::records {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string Quoted(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string q = "\"";
  for (char c : field) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// A record's columns as a spreadsheet shows them: a stage's result as PASS,
// FAIL or empty (off, its duration empty too), an unknown capacity empty, the
// outcome as "result" PASS or FAIL.
std::vector<std::string> Fields(const UnitRecord& r) {
  std::vector<std::string> f;
  for (const auto& text : RowOf(r)) f.push_back(text.value_or(std::string()));
  const auto& columns = RecordColumns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string& c = columns[i];
    if (c.ends_with("_result")) {
      f[i] = f[i] == "1" ? "PASS" : f[i] == "0" ? "FAIL" : "";
      if (f[i].empty()) f[i + 1].clear();
    } else if (c == "capacity" && r.capacity < 0) {
      f[i].clear();
    } else if (c == "passed") {
      f[i] = r.passed ? "PASS" : "FAIL";
    }
  }
  return f;
}

std::string Line(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i == 0 ? "" : ",") + Quoted(fields[i]);
  return line + kCrLf;
}

}  // namespace

std::string ResultText(StageResult result) {
  switch (result) {
    case StageResult::kPass: return "PASS";
    case StageResult::kFail: return "FAIL";
    case StageResult::kOff: break;
  }
  return {};
}

std::string CsvHeader() {
  std::vector<std::string> titles = RecordColumns();
  titles.back() = "result";  // "passed", as PASS or FAIL
  return Line(titles);
}

std::string CsvLine(const UnitRecord& record) { return Line(Fields(record)); }

std::string ToCsv(const std::vector<UnitRecord>& records) {
  std::string out = CsvHeader();
  for (const UnitRecord& r : records) out += CsvLine(r);
  return out;
}

std::string ToJson(const std::vector<UnitRecord>& records) {
  auto device = [](const DeviceIdentity& d) {
    return nlohmann::ordered_json{
        {"vid", d.vid}, {"pid", d.pid}, {"serial", d.serial}, {"firmware_version", d.firmware_version}};
  };
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const UnitRecord& r : records) {
    nlohmann::ordered_json stages = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < kRecordStages; ++i) {
      const StageOutcome& s = r.stages[i];
      nlohmann::ordered_json result = nullptr;
      if (s.result != StageResult::kOff) result = ResultText(s.result);
      stages[std::string(kStageNames[i])] = {{"result", result}, {"ms", s.milliseconds}};
    }
    nlohmann::ordered_json capacity = nullptr;
    if (r.capacity >= 0) capacity = r.capacity;
    all.push_back({{"run_id", r.run_id},
                   {"station", r.station},
                   {"time", r.time},
                   {"port", r.port},
                   {"usb_location", r.usb_location},
                   {"before", device(r.before)},
                   {"after", device(r.after)},
                   {"serial_written", r.serial_written},
                   {"firmware_file", r.firmware_file},
                   {"firmware_sha256", r.firmware_sha256},
                   {"profile_file", r.profile_file},
                   {"profile_sha256", r.profile_sha256},
                   {"stages", stages},
                   {"capacity", capacity},
                   {"ata_model", r.ata_model},
                   {"ata_serial", r.ata_serial},
                   {"result", r.passed ? "PASS" : "FAIL"}});
  }
  // Texts of a device that are not UTF-8 are shown with replacement characters
  // rather than refused.
  return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool IsDay(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  const int year = std::stoi(text.substr(0, 4));
  const int month = std::stoi(text.substr(5, 2));
  const int day = std::stoi(text.substr(8, 2));
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace linetool::records
