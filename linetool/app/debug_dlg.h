#pragma once
// The register dialog, titled "Check Configuration Dialog" while it runs:
// reads and writes bridge registers of one port and shows a configuration
// slot, each as the 768-character hex grid, and opens the device information
// dialog for the selected port and image.
//
// Controls are addressed by the identifiers below. "Select Port" lists the
// slot numbers of the occupied records of the device table, "Image" "0" and
// "1"; with no bridge every control but Cancel is disabled. The four edits
// take any text; the commands read them as hexadecimal. Message boxes go to
// the sink: "Error" is the caption of the input checks and "OpenDev Fail",
// the application's caption that of "Access Device is Failed ! (n)".

#include <cstdint>
#include <string>
#include <vector>

#include "linetool/app/device_info_dlg.h"
#include "linetool/app/engineering_access.h"
#include "linetool/app/panel_state.h"
#include "linetool/app/window_dialogs.h"
#include "linetool/profile/message_texts.h"
#include "platform/message_sink.h"

namespace linetool::app {

namespace ids::debug {
inline constexpr int kCancel = 2;
inline constexpr int kSelectPort = 1300;
inline constexpr int kImage = 1301;
inline constexpr int kReadAddress = 1302;
inline constexpr int kReadLength = 1303;
inline constexpr int kReadRegister = 1304;
inline constexpr int kWriteAddress = 1305;
inline constexpr int kWriteValue = 1306;
inline constexpr int kWriteRegister = 1307;
inline constexpr int kReadConfigTable = 1308;
inline constexpr int kDeviceInfo = 1309;
inline constexpr int kOutput = 1310;         // the hex grid (fixed pitch)
inline constexpr int kColumnCaption = 1311;  // "00 01 .. 0F" above the grid
inline constexpr int kRowCaption = 1312;     // "00 10 .. F0" beside it, one per line
// Labels: "Select Port", "Image", the read group's "Reg Addr :" and
// "Reg Len :", the write group's "Reg Addr :" and "Reg Val :", and the hints
// "[ 2 bytes hex ]" and "[ 1 byte hex ]" beside each edit.
inline constexpr int kPortLabel = 1320;
inline constexpr int kImageLabel = 1321;
inline constexpr int kReadAddressLabel = 1322;
inline constexpr int kReadLengthLabel = 1323;
inline constexpr int kWriteAddressLabel = 1324;
inline constexpr int kWriteValueLabel = 1325;
inline constexpr int kReadAddressHint = 1326;
inline constexpr int kReadLengthHint = 1327;
inline constexpr int kWriteAddressHint = 1328;
inline constexpr int kWriteValueHint = 1329;
}  // namespace ids::debug

inline constexpr const char* kHexGridRowCaption = "00 10 20 30 40 50 60 70 80 90 A0 B0 C0 D0 E0 F0";

// How a register command ended.
enum class RegisterResult {
  kDone,
  kBadAddress,    // "Invalid value for register address"
  kBadLength,     // "Invalid value for register length" (also for the write value)
  kOpenFailed,    // "OpenDev Fail"
  kAccessFailed,  // "Access Device is Failed ! (n)"
  kSlotNotRead,   // Read Config Table failed: no message, the grid is emptied
};

// A hexadecimal field of the dialog: blanks around it, an optional "0x", then
// only hex digits, at most `max`. Nothing for an empty text or any other
// character.
std::optional<std::uint32_t> ParseHexField(std::string_view text, std::uint32_t max);

// The checks of Read Register and Write Register on the edits' texts, in the
// dialog's order: the address (at most FFFF), then the length (at most FFFF,
// zero only when typed as "0") or the value (its low byte is written).
struct RegisterInput {
  RegisterResult result = RegisterResult::kDone;  // kDone, kBadAddress or kBadLength
  std::uint16_t address = 0;
  std::uint32_t number = 0;  // the length, or the value
};
RegisterInput CheckRegisterRead(std::string_view address, std::string_view length);
RegisterInput CheckRegisterWrite(std::string_view address, std::string_view value);
// The message box of a refused input: its text and the caption "Error".
void ShowInputError(platform::MessageSink& sink, RegisterResult result);

class CDebugDlg {
 public:
  CDebugDlg(EngineeringAccess access, platform::MessageSink& sink, WindowDialogs& dialogs);

  // Opening: fills the lists from the device table, selects the first entries
  // and enables the controls when there is a bridge, else disables them.
  void Open();

  // A button by identifier; false when it is unknown or disabled.
  bool Command(int id);
  bool SelectItem(int id, int index);
  // Selects the port list's entry of a device-table slot; false when the
  // slot holds no bridge.
  bool SelectPort(int slot);
  // Text typed into one of the four edits.
  bool EditText(int id, const std::string& text);

  RegisterResult ReadRegister();
  RegisterResult WriteRegister();
  RegisterResult ReadConfigTable();

  std::string Title() const { return "Check Configuration Dialog"; }
  const Panel& Controls() const { return panel_; }
  // The hex grid shown (16 lines of 47 characters and a line feed).
  const std::string& Output() const { return panel_.At(ids::debug::kOutput).text; }
  // The bytes of the last successful read.
  const std::vector<std::uint8_t>& ShownBytes() const { return shown_; }
  int SelectedPort() const { return port_; }
  int SelectedImage() const { return image_; }
  CDeviceInfoDlg& DeviceInfo() { return info_; }

 private:
  void ShowError(profile::MessageId id);
  void ShowAccessFailed(int status);
  void Show(std::vector<std::uint8_t> bytes);

  EngineeringAccess access_;
  platform::MessageSink& sink_;
  WindowDialogs& dialogs_;
  CDeviceInfoDlg info_;
  Panel panel_;
  std::vector<std::uint8_t> shown_;
  int port_ = 0;
  int image_ = 0;
};

}  // namespace linetool::app
