#include "romwright/app/chip_selection_presenter.h"

#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_texts.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/hex_view_model.h"
#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"

namespace romwright::app {

namespace {
constexpr std::uint32_t kTextDatabaseError = 18;
constexpr std::uint32_t kTextChip = 81;
constexpr std::uint32_t kTextManu = 82;
constexpr std::uint32_t kTextByteOrderNote = 80;
}  // namespace

ChipSelectionPresenter::ChipSelectionPresenter(const ChipDatabase& db, DataBuffer& buffer, SettingsFile& settings,
                                               const LanguageTable& texts, platform::MessageSink& sink,
                                               StatusHooks hooks, HexViewModel* hex_view)
    : db_(db),
      buffer_(buffer),
      settings_(settings),
      texts_(texts),
      sink_(sink),
      hooks_(std::move(hooks)),
      hex_view_(hex_view) {
  for (std::uint32_t t = 0; t < 4; ++t) type_items_.emplace_back(TypeName(t));
}

bool ChipSelectionPresenter::SelectAtStartUp(std::string_view name) {
  auto chip = db_.FindByName(name);
  if (!chip) chip = db_.FindByName(kFallbackChip);
  if (!chip) return false;
  SelectRecord(*chip);
  return true;
}

bool ChipSelectionPresenter::SelectByName(std::string_view name) {
  const auto chip = db_.FindByName(name);
  if (!chip) return false;
  SelectRecord(*chip);
  return true;
}

void ChipSelectionPresenter::SelectRecord(const ChipRecord& record) {
  selected_ = record;
  has_chip_ = true;
  Refresh();
}

void ChipSelectionPresenter::FillChips(std::string_view manufacturer, std::uint32_t type) {
  chip_items_.clear();
  for (const auto& c : db_.ListChips(manufacturer, type)) chip_items_.push_back(NameOf(c));
}

void ChipSelectionPresenter::FillLists() {
  type_text_ = std::string(TypeName(selected_.type));
  manufacturer_items_ = db_.ListManufacturers(selected_.type);
  manufacturer_text_ = ManufacturerOf(selected_);
  FillChips(manufacturer_text_, selected_.type);
  chip_text_ = NameOf(selected_);
}

void ChipSelectionPresenter::Refresh() {
  FillLists();
  Apply();
}

void ChipSelectionPresenter::TypeChanged(std::string_view type_text) {
  const std::uint32_t type = TypeFromName(type_text);
  if (has_chip_ && type == selected_.type) return;
  type_text_ = std::string(type_text);
  manufacturer_items_ = db_.ListManufacturers(type);
  manufacturer_text_ = manufacturer_items_.empty() ? std::string() : manufacturer_items_.front();
  FillChips(manufacturer_text_, type);
  chip_text_ = chip_items_.empty() ? std::string() : chip_items_.front();
  Apply();
}

void ChipSelectionPresenter::ManufacturerChanged(std::string_view manufacturer) {
  if (has_chip_ && manufacturer == ManufacturerOf(selected_)) return;
  manufacturer_text_ = std::string(manufacturer);
  FillChips(manufacturer, selected_.type);
  chip_text_ = chip_items_.empty() ? std::string() : chip_items_.front();
  Apply();
}

void ChipSelectionPresenter::ChipChanged(std::string_view chip_name) {
  chip_text_ = std::string(chip_name);
  Apply();
}

void ChipSelectionPresenter::Apply() {
  if (!has_chip_ || chip_text_ != NameOf(selected_)) {
    const auto chip = db_.FindByName(chip_text_);
    if (!chip) {
      sink_.Show(texts_.TextOf(kTextDatabaseError));
      // The previous chip stays; the lists show it again.
      if (has_chip_) FillLists();
      return;
    }
    selected_ = *chip;
    has_chip_ = true;
  }
  buffer_.SetViewLength(selected_.capacity);
  if (hex_view_) hex_view_->LengthChanged();
  const std::string capacity_text = CapacityText();
  erase_enabled_ = selected_.type == static_cast<std::uint32_t>(ChipType::kSpiFlash);
  const std::string name = NameOf(selected_);
  settings_.Write(kRunSection, kDefaultChipKey, name);
  if (hooks_.show_info) hooks_.show_info(name);
  if (hooks_.log_line) {
    hooks_.log_line(texts_.TextOf(kTextChip) + name + ", " + texts_.TextOf(kTextManu) + ManufacturerOf(selected_) +
                    ", " + capacity_text);
  }
  hex_view_wants_focus_ = true;
}

std::string ChipSelectionPresenter::CapacityText() const {
  return has_chip_ ? PanelCapacityText(selected_, texts_.TextOf(kTextByteOrderNote)) : std::string();
}

std::string ChipSelectionPresenter::CapacityLine() const {
  const std::string text = CapacityText();
  return text.substr(0, text.find("\r\n"));
}

std::string ChipSelectionPresenter::ByteOrderNote() const {
  const std::string text = CapacityText();
  const auto gap = text.find("\r\n\r\n");
  if (gap == std::string::npos) return {};
  std::string note = text.substr(gap + 4);
  while (!note.empty() && (note.back() == '\r' || note.back() == '\n')) note.pop_back();
  return note;
}

}  // namespace romwright::app
