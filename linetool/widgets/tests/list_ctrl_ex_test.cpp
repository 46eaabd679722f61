#include "linetool/widgets/list_ctrl_ex.h"

#include <gtest/gtest.h>

using namespace linetool::widgets;
using Colours = CListCtrlEx::Colours;

namespace {
constexpr Colour kGreen = 0x00FF00;
constexpr Colour kBlue = 0xFF0000;
constexpr Colour kGrey = 0xC0C0C0;

CListCtrlEx MakeGrid(int rows, int columns = 3) {
  CListCtrlEx grid(columns, kWhite, kBlack);
  for (int r = 0; r < rows; ++r) grid.InsertRow(r, std::to_string(r), r);
  return grid;
}

std::vector<std::string> Column(const CListCtrlEx& grid, int column) {
  std::vector<std::string> v;
  for (int r = 0; r < grid.RowCount(); ++r) v.push_back(grid.Text(r, column));
  return v;
}
}  // namespace

TEST(GridColours, CellThenRowThenColumnThenDefaults) {
  CListCtrlEx grid = MakeGrid(2);
  EXPECT_EQ(grid.CellColours(0, 1), (Colours{kWhite, kBlack}));

  grid.SetColumnColours(1, kGrey, kColourNone);
  EXPECT_EQ(grid.CellColours(0, 1), (Colours{kGrey, kBlack}));

  grid.SetRowColours(0, kGreen, kBlue);
  EXPECT_EQ(grid.CellColours(0, 1), (Colours{kGreen, kBlue}));
  EXPECT_EQ(grid.CellColours(1, 1), (Colours{kGrey, kBlack}));  // other row: column decides

  grid.SetCellColours(0, 1, kRed, kWhite);
  EXPECT_EQ(grid.CellColours(0, 1), (Colours{kRed, kWhite}));
  EXPECT_EQ(grid.CellColours(0, 2), (Colours{kGreen, kBlue}));
}

TEST(GridColours, UnsetLevelsDeferAndPartialLevelsFallBackToDefaults) {
  CListCtrlEx grid = MakeGrid(1);
  grid.SetRowColours(0, kGreen, kBlue);
  // A cell with both colours unset is drawn with its row's colours.
  grid.SetCellColours(0, 0, kColourNone, kColourNone);
  EXPECT_EQ(grid.CellColours(0, 0), (Colours{kGreen, kBlue}));
  // A cell with only a text colour takes the grid's default background, not the row's.
  grid.SetCellColours(0, 0, kColourNone, kRed);
  EXPECT_EQ(grid.CellColours(0, 0), (Colours{kWhite, kRed}));
  // A row with both unset defers to the column.
  grid.SetRowColours(0, kColourNone, kColourNone);
  grid.SetColumnColours(2, kGrey, kBlue);
  EXPECT_EQ(grid.CellColours(0, 2), (Colours{kGrey, kBlue}));
}

TEST(GridColours, OutOfRangeSettingsChangeNothing) {
  CListCtrlEx grid = MakeGrid(2);
  grid.SetCellColours(2, 0, kRed, kRed);
  grid.SetCellColours(0, 3, kRed, kRed);
  grid.SetCellColours(-1, 0, kRed, kRed);
  grid.SetRowColours(5, kRed, kRed);
  grid.SetColumnColours(3, kRed, kRed);
  grid.SetColumnColours(-1, kRed, kRed);
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(grid.CellColours(r, c), (Colours{kWhite, kBlack}));
    EXPECT_TRUE(grid.RowData(r)->cells.empty());
  }
  EXPECT_EQ(grid.Column(3), nullptr);
  EXPECT_EQ(grid.CellColours(9, 9), (Colours{kWhite, kBlack}));
}

TEST(GridLifetime, CellInfoIsCreatedOncePerCellAndGoesWithItsRow) {
  CListCtrlEx grid = MakeGrid(3);
  EXPECT_EQ(grid.RowData(1)->value, 1);
  grid.SetCellColours(1, 2, kRed, kWhite);
  grid.SetCellColours(1, 2, kWhite, kBlack);
  ASSERT_EQ(grid.RowData(1)->cells.size(), 1u);
  EXPECT_EQ(grid.Cell(1, 2)->background, kWhite);
  grid.DeleteRow(0);
  // The row that was 1 is now 0 and keeps its settings and value.
  EXPECT_EQ(grid.RowData(0)->value, 1);
  EXPECT_EQ(grid.CellColours(0, 2), (Colours{kWhite, kBlack}));
  ASSERT_NE(grid.Cell(0, 2), nullptr);
  grid.DeleteAllRows();
  EXPECT_EQ(grid.RowCount(), 0);
  EXPECT_EQ(grid.RowData(0), nullptr);
}

TEST(GridSort, ColumnWithoutFlagsDoesNotSort) {
  CListCtrlEx grid = MakeGrid(3);
  grid.SetText(0, 1, "b");
  grid.SetText(1, 1, "c");
  grid.SetText(2, 1, "a");
  EXPECT_FALSE(grid.SortByColumn(1, true));
  grid.SetColumnSort(1, 0, 3);
  EXPECT_FALSE(grid.SortByColumn(1, true));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(grid.SortColumn(), -1);
}

