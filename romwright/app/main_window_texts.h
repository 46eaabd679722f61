#pragma once
// The main window's command identifiers and the texts a language gives it:
// menu and toolbar choice, the checked language item, title, chip panel
// labels, toolbar tooltips, the About box and the link-state text.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace romwright::app {

class LanguageTable;

// Menu and toolbar commands (the same identifiers in both menus).
namespace command {
inline constexpr std::uint32_t kOpen = 32884, kSave = 32885, kExit = 32841;
inline constexpr std::uint32_t kBufferFill = 32894, kByteSwap = 32895, kAddressLocation = 32939;
inline constexpr std::uint32_t kAuto = 32891, kChipErase = 32886, kWriteChip = 32887, kReadChip = 32889,
                               kVerifyChip = 32888, kDetectChip = 32881, kSelfTest = 32928,
                               kReadSerialNumber = 32937;
inline constexpr std::uint32_t kReadFirmwareVersion = 32893, kUpdateFirmware = 32897;
inline constexpr std::uint32_t kEnglish = 32933, kSimpleChinese = 32935;
inline constexpr std::uint32_t kUserManual = 32862, kAbout = 32863;
inline constexpr std::uint32_t kSystemAbout = 16;  // the About item of the system menu
}  // namespace command

// Toolbar button → language entry of its tooltip.
inline constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 14> kToolbarTooltips = {{
    {command::kOpen, 4}, {command::kSave, 5}, {command::kBufferFill, 6}, {command::kByteSwap, 7},
    {command::kAuto, 8}, {command::kChipErase, 9}, {command::kWriteChip, 10}, {command::kVerifyChip, 11},
    {command::kReadChip, 12}, {command::kDetectChip, 13}, {command::kReadFirmwareVersion, 14},
    {command::kUpdateFirmware, 15}, {command::kUserManual, 16}, {command::kAbout, 17},
}};

// The file pickers' filters, as "label|pattern|" pairs.
inline constexpr const char* kOpenFileFilter = "All File(*.*)|*.*|Bin File(*.bin)|*.bin|Hex File(*.hex)|*.hex|";
inline constexpr const char* kSaveFileFilter = "Bin File(*.bin)|*.bin|Hex File(*.hex)|*.hex|";
inline constexpr const char* kSaveFileExtension = "bin";
// Room for file names the pickers leave.
inline constexpr std::size_t kFilePickerRoom = 5000;

struct FileFilter {
  std::string label;    // "Bin File(*.bin)"
  std::string pattern;  // "*.bin"; several are separated by ";"
};
// Splits a filter text of "label|pattern|" pairs; a pair without its pattern
// is dropped.
std::vector<FileFilter> SplitFileFilter(std::string_view filter);

// The menu bar of one language: menus and their items; an item with
// identifier 0 is a separator. Both languages carry the same identifiers.
struct MenuItem {
  std::uint32_t id = 0;
  std::string_view caption;
};
struct Menu {
  std::string_view caption;
  std::vector<MenuItem> items;
};
const std::vector<Menu>& MainMenu(bool english);

struct LanguageView {
  bool english_menu = false;  // English menu and toolbar; else the Chinese ones
  bool english_checked = false;
  bool chinese_checked = false;
  std::string title;       // Caption setting + the file-name suffix
  std::string about_item;  // system menu item 16
  // "Select Chip", "Type:", "Manu:", "Chip:", "Capacity:", "Search..."
  std::array<std::string, 6> panel_labels;
  bool erase_enabled = false;  // Chip Erase only for SPI flash
};

// What applying the current language sets in the window. `title_suffix` is
// the part of the title after the caption (empty at start-up).
LanguageView ApplyLanguage(const LanguageTable& texts, std::string_view title_suffix, bool spi_flash_selected);

struct AboutBox {
  std::array<std::string, 3> lines;  // Version, Company, Website settings
  std::string button;                // "OK"
};
AboutBox AboutBoxOf(const LanguageTable& texts);

// "USB Link OK!" or "No USB Link!".
const std::string& LinkStateText(const LanguageTable& texts, bool linked);

}  // namespace romwright::app
