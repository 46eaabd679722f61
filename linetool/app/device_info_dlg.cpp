#include "linetool/app/device_info_dlg.h"

#include "linetool/device/bridge_operations.h"

namespace linetool::app {

namespace {

using profile::MessageId;

constexpr std::size_t kIdleByte = 122;
constexpr std::size_t kFlagByte = 125;

}  // namespace

std::string FlagText(std::uint8_t flags, int bit) { return (flags >> bit) & 1 ? "X" : "O"; }

std::string IdleTimerText(std::uint8_t idle) {
  static const char* const kTexts[] = {"3 min",  "5 min", "10 min", "15 min", "20 min", "30 min",
                                       "1 hr",   "2 hr",  "3 hr",   "4 hr",   "5 hr"};
  if (idle >= 0xF1 && idle <= 0xFB) return kTexts[idle - 0xF1];
  return idle == 0xFF ? "Never" : "NULL";
}

std::string VariantMark(std::uint8_t variant) {
  static const std::pair<const char*, const char*> kMarks[] = {
      {"00", "1-"}, {"001", "2-"}, {"010", "3-"}, {"011", "4-"}, {"101", "5-"}, {"110", "6-"}, {"111", "7-"}};
  const std::string code = device::ChipCodeOf(variant);
  for (const auto& [c, mark] : kMarks)
    if (code == c) return mark;
  return "Not Defined";
}

bool UaspSupported(std::uint8_t c890, std::uint8_t c8ff) {
  if (c890 & 0x04) return false;
  const bool no_variant_bits = (c8ff & 0x30) == 0;
  return !(no_variant_bits && (c8ff & 0x03) == 0x02 && (c890 & 0x02));
}

CDeviceInfoDlg::CDeviceInfoDlg(EngineeringAccess access, platform::MessageSink& sink)
    : access_(access), sink_(sink) {}

std::vector<std::string> CDeviceInfoDlg::Columns() {
  return {kDeviceInfoColumns.begin(), kDeviceInfoColumns.end()};
}

std::vector<std::string> CDeviceInfoDlg::StatusRow() const {
  std::vector<std::string> row{"Status"};
  for (int bit = 0; bit < 8; ++bit) row.push_back(flag_byte_ ? FlagText(*flag_byte_, bit) : std::string());
  row.push_back(idle_byte_ ? IdleTimerText(*idle_byte_) : std::string());
  return row;
}

bool CDeviceInfoDlg::Open(int port, int image) {
  const bool slot_read = ReadSlot(port, image);
  const bool report_read = BuildReport(port);
  return slot_read && report_read;
}

bool CDeviceInfoDlg::ReadSlot(int port, int image) {
  profile::ConfigBlock block;
  block.fill(0xFF);
  auto handle = access_.OpenExclusive(port);
  if (!handle) return false;
  if (access_.Dev().ReadConfigTable(handle.get(), block, device::kConfigTableBytes,
                                    static_cast<std::uint32_t>(image)) != device::kCmdDone) {
    return false;
  }
  flag_byte_ = block[kFlagByte];
  idle_byte_ = block[kIdleByte];
  return true;
}

void CDeviceInfoDlg::ShowError(MessageId id, std::string caption, int status) {
  const std::string_view text = profile::MessageText(id);
  sink_.Show(status < 0 ? std::string(text) : WithNumber(text, status), std::move(caption),
             platform::MessageIcon::kError);
}

std::uint32_t CDeviceInfoDlg::TimeSeed() const {
  if (access_.clock == nullptr) return 0;
  const platform::LocalTime t = access_.clock->LocalNow();
  std::uint64_t seconds = static_cast<std::uint64_t>(t.year) * 12 + static_cast<std::uint64_t>(t.month);
  for (const auto& [unit, part] : {std::pair{31, t.day}, {24, t.hour}, {60, t.minute}, {60, t.second}}) {
    seconds = seconds * static_cast<std::uint64_t>(unit) + static_cast<std::uint64_t>(part);
  }
  return static_cast<std::uint32_t>(seconds);
}

bool CDeviceInfoDlg::BuildReport(int port) {
  report_.clear();
  auto handle = access_.OpenExclusive(port);
  if (!handle) {
    ShowError(MessageId::kOpenDevFail, std::string(profile::MessageText(MessageId::kErrorCaption)));
    return false;
  }
  const std::string app_caption(profile::MessageText(MessageId::kApplicationCaption));
  auto& dev = access_.Dev();
  auto read = [&](std::uint16_t address, std::uint8_t& value) {
    std::uint8_t buffer[4] = {};
    const auto status = dev.ReadRegisters(handle.get(), address, buffer, 1);
    value = buffer[0];
    return status;
  };
  std::uint8_t c890 = 0;
  std::uint8_t c8ff = 0;
  if (const auto s = read(device::kRegUaspSupport, c890); s != device::kCmdDone) {
    ShowError(MessageId::kAccessDeviceFailed, app_caption, s);
    return false;
  }
  if (const auto s = read(device::kRegChipVariant, c8ff); s != device::kCmdDone) {
    ShowError(MessageId::kAccessRegisterFailed, app_caption, s);
    return false;
  }
  CrtRandom first(TimeSeed());
  const int a = first.Next() % 9991;
  report_ += std::to_string(a - first.Next() % 5000 + 10);
  report_ += VariantMark(c8ff);
  CrtRandom second(TimeSeed());
  const int b = second.Next() % 5000;
  report_ += std::to_string(b + second.Next() % 9991 + 10);
  report_ += std::to_string(c8ff & 0x03);

  bool complete = true;
  if (read(device::kRegUaspSupport, c890) == device::kCmdDone) {
    report_ += "\n\nSupport UASP : ";
    report_ += UaspSupported(c890, c8ff) ? "Yes \n" : "No \n";
  } else {
    complete = false;
  }
  std::uint8_t status_reg = 0;
  if (const auto s = read(device::kRegUaspStatus, status_reg); s != device::kCmdDone) {
    ShowError(MessageId::kAccessRegisterFailed, app_caption, s);
    return false;
  }
  report_ += "\nEnable UASP : ";
  report_ += (status_reg & 0x80) ? "Yes \n" : "No \n";
  return complete;
}

}  // namespace linetool::app
