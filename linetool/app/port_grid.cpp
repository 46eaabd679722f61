#include "linetool/app/port_grid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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
// without regard to case, and numbers among texts as numbers where they are
// written as plain integers. The capacity sorts by its size (below).
constexpr std::array<int, kGridColumns> kSortTypes = {1, 5, 5, 5, 6, 5, 6, 5, 5, 5, 5, 5, 5, 5};

std::int64_t CapacityMiB(const std::string& text) {
  unsigned long long n = 0;
  char unit[3] = {};
  if (std::sscanf(text.c_str(), "%llu %2s", &n, unit) != 2) return -1;
  const std::string u(unit);
  if (u == "MB") return static_cast<std::int64_t>(n);
  if (u == "GB") return static_cast<std::int64_t>(n) * 1024;
  return -1;
}

PortGrid::PortGrid() : model_(kGridColumns) {
  capacity_.fill(-1);
  for (int row = 0; row < kGridRows; ++row) model_.InsertRow(row, std::to_string(row), row);
  for (int column = 0; column < kGridColumns; ++column)
    model_.SetColumnSort(column, widgets::kSortToggle, kSortTypes[static_cast<std::size_t>(column)]);
  // Sizes as sizes: 31 GB before 232 GB before 1863 GB; an unknown size first.
  model_.SetColumnSort(kCapacityColumn, widgets::kSortToggle, 0, [this](std::intptr_t a, std::intptr_t b) {
    const std::int64_t x = capacity_[static_cast<std::size_t>(a)];
    const std::int64_t y = capacity_[static_cast<std::size_t>(b)];
    return x < y ? -1 : (x > y ? 1 : 0);
  });
}

int PortGrid::RowOf(int port) const {
  for (int row = 0; row < model_.RowCount(); ++row) {
    const auto* data = model_.RowData(row);
    if (data != nullptr && data->value == port) return row;
  }
  return -1;
}

bool PortGrid::SortByHeader(int column) { return model_.SortByColumn(column, true); }

void PortGrid::Unsort() { model_.ClearSort(); }

namespace {
bool IsPort(int port) { return port >= 0 && port < kGridRows; }
bool IsCell(int port, int column) { return IsPort(port) && column >= 0 && column < kGridColumns; }
}  // namespace

void PortGrid::SetText(int port, int column, const std::string& text) {
  if (!IsCell(port, column)) return;
  if (text.empty()) {
    ClearCell(port, column);
    return;
  }
  model_.SetText(RowOf(port), column, text);
  if (column == kCapacityColumn) capacity_[static_cast<std::size_t>(port)] = CapacityMiB(text);
}

bool PortGrid::ClearCell(int port, int column) {
  if (!IsCell(port, column)) return false;
  const int row = RowOf(port);
  const widgets::CListCtrlEx::CellInfo* cell = model_.Cell(row, column);
  std::string& note = notes_[static_cast<std::size_t>(port)][static_cast<std::size_t>(column)];
  const bool coloured =
      cell != nullptr && (cell->background != widgets::kColourNone || cell->text != widgets::kColourNone);
  if (model_.Text(row, column).empty() && !coloured && note.empty()) return false;
  model_.SetText(row, column, {});
  if (coloured) model_.SetCellColours(row, column, widgets::kColourNone, widgets::kColourNone);
  note.clear();
  if (column == kCapacityColumn) capacity_[static_cast<std::size_t>(port)] = -1;
  return true;
}

void PortGrid::SetResultCell(int port, int column, const std::string& text) {
  if (!IsCell(port, column)) return;
  if (text.empty()) {
    ClearCell(port, column);
    return;
  }
  const int row = RowOf(port);
  model_.SetText(row, column, text);
  if (IsFailText(text)) {
    model_.SetCellColours(row, column, widgets::kRed, widgets::kWhite);
  } else {
    model_.SetCellColours(row, column, widgets::kWhite, widgets::kBlack);
    notes_[static_cast<std::size_t>(port)][static_cast<std::size_t>(column)].clear();
  }
}

void PortGrid::SetNote(int port, int column, const std::string& reason) {
  if (IsCell(port, column)) notes_[static_cast<std::size_t>(port)][static_cast<std::size_t>(column)] = reason;
}

std::string PortGrid::Note(int port, int column) const {
  if (!IsCell(port, column) || !IsFailText(Text(port, column))) return {};
  return notes_[static_cast<std::size_t>(port)][static_cast<std::size_t>(column)];
}

void PortGrid::ClearColumns(int first, int last) {
  for (int port = 0; port < kGridRows; ++port)
    for (int column = first; column <= last; ++column) ClearCell(port, column);
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
