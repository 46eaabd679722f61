#include "linetool/ui/main_window_layout.h"

#include <cmath>

#include "linetool/app/control_ids.h"

namespace linetool::ui {

namespace ids = app::ids;
using K = ControlKind;

int UnitsToPixels(int units) { return static_cast<int>(std::lround(units * kPixelsPerUnit)); }

PixelRect ToPixels(const Placement& p) {
  const int x = UnitsToPixels(p.x);
  const int y = UnitsToPixels(p.y);
  return PixelRect{x, y, UnitsToPixels(p.x + p.width) - x, UnitsToPixels(p.y + p.height) - y};
}

const std::vector<Placement>& MainWindowLayout() {
  // Rows of the configuration group start at 38 and are 14 units apart.
  constexpr int kRow = 14;
  constexpr int kTop = 38;
  static const std::vector<Placement> layout = {
      // Title band: logo, version line, warning, profile buttons, window buttons.
      {ids::kLogo, K::kPicture, 6, 3, 66, 19, ""},
      {ids::kVersion, K::kVersionLine, 78, 8, 150, 10, "Kelv 770 LineTool Ver 2.0.2"},
      {ids::kWarning, K::kLabel, 232, 8, 140, 10, "Warning message"},
      {ids::kLoadIni, K::kIconButton, 382, 4, 18, 16, ""},
      {ids::kSaveIni, K::kIconButton, 402, 4, 18, 16, ""},
      {ids::kLock, K::kIconButton, 422, 4, 18, 16, ""},
      {ids::kCheckConfig, K::kIconButton, 442, 4, 18, 16, ""},
      {ids::kMinimise, K::kIconButton, 471, 4, 15, 12, ""},
      {ids::kExit, K::kIconButton, 488, 4, 15, 12, ""},

      // Device configuration.
      {ids::kGroupDeviceConfiguration, K::kGroup, 6, 26, 196, 143, "Device Configuration"},
      {ids::kLabelFormat, K::kLabel, 12, kTop, 70, 12, "Format"},
      {ids::kFormatList, K::kDropList, 84, kTop, 112, 12, ""},
      {ids::kLabelVendorId, K::kLabel, 12, kTop + kRow, 70, 12, "Vendor ID"},
      {ids::kVendorId, K::kEdit, 84, kTop + kRow, 112, 12, ""},
      {ids::kLabelProductId, K::kLabel, 12, kTop + 2 * kRow, 70, 12, "Product ID"},
      {ids::kProductId, K::kEdit, 84, kTop + 2 * kRow, 112, 12, ""},
      {ids::kLabelRevision, K::kLabel, 12, kTop + 3 * kRow, 70, 12, "Device Revision"},
      {ids::kRevision, K::kEdit, 84, kTop + 3 * kRow, 112, 12, ""},
      {ids::kLabelSerialNumber, K::kLabel, 12, kTop + 4 * kRow, 70, 12, "Serial Number"},
      {ids::kSerialNumber, K::kEdit, 84, kTop + 4 * kRow, 112, 12, ""},
      {ids::kLabelSerialMode, K::kLabel, 12, kTop + 5 * kRow, 70, 12, "S/N Increase"},
      {ids::kSerialMode, K::kDropList, 84, kTop + 5 * kRow, 112, 12, ""},
      {ids::kLabelManufacturer, K::kLabel, 12, kTop + 6 * kRow, 70, 12, "Manufacturer String"},
      {ids::kManufacturer, K::kEdit, 84, kTop + 6 * kRow, 112, 12, ""},
      {ids::kLabelProduct, K::kLabel, 12, kTop + 7 * kRow, 70, 12, "Product String"},
      {ids::kProduct, K::kEdit, 84, kTop + 7 * kRow, 112, 12, ""},
      {ids::kLabelIdleTimer, K::kLabel, 12, kTop + 8 * kRow, 70, 12, "Idle Timer"},
      {ids::kIdleTimer, K::kDropList, 84, kTop + 8 * kRow, 90, 12, ""},
      {ids::kMoreConfig, K::kIconButton, 178, kTop + 8 * kRow - 1, 18, 14, ""},

      // Device function: auto mode and the six stage switches.
      {ids::kGroupDeviceFunction, K::kGroup, 208, 26, 124, 143, "Device Function"},
      {ids::kAutoMode, K::kCheck, 214, kTop, 112, 12, "MP Auto Mode"},
      {ids::kUpdateConfig, K::kCheck, 214, kTop + kRow, 112, 12, "Update Config"},
      {ids::kUpdateFw, K::kCheck, 214, kTop + 2 * kRow, 112, 12, "Update FW"},
      {ids::kReloadFw, K::kCheck, 214, kTop + 3 * kRow, 112, 12, "Reload FW"},
      {ids::kPartitionFormat, K::kCheck, 214, kTop + 4 * kRow, 112, 12, "Partition / Format"},
      {ids::kLabelFileSystem, K::kLabel, 226, kTop + 5 * kRow, 34, 12, "Type"},
      {ids::kFileSystem, K::kDropList, 264, kTop + 5 * kRow, 62, 12, ""},
      {ids::kLabelDriveLabel, K::kLabel, 226, kTop + 6 * kRow, 38, 12, "Drive Label"},
      {ids::kDriveLabel, K::kEdit, 264, kTop + 6 * kRow, 62, 12, ""},
      {ids::kWrTest, K::kCheck, 214, kTop + 7 * kRow, 112, 12, "W/R Test"},
      {ids::kPreload, K::kCheck, 214, kTop + 8 * kRow, 112, 12, "Preload Files"},

      // Firmware and preload browsers.
      {ids::kGroupFwBrowser, K::kGroup, 338, 26, 165, 31, "FW Browser"},
      {ids::kBrowseFw, K::kIconButton, 344, 38, 18, 14, ""},
      {ids::kFwList, K::kDropDown, 366, 39, 131, 12, ""},
      {ids::kGroupPreloadBrowser, K::kGroup, 338, 60, 165, 31, "Preload Browser"},
      {ids::kBrowsePreload, K::kIconButton, 344, 72, 18, 14, ""},
      {ids::kPreloadList, K::kDropDown, 366, 73, 131, 12, ""},

      // Counters, Start and Safely Remove, progress.
      {ids::kLabelPass, K::kLabel, 341, 97, 24, 12, "Pass"},
      {ids::kPassCount, K::kReadOnlyEdit, 366, 97, 46, 12, ""},
      {ids::kLabelFail, K::kLabel, 341, 111, 24, 12, "Fail"},
      {ids::kFailCount, K::kReadOnlyEdit, 366, 111, 46, 12, ""},
      {ids::kLabelTotal, K::kLabel, 341, 125, 24, 12, "Total"},
      {ids::kTotalCount, K::kReadOnlyEdit, 366, 125, 46, 12, ""},
      {ids::kClear, K::kIconButton, 416, 110, 18, 14, ""},
      {ids::kStart, K::kIconButton, 439, 95, 31, 30, ""},
      {ids::kSafelyRemove, K::kIconButton, 473, 95, 30, 30, ""},
      {ids::kLabelProgressBar, K::kLabel, 341, 141, 48, 12, "Progress Bar"},
      {ids::kProgressBar, K::kProgressBar, 392, 142, 111, 10, ""},
      {ids::kLabelProgress, K::kLabel, 341, 155, 48, 12, "Progress"},
      {ids::kProgressText, K::kReadOnlyEdit, 392, 155, 46, 12, ""},

      // The port grid.
      {ids::kGrid, K::kGrid, 6, 174, 497, 141, ""},
  };
  return layout;
}

const Placement* PlacementOf(int id) {
  for (const auto& p : MainWindowLayout())
    if (p.id == id) return &p;
  return nullptr;
}

}  // namespace linetool::ui
