#include "linetool/records/record_columns.h"

namespace linetool::records {

namespace {

std::string Number(std::int64_t n) { return std::to_string(n); }

std::int64_t NumberOf(const std::optional<std::string>& text, std::int64_t missing) {
  if (!text || text->empty()) return missing;
  try {
    return std::stoll(*text);
  } catch (const std::exception&) {
    return missing;
  }
}

std::string TextOf(const std::optional<std::string>& text) { return text.value_or(std::string()); }

}  // namespace

const std::vector<std::string>& RecordColumns() {
  static const std::vector<std::string> columns = [] {
    std::vector<std::string> c = {"run_id",          "station",         "time",         "port",
                                  "usb_location",    "vid_before",      "pid_before",   "serial_before",
                                  "firmware_before", "vid_after",       "pid_after",    "serial_after",
                                  "firmware_after",  "serial_written",  "firmware_file", "firmware_sha256",
                                  "profile_file",    "profile_sha256"};
    for (std::string_view stage : kStageNames) {
      c.push_back(std::string(stage) + "_result");
      c.push_back(std::string(stage) + "_ms");
    }
    for (const char* more : {"capacity", "ata_model", "ata_serial", "passed"}) c.emplace_back(more);
    return c;
  }();
  return columns;
}

Row RowOf(const UnitRecord& r) {
  Row row = {r.run_id,
             r.station,
             r.time,
             Number(r.port),
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
    row.push_back(Number(static_cast<int>(s.result)));
    row.push_back(Number(s.milliseconds));
  }
  row.push_back(Number(r.capacity));
  row.push_back(r.ata_model);
  row.push_back(r.ata_serial);
  row.push_back(Number(r.passed ? 1 : 0));
  return row;
}

UnitRecord RecordOf(const Row& row) {
  UnitRecord r;
  if (row.size() != RecordColumns().size()) return r;
  std::size_t i = 0;
  auto text = [&] { return TextOf(row[i++]); };
  r.run_id = text();
  r.station = text();
  r.time = text();
  r.port = static_cast<int>(NumberOf(row[i++], 0));
  r.usb_location = text();
  for (DeviceIdentity* d : {&r.before, &r.after}) {
    d->vid = text();
    d->pid = text();
    d->serial = text();
    d->firmware_version = text();
  }
  r.serial_written = text();
  r.firmware_file = text();
  r.firmware_sha256 = text();
  r.profile_file = text();
  r.profile_sha256 = text();
  for (StageOutcome& s : r.stages) {
    const std::int64_t result = NumberOf(row[i++], -1);
    s.result = result == 1 ? StageResult::kPass : result == 0 ? StageResult::kFail : StageResult::kOff;
    s.milliseconds = NumberOf(row[i++], 0);
  }
  r.capacity = NumberOf(row[i++], -1);
  r.ata_model = text();
  r.ata_serial = text();
  r.passed = NumberOf(row[i++], 0) == 1;
  return r;
}

}  // namespace linetool::records
