#pragma once
// The status grid's model: a report-style list with colours per cell, per row
// and per column, resolved each time a cell is drawn, and rows sorted by a typed
// comparison when a column header is clicked. A view only paints what
// CellColours() and Text() answer. Not thread-safe: its owner serialises access.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace linetool::widgets {

// A 32-bit colour value in the order 0x00BBGGRR; kColourNone means "not set".
using Colour = std::int64_t;
inline constexpr Colour kColourNone = -1;
inline constexpr Colour kRed = 0x0000FF;
inline constexpr Colour kWhite = 0xFFFFFF;
inline constexpr Colour kBlack = 0x000000;

// Sort flags of a column.
inline constexpr unsigned kSortAscending = 0x1;
inline constexpr unsigned kSortDescending = 0x2;
inline constexpr unsigned kSortToggle = 0x4;

enum class SortArrow { kNone, kUp, kDown };

class CListCtrlEx {
 public:
  struct CellInfo {
    int subitem = 0;
    Colour background = kColourNone;
    Colour text = kColourNone;
    bool read_only = false;
    std::intptr_t value = 0;
  };
  struct ItemData {
    std::vector<std::unique_ptr<CellInfo>> cells;
    Colour background = kColourNone;
    Colour text = kColourNone;
    std::intptr_t value = 0;  // the caller's own row value
  };
  // Compares two rows by their caller values; negative, zero or positive.
  using Compare = std::function<int(std::intptr_t, std::intptr_t)>;
  struct ColumnInfo {
    int column = 0;
    Colour background = kColourNone;
    Colour text = kColourNone;
    bool read_only = false;
    unsigned sort_flags = 0;
    int sort_type = 0;
    Compare compare;
  };
  struct Colours {
    Colour background;
    Colour text;
    bool operator==(const Colours&) const = default;
  };

  explicit CListCtrlEx(int columns, Colour default_background = kWhite,
                       Colour default_text = kBlack);

  int ColumnCount() const { return columns_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }

  // Inserts a row at `index` (clamped to the end) with the text of column 0 and
  // the caller's row value; returns the row's index.
  int InsertRow(int index, const std::string& text, std::intptr_t value = 0);
  void DeleteRow(int row);
  void DeleteAllRows();

  // Plain cell text; out-of-range cells are ignored / read as empty.
  void SetText(int row, int column, const std::string& text);
  const std::string& Text(int row, int column) const;

  // Colours of one cell; ignored when the row or column is out of range.
  void SetCellColours(int row, int column, Colour background, Colour text);
  void SetRowColours(int row, Colour background, Colour text);
  void SetColumnColours(int column, Colour background, Colour text);
  void SetColumnSort(int column, unsigned flags, int sort_type, Compare compare = {});

  // The colours a cell is drawn with: the cell's setting, else the row's, else
  // the column's (the first level with at least one colour set decides), each
  // colour falling back to the grid default.
  Colours CellColours(int row, int column) const;

  // Sorts the rows by a column. A click toggles the direction of a column whose
  // toggle flag is set; a column with no sort flag does not sort.
  // Returns false when nothing was sorted.
  bool SortByColumn(int column, bool from_click);
  // The rows back in the order of their caller values, no column sorted and
  // every toggling column fresh again (its next click sorts ascending).
  void ClearSort();
  int SortColumn() const { return sort_column_; }
  SortArrow Arrow(int column) const;

  // Read access for tests and views.
  const ItemData* RowData(int row) const;
  const CellInfo* Cell(int row, int column) const;
  const ColumnInfo* Column(int column) const;

  // Compares two texts by a sort type (0..7; others as 3).
  static int CompareTexts(const std::string& a, const std::string& b, int sort_type);

 private:
  struct Row {
    std::vector<std::string> texts;
    std::unique_ptr<ItemData> data;
  };
  bool InRange(int row, int column) const;
  ItemData& DataOf(int row);
  ColumnInfo& ColumnOf(int column);

  int columns_;
  Colour default_background_;
  Colour default_text_;
  std::vector<Row> rows_;
  std::map<int, ColumnInfo> column_info_;
  int sort_column_ = -1;
};

}  // namespace linetool::widgets
