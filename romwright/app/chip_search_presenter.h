#pragma once
// The chip search dialog without widgets: the name field, the result text
// "Find N Chips!" and the result list with its four columns.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "romwright/app/chip_selection_presenter.h"

namespace romwright::app {

class ChipDatabase;
class LanguageTable;

class ChipSearchPresenter {
 public:
  struct Column {
    std::string title;
    int width;
  };
  struct Row {
    std::string name;
    std::string capacity;
    std::string manufacturer;
    std::string type;
  };

  ChipSearchPresenter(const ChipDatabase& db, const LanguageTable& texts, platform::MessageSink& sink,
                      StatusHooks hooks);

  // Opening: logs "Search chip!" and lists every chip.
  void Open();
  // The field changed; it holds at most 20 characters.
  void SetPattern(std::string_view text);
  // "Select" or a double click with the selected row, if any. The chip name
  // to select, or nothing after "Please select a chip!" (the dialog stays).
  std::optional<std::string> Select(std::optional<std::size_t> selected_row);
  // Cancel: logs "Search chip cancel!".
  void Cancel();

  const std::string& Pattern() const { return pattern_; }
  const std::string& ResultText() const { return result_text_; }
  const std::vector<Row>& Rows() const { return rows_; }
  std::vector<Column> Columns() const;

 private:
  const ChipDatabase& db_;
  const LanguageTable& texts_;
  platform::MessageSink& sink_;
  StatusHooks hooks_;
  std::string pattern_;
  std::string result_text_;
  std::vector<Row> rows_;
};

}  // namespace romwright::app
