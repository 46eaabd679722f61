#pragma once
// The main window's chip panel without widgets: the type, manufacturer and
// chip drop-down lists, the capacity text and what applying a chip does.
//
// Applying a chip makes its capacity the view length of the data buffer,
// shows its capacity text, enables Chip Erase only for SPI flash, writes its
// name as DefaultChipName of [Run], shows its name on the info line and logs
// "Chip:" name ", Manu" manufacturer ", " capacity text.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "romwright/link/chip_record.h"

namespace romwright::app {

class ChipDatabase;
class DataBuffer;
class HexViewModel;
class LanguageTable;
class SettingsFile;

// The status display the panel reports through (the window's ShowInfo and
// LogLine).
struct StatusHooks {
  std::function<void(const std::string&)> show_info;
  std::function<void(const std::string&)> log_line;
};

class ChipSelectionPresenter {
 public:
  static constexpr const char* kFallbackChip = "EN25T80";

  ChipSelectionPresenter(const ChipDatabase& db, DataBuffer& buffer, SettingsFile& settings,
                         const LanguageTable& texts, platform::MessageSink& sink, StatusHooks hooks,
                         HexViewModel* hex_view = nullptr);

  // Start-up: selects `name` (the DefaultChipName setting), or EN25T80 when
  // the database has no such chip, and refreshes the lists. False when
  // neither is in the database.
  bool SelectAtStartUp(std::string_view name);
  // Selects a chip by name (the chip search's result) and refreshes; false
  // and nothing changed when it is not in the database.
  bool SelectByName(std::string_view name);
  // Selects a record found otherwise (Detect Chip) and refreshes.
  void SelectRecord(const ChipRecord& record);

  // Fills the three lists from the selected chip and applies it.
  void Refresh();
  // The operator picked another entry in one of the lists.
  void TypeChanged(std::string_view type_text);
  void ManufacturerChanged(std::string_view manufacturer);
  void ChipChanged(std::string_view chip_name);

  const std::vector<std::string>& TypeItems() const { return type_items_; }
  const std::vector<std::string>& ManufacturerItems() const { return manufacturer_items_; }
  const std::vector<std::string>& ChipItems() const { return chip_items_; }
  const std::string& TypeText() const { return type_text_; }
  const std::string& ManufacturerText() const { return manufacturer_text_; }
  const std::string& ChipText() const { return chip_text_; }
  // The panel's capacity text in the current language (the log line of a
  // selection keeps the text of its moment), and its two parts: the capacity
  // itself and, for a 93-series chip of 16-bit words, the byte-order note
  // (else empty).
  std::string CapacityText() const;
  std::string CapacityLine() const;
  std::string ByteOrderNote() const;
  bool EraseEnabled() const { return erase_enabled_; }
  bool HasChip() const { return has_chip_; }
  const ChipRecord& Selected() const { return selected_; }
  // Set after a chip was applied: the window gives the hex view the focus.
  bool HexViewWantsFocus() const { return hex_view_wants_focus_; }

 private:
  void FillLists();
  void FillChips(std::string_view manufacturer, std::uint32_t type);
  void Apply();

  const ChipDatabase& db_;
  DataBuffer& buffer_;
  SettingsFile& settings_;
  const LanguageTable& texts_;
  platform::MessageSink& sink_;
  StatusHooks hooks_;
  HexViewModel* hex_view_;

  ChipRecord selected_{};
  bool has_chip_ = false;
  std::vector<std::string> type_items_;
  std::vector<std::string> manufacturer_items_;
  std::vector<std::string> chip_items_;
  std::string type_text_;
  std::string manufacturer_text_;
  std::string chip_text_;
  bool erase_enabled_ = false;
  bool hex_view_wants_focus_ = false;
};

}  // namespace romwright::app
