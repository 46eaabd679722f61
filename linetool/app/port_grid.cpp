#include "linetool/app/port_grid.h"

#include <algorithm>
#include <cctype>

namespace linetool::app {

bool IsFailText(const std::string& text) {
  static constexpr std::string_view kFail = "FAIL";
  return text.size() == kFail.size() &&
         std::equal(text.begin(), text.end(), kFail.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

const std::array<GridColumn, kGridColumns>& GridColumns() {
  static const std::array<GridColumn, kGridColumns> columns = {{
      {profile::MessageId::kColumnPort, 46},
      {profile::MessageId::kColumnStatus, 55},
      {profile::MessageId::kColumnVid, 45},
      {profile::MessageId::kColumnPid, 45},
      {profile::MessageId::kColumnSerialNumber, 164},
      {profile::MessageId::kColumnFwVersion, 97},
      {profile::MessageId::kColumnCapacity, 68},
      {profile::MessageId::kColumnConfigUpdate, 101},
      {profile::MessageId::kColumnFwUpdate, 85},
      {profile::MessageId::kColumnReLink, 60},
      {profile::MessageId::kColumnPartition, 63},
      {profile::MessageId::kColumnFormat, 57},
      {profile::MessageId::kColumnRwTest, 72},
      {profile::MessageId::kColumnPreload, 64},
  }};
  return columns;
}

// The sort type of each column: the port number as an integer, every text
// without regard to case, and numbers among texts (the capacity) as numbers
// where they are written as plain integers.
constexpr std::array<int, kGridColumns> kSortTypes = {1, 5, 5, 5, 6, 5, 6, 5, 5, 5, 5, 5, 5, 5};

PortGrid::PortGrid() : model_(kGridColumns) {
  for (int row = 0; row < kGridRows; ++row) model_.InsertRow(row, std::to_string(row), row);
  for (int column = 0; column < kGridColumns; ++column)
    model_.SetColumnSort(column, widgets::kSortToggle, kSortTypes[static_cast<std::size_t>(column)]);
}

int PortGrid::RowOf(int port) const {
  for (int row = 0; row < model_.RowCount(); ++row) {
    const auto* data = model_.RowData(row);
    if (data != nullptr && data->value == port) return row;
  }
  return -1;
}

bool PortGrid::SortByHeader(int column) { return model_.SortByColumn(column, true); }

void PortGrid::SetText(int port, int column, const std::string& text) { model_.SetText(RowOf(port), column, text); }

void PortGrid::SetResultCell(int port, int column, const std::string& text) {
  const int row = RowOf(port);
  model_.SetText(row, column, text);
  if (IsFailText(text)) {
    model_.SetCellColours(row, column, widgets::kRed, widgets::kWhite);
  } else {
    model_.SetCellColours(row, column, widgets::kWhite, widgets::kBlack);
  }
}

void PortGrid::ClearColumns(int first, int last) {
  for (int row = 0; row < kGridRows; ++row)
    for (int column = first; column <= last; ++column) model_.SetText(row, column, {});
}

void PortGrid::ShowDevice(int port, const DeviceRowTexts& t) {
  SetText(port, 1, t.status);
  SetText(port, 2, t.vendor_id);
  SetText(port, 3, t.product_id);
  SetText(port, 4, t.serial_number);
  SetResultCell(port, 5, t.firmware_version);
  SetText(port, 6, t.capacity);
}

}  // namespace linetool::app
