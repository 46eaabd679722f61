#include "linetool/records/record_export.h"

#include <nlohmann/json.hpp>

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

// The fields of a record in column order, as texts.
std::vector<std::string> Fields(const UnitRecord& r) {
  std::vector<std::string> f = {r.run_id,
                                r.station,
                                r.time,
                                std::to_string(r.port),
                                r.usb_location,
                                r.before.vid,
                                r.before.pid,
                                r.before.serial,
                                r.before.firmware_version,
                                r.after.vid,
                                r.after.pid,
                                r.after.serial,
                                r.after.firmware_version,
                                r.serial_written,
                                r.firmware_file,
                                r.firmware_sha256,
                                r.profile_file,
                                r.profile_sha256};
  for (const StageOutcome& s : r.stages) {
    f.push_back(ResultText(s.result));
    f.push_back(s.result == StageResult::kOff ? std::string() : std::to_string(s.milliseconds));
  }
  f.push_back(r.capacity < 0 ? std::string() : std::to_string(r.capacity));
  f.push_back(r.ata_model);
  f.push_back(r.ata_serial);
  f.push_back(r.passed ? "PASS" : "FAIL");
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
  std::vector<std::string> h = {"run_id",          "station",         "time",          "port",
                                "usb_location",    "vid_before",      "pid_before",    "serial_before",
                                "firmware_before", "vid_after",       "pid_after",     "serial_after",
                                "firmware_after",  "serial_written",  "firmware_file", "firmware_sha256",
                                "profile_file",    "profile_sha256"};
  for (std::string_view stage : kStageNames) {
    h.push_back(std::string(stage) + "_result");
    h.push_back(std::string(stage) + "_ms");
  }
  for (const char* c : {"capacity", "ata_model", "ata_serial", "result"}) h.emplace_back(c);
  return Line(h);
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
