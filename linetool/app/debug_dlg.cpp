#include "linetool/app/debug_dlg.h"

#include <algorithm>

#include "linetool/app/text_filters.h"
#include "linetool/device/hex_grid.h"
#include "platform/number_text.h"

namespace linetool::app {

namespace {

using profile::MessageId;
namespace d = ids::debug;

// The number of a list entry ("%d" of a slot or an image).
int SlotOf(const std::string& entry) {
  return static_cast<int>(platform::ParseUnsigned(entry, 10, device::kMaxBridges - 1).value_or(0));
}

// Everything but the labels and Cancel follows the device table.
constexpr int kDeviceControls[] = {d::kSelectPort,    d::kImage,          d::kReadAddress,
                                   d::kReadLength,    d::kReadRegister,   d::kWriteAddress,
                                   d::kWriteValue,    d::kWriteRegister,  d::kReadConfigTable,
                                   d::kDeviceInfo};

bool IsEdit(int id) {
  return id == d::kReadAddress || id == d::kReadLength || id == d::kWriteAddress || id == d::kWriteValue;
}

}  // namespace

std::optional<std::uint32_t> ParseHexField(std::string_view text, std::uint32_t max) {
  const auto value = platform::ParseUnsigned(TrimBlanks(text), 16, max);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

RegisterInput CheckRegisterRead(std::string_view address, std::string_view length) {
  const auto a = ParseHexField(address, 0xFFFF);
  if (!a) return {RegisterResult::kBadAddress};
  const auto n = ParseHexField(length, 0xFFFF);
  if (!n || (*n == 0 && TrimBlanks(length) != "0")) return {RegisterResult::kBadLength};
  return {RegisterResult::kDone, static_cast<std::uint16_t>(*a), *n};
}

RegisterInput CheckRegisterWrite(std::string_view address, std::string_view value) {
  const auto a = ParseHexField(address, 0xFFFF);
  if (!a) return {RegisterResult::kBadAddress};
  const auto v = ParseHexField(value, 0xFFFFFFFF);
  if (!v) return {RegisterResult::kBadLength};
  return {RegisterResult::kDone, static_cast<std::uint16_t>(*a), *v};
}

void ShowInputError(platform::MessageSink& sink, RegisterResult result) {
  const MessageId id =
      result == RegisterResult::kBadAddress ? MessageId::kInvalidRegisterAddress : MessageId::kInvalidRegisterLength;
  sink.Show(std::string(profile::MessageText(id)), std::string(profile::MessageText(MessageId::kErrorCaption)),
            platform::MessageIcon::kError);
}

CDebugDlg::CDebugDlg(EngineeringAccess access, platform::MessageSink& sink, WindowDialogs& dialogs)
    : access_(access), sink_(sink), dialogs_(dialogs), info_(access, sink) {
  const std::pair<int, const char*> texts[] = {
      {d::kPortLabel, "Select Port"},        {d::kImageLabel, "Image"},
      {d::kReadAddressLabel, "Reg Addr :"},  {d::kReadLengthLabel, "Reg Len :"},
      {d::kWriteAddressLabel, "Reg Addr :"}, {d::kWriteValueLabel, "Reg Val :"},
      {d::kReadAddressHint, "[ 2 bytes hex ]"}, {d::kReadLengthHint, "[ 1 byte hex ]"},
      {d::kWriteAddressHint, "[ 2 bytes hex ]"}, {d::kWriteValueHint, "[ 1 byte hex ]"},
      {d::kReadRegister, "Read Register"},   {d::kWriteRegister, "Write Register"},
      {d::kReadConfigTable, "Read Config Table"}, {d::kDeviceInfo, "Device Info"},
      {d::kCancel, "Cancel"},                {d::kColumnCaption, device::kHexGridColumnCaption},
      {d::kRowCaption, kHexGridRowCaption}};
  for (const auto& [id, text] : texts) panel_[id].text = text;
}

void CDebugDlg::Open() {
  panel_[d::kImage].items = {"0", "1"};
  std::vector<std::string> ports;
  if (access_.table != nullptr) {
    for (const auto& r : access_.table->records)
      if (r.Present() && ports.size() < device::kMaxBridges) ports.push_back(std::to_string(r.slot));
  }
  panel_[d::kSelectPort].items = ports;
  const bool any = !ports.empty();
  panel_.Select(d::kSelectPort, any ? 0 : -1);
  panel_.Select(d::kImage, any ? 0 : -1);
  for (int id : kDeviceControls) panel_[id].enabled = any;
  port_ = any ? SlotOf(ports.front()) : 0;
  image_ = 0;
  panel_[d::kOutput].text.clear();
  shown_.clear();
}

bool CDebugDlg::SelectItem(int id, int index) {
  ControlState& list = panel_[id];
  if ((id != d::kSelectPort && id != d::kImage) || !list.enabled || index < 0 ||
      index >= static_cast<int>(list.items.size())) {
    return false;
  }
  panel_.Select(id, index);
  (id == d::kSelectPort ? port_ : image_) = SlotOf(list.text);
  return true;
}

bool CDebugDlg::SelectPort(int slot) {
  const auto& items = panel_.At(d::kSelectPort).items;
  const auto it = std::find(items.begin(), items.end(), std::to_string(slot));
  return it != items.end() && SelectItem(d::kSelectPort, static_cast<int>(it - items.begin()));
}

bool CDebugDlg::EditText(int id, const std::string& text) {
  if (!IsEdit(id) || !panel_.At(id).enabled) return false;
  panel_[id].text = text;
  return true;
}

bool CDebugDlg::Command(int id) {
  if (id == d::kCancel) return true;
  if (!panel_.At(id).enabled) return false;
  switch (id) {
    case d::kReadRegister: ReadRegister(); return true;
    case d::kWriteRegister: WriteRegister(); return true;
    case d::kReadConfigTable: ReadConfigTable(); return true;
    case d::kDeviceInfo:
      info_.Open(port_, image_);
      dialogs_.ShowDeviceInfo(info_);
      return true;
    default: return false;
  }
}

void CDebugDlg::ShowError(MessageId id) {
  sink_.Show(std::string(profile::MessageText(id)), std::string(profile::MessageText(MessageId::kErrorCaption)),
             platform::MessageIcon::kError);
}

void CDebugDlg::ShowAccessFailed(int status) {
  sink_.Show(WithNumber(profile::MessageText(MessageId::kAccessDeviceFailed), status),
             std::string(profile::MessageText(MessageId::kApplicationCaption)), platform::MessageIcon::kError);
}

void CDebugDlg::Show(std::vector<std::uint8_t> bytes) {
  panel_[d::kOutput].text = device::HexGridText(bytes);
  shown_ = std::move(bytes);
}

RegisterResult CDebugDlg::ReadRegister() {
  auto handle = access_.OpenExclusive(port_);
  const RegisterInput in = CheckRegisterRead(panel_.At(d::kReadAddress).text, panel_.At(d::kReadLength).text);
  if (in.result != RegisterResult::kDone) {
    ShowInputError(sink_, in.result);
    return in.result;
  }
  if (!handle) {
    ShowError(MessageId::kOpenDevFail);
    return RegisterResult::kOpenFailed;
  }
  std::vector<std::uint8_t> bytes(std::max<std::size_t>(std::min<std::size_t>(in.number, device::kMaxRegisterBytes), 4));
  const auto status = access_.Dev().ReadRegisters(handle.get(), in.address, bytes, in.number);
  if (status != device::kCmdDone) {
    ShowAccessFailed(status);
    return RegisterResult::kAccessFailed;
  }
  bytes.resize(in.number);
  Show(std::move(bytes));
  return RegisterResult::kDone;
}

RegisterResult CDebugDlg::WriteRegister() {
  auto handle = access_.OpenExclusive(port_);
  const RegisterInput in = CheckRegisterWrite(panel_.At(d::kWriteAddress).text, panel_.At(d::kWriteValue).text);
  if (in.result != RegisterResult::kDone) {
    ShowInputError(sink_, in.result);
    return in.result;
  }
  // An unopened bridge is a null handle: the command reports 3.
  const auto status = access_.lib != nullptr ? access_.Dev().WriteRegisterByte(handle.get(), in.address,
                                                                             static_cast<std::uint8_t>(in.number & 0xFF))
                                             : device::kCmdBadArgument;
  if (status != device::kCmdDone) {
    ShowAccessFailed(status);
    return RegisterResult::kAccessFailed;
  }
  return RegisterResult::kDone;
}

RegisterResult CDebugDlg::ReadConfigTable() {
  std::vector<std::uint8_t> block(device::kConfigTableBytes, 0xFF);
  auto handle = access_.OpenExclusive(port_);
  if (handle && access_.Dev().ReadConfigTable(handle.get(), block, device::kConfigTableBytes,
                                              static_cast<std::uint32_t>(image_)) == device::kCmdDone) {
    Show(std::move(block));
    return RegisterResult::kDone;
  }
  // No message; but the grid of an earlier read must not pass for this slot.
  Show({});
  return RegisterResult::kSlotNotRead;
}

}  // namespace linetool::app
