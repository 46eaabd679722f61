#pragma once
// The 16-row, 14-column port table of the main window over the status grid
// model: one row per port, the device columns 1-6 and the stage columns 7-13.

#include <array>
#include <cstdint>
#include <string>

#include "linetool/profile/message_texts.h"
#include "linetool/widgets/list_ctrl_ex.h"

namespace linetool::app {

inline constexpr int kGridRows = 16;
inline constexpr int kGridColumns = 14;
// The first stage column ("Config Update"); stage s is column kFirstStageColumn + s.
inline constexpr int kFirstStageColumn = 7;
inline constexpr int kCapacityColumn = 6;

struct GridColumn {
  profile::MessageId header;
  int width;  // pixels
};

// True for a stage cell that says the stage failed ("FAIL" in any case).
bool IsFailText(const std::string& text);

// Headers and widths of the 14 columns.
const std::array<GridColumn, kGridColumns>& GridColumns();

// The size a capacity text ("512 MB", "1863 GB") stands for, in MiB; -1 for
// an empty or unreadable text.
std::int64_t CapacityMiB(const std::string& text);

// The texts of columns 1-6 of a present device.
struct DeviceRowTexts {
  std::string status;  // link speed
  std::string vendor_id;
  std::string product_id;
  std::string serial_number;
  std::string firmware_version;
  std::string capacity;
};

// Cells are addressed by port: port k is row k until a header click sorts the
// rows, and its texts and colours go with it when they move.
class PortGrid {
 public:
  PortGrid();
  // The capacity column's comparison refers to this grid.
  PortGrid(const PortGrid&) = delete;
  PortGrid& operator=(const PortGrid&) = delete;

  // Writes a text into a cell; "FAIL" (any case) is white on red, any other
  // text black on white. A text other than "FAIL" drops the cell's note.
  void SetResultCell(int port, int column, const std::string& text);
  // Plain text; an empty text clears the cell: its colours and note go too.
  void SetText(int port, int column, const std::string& text);
  // Clears one cell; false when it was clear already.
  bool ClearCell(int port, int column);
  // Clears columns [first, last] of every row.
  void ClearColumns(int first, int last);
  // Columns 1-6 of a present device's row (column 5 through SetResultCell).
  void ShowDevice(int port, const DeviceRowTexts& texts);
  // Why the stage of a cell failed; shown with the cell's "FAIL".
  void SetNote(int port, int column, const std::string& reason);
  // The note of a cell that shows "FAIL" (empty otherwise).
  std::string Note(int port, int column) const;

  const std::string& Text(int port, int column) const { return model_.Text(RowOf(port), column); }
  widgets::CListCtrlEx::Colours Colours(int port, int column) const {
    return model_.CellColours(RowOf(port), column);
  }
  // The row a port's cells are shown in now.
  int RowOf(int port) const;
  // A header click: every column sorts by its type, the direction flipping on
  // each click (ascending first); the capacity by its size. False when
  // nothing was sorted.
  bool SortByHeader(int column);
  // The rows back in port order, with no column sorted (the next click of a
  // header sorts ascending again).
  void Unsort();

  // The rows in the order shown.
  const widgets::CListCtrlEx& Model() const { return model_; }

 private:
  widgets::CListCtrlEx model_;
  // By port: the capacity column's size, and the cells' notes.
  std::array<std::int64_t, kGridRows> capacity_{};
  std::array<std::array<std::string, kGridColumns>, kGridRows> notes_;
};

}  // namespace linetool::app