TEST(GridSort, ToggleStartsAscendingThenAlternates) {
  CListCtrlEx grid = MakeGrid(3);
  grid.SetText(0, 1, "b");
  grid.SetText(1, 1, "c");
  grid.SetText(2, 1, "a");
  grid.SetColumnSort(1, kSortToggle, 3);
  ASSERT_TRUE(grid.SortByColumn(1, true));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(grid.Arrow(1), SortArrow::kUp);
  ASSERT_TRUE(grid.SortByColumn(1, true));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(grid.Arrow(1), SortArrow::kDown);
  // A sort that is not a click keeps the direction.
  ASSERT_TRUE(grid.SortByColumn(1, false));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"c", "b", "a"}));
  // Row values and colours travel with their rows.
  EXPECT_EQ(grid.RowData(0)->value, 1);
  // Sorting another column moves the arrow.
  grid.SetColumnSort(0, kSortAscending, 1);
  ASSERT_TRUE(grid.SortByColumn(0, true));
  EXPECT_EQ(grid.Arrow(1), SortArrow::kNone);
  EXPECT_EQ(grid.Arrow(0), SortArrow::kUp);
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"0", "1", "2"}));
}

TEST(GridSort, FixedDirectionAndCallback) {
  CListCtrlEx grid = MakeGrid(4);
  grid.SetColumnSort(0, kSortDescending, 1);
  grid.SortByColumn(0, true);
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"3", "2", "1", "0"}));
  grid.SortByColumn(0, true);  // no toggle bit: stays descending
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"3", "2", "1", "0"}));
  // The callback sees the caller's row values: odd values first.
  grid.SetColumnSort(2, kSortAscending, 0, [](std::intptr_t a, std::intptr_t b) {
    return static_cast<int>((b % 2) - (a % 2));
  });
  grid.SortByColumn(2, true);
  EXPECT_EQ(grid.RowData(0)->value % 2, 1);
  EXPECT_EQ(grid.RowData(1)->value % 2, 1);
  EXPECT_EQ(grid.RowData(3)->value % 2, 0);
}

TEST(GridSort, TypedComparisons) {
  auto cmp = &CListCtrlEx::CompareTexts;
  EXPECT_EQ(cmp("b", "a", 0), 0);
  EXPECT_LT(cmp("9", "10", 1), 0);
  EXPECT_GT(cmp("9", "10", 3), 0);  // as text
  EXPECT_LT(cmp("1.5", "1.25e1", 2), 0);
  EXPECT_LT(cmp("9", "10", 4), 0);   // both canonical non-zero integers
  EXPECT_LT(cmp("09", "1", 4), 0);   // "09" is not canonical: compared as text
  EXPECT_LT(cmp("0", "a", 4), 0);    // zero falls back to text
  EXPECT_LT(cmp("B", "a", 4), 0);    // case-sensitive fall-back
  EXPECT_GT(cmp("B", "a", 6), 0);    // case-insensitive fall-back
  EXPECT_EQ(cmp("PASS", "pass", 5), 0);
  EXPECT_NE(cmp("PASS", "pass", 3), 0);
  EXPECT_LT(cmp("2026-12-08", "2026-12-09 00:00", 7), 0);
  EXPECT_GT(cmp("12/31/2026", "2026-01-01", 7), 0);
  EXPECT_LT(cmp("2026-12-08 09:05:00", "2026-12-08 10:00", 7), 0);
  EXPECT_EQ(cmp("2026-02-30", "2026-01-01", 7), 1);  // not a date: greater
  EXPECT_EQ(cmp("2026-01-01", "soon", 7), 1);
  EXPECT_EQ(cmp("B", "a", 99), cmp("B", "a", 3));
}

TEST(GridSort, ToggleFlipsAPresetDirectionAndEachColumnKeepsItsOwn) {
  CListCtrlEx grid = MakeGrid(3);
  grid.SetText(0, 1, "b");
  grid.SetText(1, 1, "c");
  grid.SetText(2, 1, "a");
  // Ascending preset with the toggle bit: the first click already flips it.
  grid.SetColumnSort(1, kSortToggle | kSortAscending, 3);
  grid.SetColumnSort(2, kSortToggle, 1);
  ASSERT_TRUE(grid.SortByColumn(1, true));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(grid.Arrow(1), SortArrow::kDown);
  // A click on another column does not move this column's direction.
  ASSERT_TRUE(grid.SortByColumn(2, true));
  EXPECT_EQ(grid.Arrow(1), SortArrow::kNone);
  EXPECT_EQ(grid.Arrow(2), SortArrow::kUp);
  ASSERT_TRUE(grid.SortByColumn(1, true));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(grid.Arrow(1), SortArrow::kUp);
}

TEST(GridSort, CellAndRowColoursTravelWithTheirRows) {
  CListCtrlEx grid = MakeGrid(3);
  grid.SetText(0, 1, "FAIL");
  grid.SetText(1, 1, "PASS");
  grid.SetText(2, 1, "");
  grid.SetCellColours(0, 1, kRed, kWhite);
  grid.SetRowColours(1, kGrey, kBlue);
  grid.SetColumnSort(1, kSortAscending, 3);
  ASSERT_TRUE(grid.SortByColumn(1, true));
  EXPECT_EQ(Column(grid, 1), (std::vector<std::string>{"", "FAIL", "PASS"}));
  EXPECT_EQ(grid.CellColours(0, 1), (Colours{kWhite, kBlack}));
  EXPECT_EQ(grid.CellColours(1, 1), (Colours{kRed, kWhite}));
  EXPECT_EQ(grid.CellColours(1, 2), (Colours{kWhite, kBlack}));  // the cell setting is only that cell's
  EXPECT_EQ(grid.CellColours(2, 0), (Colours{kGrey, kBlue}));
}
