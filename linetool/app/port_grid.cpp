#include "linetool/app/port_grid.h"

#include <algorithm>
#include <cctype>

namespace linetool::app {

namespace {

bool IsFailText(const std::string& text) {
  static constexpr std::string_view kFail = "FAIL";
  return text.size() == kFail.size() &&
         std::equal(text.begin(), text.end(), kFail.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

}  // namespace

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

PortGrid::PortGrid() : model_(kGridColumns) {
  for (int row = 0; row < kGridRows; ++row) model_.InsertRow(row, std::to_string(row), row);
}

void PortGrid::SetResultCell(int row, int column, const std::string& text) {
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

void PortGrid::ShowDevice(int row, const DeviceRowTexts& t) {
  model_.SetText(row, 1, t.status);
  model_.SetText(row, 2, t.vendor_id);
  model_.SetText(row, 3, t.product_id);
  model_.SetText(row, 4, t.serial_number);
  SetResultCell(row, 5, t.firmware_version);
  model_.SetText(row, 6, t.capacity);
}

}  // namespace linetool::app
