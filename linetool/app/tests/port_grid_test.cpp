// The port table's cells: colours and failure notes that go with a cell's
// text, and sorting by a header (the capacity by size).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linetool/app/port_grid.h"

namespace linetool::app {
namespace {

using widgets::CListCtrlEx;
using widgets::SortArrow;

const CListCtrlEx::Colours kPlain{widgets::kWhite, widgets::kBlack};
const CListCtrlEx::Colours kFailColours{widgets::kRed, widgets::kWhite};

std::vector<std::string> Column(const PortGrid& g, int column, int rows) {
  std::vector<std::string> out;
  for (int r = 0; r < rows; ++r) out.push_back(g.Model().Text(r, column));
  return out;
}

TEST(PortGridCells, AClearedCellLosesItsColoursAndNoteWhereverItsRowIs) {
  PortGrid g;
  g.SetNote(3, 9, "bridge did not come back");
  g.SetResultCell(3, 9, "FAIL");
  EXPECT_EQ(g.Colours(3, 9), kFailColours);
  EXPECT_EQ(g.Note(3, 9), "bridge did not come back");

  // Cleared by a column clear (a new run, a refresh).
  g.ClearColumns(7, 13);
  EXPECT_EQ(g.Text(3, 9), "");
  EXPECT_EQ(g.Colours(3, 9), kPlain);
  EXPECT_EQ(g.Model().Cell(g.RowOf(3), 9)->background, widgets::kColourNone);
  // The note went with it: a later FAIL of the same cell says nothing stale.
  g.SetResultCell(3, 9, "FAIL");
  EXPECT_EQ(g.Note(3, 9), "");

  // Cleared by an empty text, as a stage that is skipped does, on a sorted grid.
  for (int p = 0; p < kGridRows; ++p) g.SetText(p, 1, std::string(1, static_cast<char>('a' + (p * 7) % 16)));
  ASSERT_TRUE(g.SortByHeader(1));
  ASSERT_NE(g.RowOf(3), 3);
  ASSERT_EQ(g.Colours(3, 9), kFailColours);
  g.SetText(3, 9, "");
  EXPECT_EQ(g.Colours(3, 9), kPlain);
  for (int p = 0; p < kGridRows; ++p)
    for (int c = 7; c <= 13; ++c) EXPECT_EQ(g.Colours(p, c), kPlain) << p << "," << c;

  // A PASS after a FAIL drops the note; the note shows only with "FAIL".
  g.SetNote(5, 7, "write refused");
  EXPECT_EQ(g.Note(5, 7), "");
  g.SetResultCell(5, 7, "FAIL");
  EXPECT_EQ(g.Note(5, 7), "write refused");
  g.SetResultCell(5, 7, "PASS");
  EXPECT_EQ(g.Note(5, 7), "");
  EXPECT_FALSE(g.ClearCell(-1, 7));
  EXPECT_FALSE(g.ClearCell(kGridRows, 7));
}

TEST(PortGridSort, CapacitySortsBySizeAndAnUnsortPutsPortsBackWithoutArrow) {
  EXPECT_EQ(CapacityMiB("512 MB"), 512);
  EXPECT_EQ(CapacityMiB("1863 GB"), 1863 * 1024);
  EXPECT_EQ(CapacityMiB(""), -1);
  EXPECT_EQ(CapacityMiB("GB"), -1);

  PortGrid g;
  const std::vector<std::string> sizes = {"111 GB", "1863 GB", "232 GB", "31 GB", "512 MB", ""};
  for (int p = 0; p < static_cast<int>(sizes.size()); ++p)
    g.ShowDevice(p, DeviceRowTexts{"SUPER", "0F3C", "7700", "S" + std::to_string(p), "1.0", sizes[p]});
  auto first_six = [&] {
    std::vector<std::string> shown;
    for (int r = 0; r < kGridRows; ++r)
      if (g.Model().Text(r, 1) == "SUPER") shown.push_back(g.Model().Text(r, kCapacityColumn));
    return shown;
  };
  ASSERT_TRUE(g.SortByHeader(kCapacityColumn));
  EXPECT_EQ(first_six(), (std::vector<std::string>{"", "512 MB", "31 GB", "111 GB", "232 GB", "1863 GB"}));
  EXPECT_EQ(g.Model().Arrow(kCapacityColumn), SortArrow::kUp);
  ASSERT_TRUE(g.SortByHeader(kCapacityColumn));
  EXPECT_EQ(first_six(), (std::vector<std::string>{"1863 GB", "232 GB", "111 GB", "31 GB", "512 MB", ""}));
  EXPECT_EQ(g.Model().Arrow(kCapacityColumn), SortArrow::kDown);
  // A capacity rewritten after the sort sorts by its new size.
  g.SetText(1, kCapacityColumn, "8 GB");
  ASSERT_TRUE(g.SortByHeader(kCapacityColumn));
  EXPECT_EQ(first_six(), (std::vector<std::string>{"", "512 MB", "8 GB", "31 GB", "111 GB", "232 GB"}));

  g.Unsort();
  EXPECT_EQ(g.Model().SortColumn(), -1);
  EXPECT_EQ(g.Model().Arrow(kCapacityColumn), SortArrow::kNone);
  EXPECT_EQ(Column(g, 0, 4), (std::vector<std::string>{"0", "1", "2", "3"}));
  for (int p = 0; p < kGridRows; ++p) EXPECT_EQ(g.RowOf(p), p);
  // Fresh again: the next click sorts ascending.
  ASSERT_TRUE(g.SortByHeader(0));
  EXPECT_EQ(g.Model().Arrow(0), SortArrow::kUp);
  EXPECT_EQ(Column(g, 0, 2), (std::vector<std::string>{"0", "1"}));
}

}  // namespace
}  // namespace linetool::app
