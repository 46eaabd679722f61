#pragma once
// The status grid in the window: a table over the presenter's grid snapshot.
// Every cell is painted with its resolved colours, the 14 columns have their
// widths, a click selects the whole row, grid lines are drawn, and a header
// click asks the presenter to sort, whose arrow the header then shows. A
// "FAIL" cell's tooltip says why its stage failed, where the run knows.

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QTableView>
#include <functional>

#include "linetool/app/line_tool_presenter.h"

namespace linetool::ui {

// 0x00BBGGRR as a colour.
QColor QtColour(widgets::Colour colour);

class PortGridModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit PortGridModel(QObject* parent = nullptr);
  void SetSnapshot(app::GridSnapshot snapshot);
  const app::GridSnapshot& Snapshot() const { return snapshot_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  app::GridSnapshot snapshot_;
};

// The grid's header: the sort arrow is drawn small in the section's top
// margin, above the caption and never over it, pointing up for an ascending
// sort and down for a descending one.
class PortGridHeader final : public QHeaderView {
  Q_OBJECT
 public:
  explicit PortGridHeader(QWidget* parent = nullptr);
  void SetArrow(int column, widgets::SortArrow arrow);
  int ArrowColumn() const { return column_; }
  widgets::SortArrow Arrow() const { return arrow_; }
  // Rows of pixels at the top of a section that the arrow may take.
  static constexpr int kArrowBand = 6;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;

 private:
  int column_ = -1;
  widgets::SortArrow arrow_ = widgets::SortArrow::kNone;
};

class PortGridView final : public QTableView {
  Q_OBJECT
 public:
  explicit PortGridView(QWidget* parent = nullptr);
  // Shows a new snapshot: changed cells repainted, the header's arrow moved.
  void Show(app::GridSnapshot snapshot);
  // Called with the column of a header click.
  void OnHeaderClick(std::function<void(int)> handler) { on_header_click_ = std::move(handler); }
  PortGridModel& Model() { return model_; }
  PortGridHeader& Header() { return *header_; }
  // Rows fill the grid's height below the header.
  void FitRows();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  PortGridModel model_;
  PortGridHeader* header_ = nullptr;
  std::function<void(int)> on_header_click_;
};

}  // namespace linetool::ui
