#include "linetool/disk/production_log.h"

#include <cstdio>

namespace linetool::disk {

namespace {

constexpr const char* kTitles[kLogColumns] = {
    "Date", "Time", "Target", "Port#", "VID", "PID", "iVersion", "iManugacturer", "iProduct", "SerialNumber",
    "FWVersion", "USB Speed", "PhysicalAddress", "LogicalAddress", "ConfigTableFormat", "UpdateVID", "UpdatePID",
    "UpdateRevision", "UpdateManufacturerString", "UpdateProductString", "UpdateSerialNumber",
    "UpdateSerialIncrease", "UpdateFWFile", "FormatDriveType", "FormatLabelName", "WrRdTestBinary",
    "WrRdTestCount", "UpdateConfigurationResult", "UpdateFWResult", "ReloadFWResult", "DoPartitionResult",
    "DoFormatResult", "DoWrRdTestResult", "DoPreloadResult"};

constexpr char kBlank[] = " \t";

std::string Number(int v, const char* format = "%d\t") {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string Text(const std::string& v) { return v + "\t"; }

const char* Result(std::uint8_t r) { return r == 1 ? "PASS\t" : "FAIL\t"; }

}  // namespace

std::string LogFileName(const platform::LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d.%s", t.year, t.month, t.day, "log");
  return buf;
}

std::string LogHeader() {
  std::string h;
  for (const char* title : kTitles) h += std::string(title) + "\t";
  return h;
}

std::string LogRecord(const LogPort& p, const profile::ProfileSettings& st, const platform::LocalTime& t) {
  char buf[32];
  std::string r = "\r\n";
  std::snprintf(buf, sizeof buf, "%04d%02d%02d\t", t.year, t.month, t.day);
  r += buf;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d\t", t.hour, t.minute, t.second);
  r += buf;
  r += Number(p.slot, "%02d\t");
  r += Number(p.usb_port, "%02d\t");
  for (const std::string* v : {&p.vid, &p.pid, &p.version, &p.manufacturer, &p.product, &p.serial_number,
                               &p.fw_version, &p.usb_speed}) {
    r += Text(*v);
  }
  r += Number(p.drive_number, "%02d\t");
  r += std::string(1, p.drive_letter) + "\t";

  if (st.config_enable == 1) {
    r += Number(st.config_format);
    r += Text(FieldText(st.vendor_id));
    r += Text(FieldText(st.product_id));
    r += Text(FieldText(st.device_revision));
    r += Text(FieldText(st.manufacturer_string));
    r += Text(FieldText(st.product_string));
    r += kBlank;  // the serial number column stays blank
    r += Number(st.serial_number_increase);
  } else {
    for (int i = 0; i < 8; ++i) r += kBlank;
  }
  r += st.fw_enable == 1 ? Text(FieldText(st.fw_binary_name)) : kBlank;
  if (st.format_enable == 1) {
    r += Number(st.format_drive_type);
    r += Text(FieldText(st.drive_label_name));
  } else {
    r += std::string(kBlank) + kBlank;
  }
  if (st.wr_test_enable == 1) {
    r += Text(FieldText(st.wr_test_binary_name));
    r += Number(st.wr_test_count);
  } else {
    r += std::string(kBlank) + kBlank;
  }
  r += st.config_enable == 1 ? Result(p.results[kStageConfig]) : kBlank;
  r += st.fw_enable == 1 ? Result(p.results[kStageFirmware]) : kBlank;
  r += st.fw_reload == 1 ? Result(p.results[kStageRelink]) : kBlank;
  r += st.format_enable == 1 ? Result(p.results[kStagePartition]) : kBlank;
  r += st.format_enable == 1 ? Result(p.results[kStageFormat]) : kBlank;
  r += st.wr_test_enable == 1 ? Result(p.results[kStageWriteRead]) : kBlank;
  r += st.preload_enable == 1 ? Result(p.results[kStagePreload]) : kBlank;
  r += kBlank;
  return r;
}

bool WriteLogRecord(const DiskServices& s, const LogPort& port, const profile::ProfileSettings& settings) {
  const platform::LocalTime now = s.clock.LocalNow();
  const std::string name = LogFileName(now);
  std::string text;
  if (!s.PathUsable(name)) text = LogHeader();
  text += LogRecord(port, settings, now);
  if (text.size() > kLogTextLimit) text.resize(kLogTextLimit);

  auto file = s.files.Open(s.HostPath(name), platform::FileOpen::kOpenAlways);
  if (!file) return false;
  const auto end = file->Size();
  if (!end) return false;
  return file->WriteAt(*end, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) &&
         file->Flush();
}

}  // namespace linetool::disk
