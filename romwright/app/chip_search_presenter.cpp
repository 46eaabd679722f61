#include "romwright/app/chip_search_presenter.h"

#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_texts.h"
#include "romwright/settings/language_table.h"

namespace romwright::app {

namespace {
constexpr std::uint32_t kTextSearchChip = 78;
constexpr std::uint32_t kTextSearchCancel = 79;
constexpr std::uint32_t kTextFind = 121;
constexpr std::uint32_t kTextChips = 122;
constexpr std::uint32_t kTextPleaseSelect = 123;
}  // namespace

ChipSearchPresenter::ChipSearchPresenter(const ChipDatabase& db, const LanguageTable& texts,
                                         platform::MessageSink& sink, StatusHooks hooks)
    : db_(db), texts_(texts), sink_(sink), hooks_(std::move(hooks)) {}

void ChipSearchPresenter::Open() {
  if (hooks_.log_line) hooks_.log_line(texts_.TextOf(kTextSearchChip));
  SetPattern(pattern_);
}

void ChipSearchPresenter::SetPattern(std::string_view text) {
  pattern_ = std::string(text.substr(0, kMaxSearchPattern));
  const auto found = db_.SearchChips(pattern_);
  result_text_ = texts_.TextOf(kTextFind) + std::to_string(found.size()) + texts_.TextOf(kTextChips);
  rows_.clear();
  for (const auto& c : found) {
    rows_.push_back({NameOf(c), SearchCapacityText(c), ManufacturerOf(c), std::string(TypeName(c.type))});
  }
}

std::optional<std::string> ChipSearchPresenter::Select(std::optional<std::size_t> selected_row) {
  if (!selected_row || *selected_row >= rows_.size()) {
    sink_.Show(texts_.TextOf(kTextPleaseSelect));
    return std::nullopt;
  }
  return rows_[*selected_row].name;
}

void ChipSearchPresenter::Cancel() {
  if (hooks_.log_line) hooks_.log_line(texts_.TextOf(kTextSearchCancel));
}

std::vector<ChipSearchPresenter::Column> ChipSearchPresenter::Columns() const {
  return {{texts_.TextOf(117), 100}, {texts_.TextOf(118), 80}, {texts_.TextOf(119), 80}, {texts_.TextOf(120), 80}};
}

}  // namespace romwright::app
