#pragma once
// The 16-row, 14-column port table of the main window over the status grid
// model: one row per port, the device columns 1-6 and the stage columns 7-13.

#include <array>
#include <string>

#include "linetool/profile/message_texts.h"
#include "linetool/widgets/list_ctrl_ex.h"

namespace linetool::app {

inline constexpr int kGridRows = 16;
inline constexpr int kGridColumns = 14;
// The first stage column ("Config Update"); stage s is column kFirstStageColumn + s.
inline constexpr int kFirstStageColumn = 7;

struct GridColumn {
  profile::MessageId header;
  int width;  // pixels
};

// True for a stage cell that says the stage failed ("FAIL" in any case).
bool IsFailText(const std::string& text);

// Headers and widths of the 14 columns.
const std::array<GridColumn, kGridColumns>& GridColumns();

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

  // Writes a text into a cell; "FAIL" (any case) is white on red, any other
  // text black on white.
  void SetResultCell(int port, int column, const std::string& text);
  void SetText(int port, int column, const std::string& text);
  // Empties columns [first, last] of every row (colours stay as they are).
  void ClearColumns(int first, int last);
  // Columns 1-6 of a present device's row (column 5 through SetResultCell).
  void ShowDevice(int port, const DeviceRowTexts& texts);

  const std::string& Text(int port, int column) const { return model_.Text(RowOf(port), column); }
  widgets::CListCtrlEx::Colours Colours(int port, int column) const {
    return model_.CellColours(RowOf(port), column);
  }
  // The row a port's cells are shown in now.
  int RowOf(int port) const;
  // A header click: every column sorts by its type, the direction flipping on
  // each click (ascending first). False when nothing was sorted.
  bool SortByHeader(int column);

  // The rows in the order shown.
  const widgets::CListCtrlEx& Model() const { return model_; }

 private:
  widgets::CListCtrlEx model_;
};

}  // namespace linetool::app
