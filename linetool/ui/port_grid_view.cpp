#include "linetool/ui/port_grid_view.h"

#include <QHeaderView>

#include "linetool/app/port_grid.h"
#include "linetool/profile/message_texts.h"
#include "linetool/ui/texts.h"

namespace linetool::ui {

QColor QtColour(widgets::Colour colour) {
  const auto c = static_cast<std::uint32_t>(colour);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

PortGridModel::PortGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void PortGridModel::SetSnapshot(app::GridSnapshot snapshot) {
  const bool reordered = snapshot.rows.size() != snapshot_.rows.size() ||
                         snapshot.sort_column != snapshot_.sort_column || snapshot.arrow != snapshot_.arrow;
  if (reordered) {
    beginResetModel();
    snapshot_ = std::move(snapshot);
    endResetModel();
    return;
  }
  // Same rows: repaint only the cells that changed.
  std::vector<std::pair<int, int>> changed;
  for (std::size_t r = 0; r < snapshot.rows.size(); ++r) {
    const auto& now = snapshot.rows[r];
    const auto& before = snapshot_.rows[r];
    const bool moved = now.port != before.port;
    for (std::size_t c = 0; c < now.texts.size(); ++c)
      if (moved || now.texts[c] != before.texts[c] || now.colours[c] != before.colours[c])
        changed.emplace_back(static_cast<int>(r), static_cast<int>(c));
  }
  snapshot_ = std::move(snapshot);
  for (const auto& [r, c] : changed) emit dataChanged(index(r, c), index(r, c));
}

int PortGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(snapshot_.rows.size());
}

int PortGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : app::kGridColumns; }

QVariant PortGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const auto& row = snapshot_.rows[static_cast<std::size_t>(index.row())];
  const auto column = static_cast<std::size_t>(index.column());
  if (column >= row.texts.size()) return {};
  switch (role) {
    case Qt::DisplayRole: return QtText(row.texts[column]);
    case Qt::BackgroundRole: return QtColour(row.colours[column].background);
    case Qt::ForegroundRole: return QtColour(row.colours[column].text);
    case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignCenter);
    default: return {};
  }
}

QVariant PortGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= app::kGridColumns) return {};
  if (role == Qt::DisplayRole)
    return QtText(std::string(profile::MessageText(app::GridColumns()[static_cast<std::size_t>(section)].header)));
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
  return {};
}

PortGridView::PortGridView(QWidget* parent) : QTableView(parent), model_(this) {
  setModel(&model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setGridStyle(Qt::SolidLine);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  // The 16 rows always fit: they share the grid's height.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QHeaderView* header = horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  header->setStretchLastSection(true);  // the last column takes what the widths leave
  for (int c = 0; c < app::kGridColumns; ++c) {
    header->setSectionResizeMode(c, QHeaderView::Interactive);
    setColumnWidth(c, app::GridColumns()[static_cast<std::size_t>(c)].width);
  }
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
    if (on_header_click_) on_header_click_(column);
  });
}

void PortGridView::Show(app::GridSnapshot snapshot) {
  model_.SetSnapshot(std::move(snapshot));
  const app::GridSnapshot& s = model_.Snapshot();
  QHeaderView* header = horizontalHeader();
  if (s.arrow == widgets::SortArrow::kNone) {
    header->setSortIndicator(-1, Qt::AscendingOrder);
  } else {
    header->setSortIndicator(s.sort_column,
                             s.arrow == widgets::SortArrow::kUp ? Qt::AscendingOrder : Qt::DescendingOrder);
  }
  FitRows();
}

void PortGridView::FitRows() {
  const int rows = model_.rowCount();
  if (rows == 0) return;
  const int free = viewport()->height();
  const int height = std::max(fontMetrics().height() + 2, free / rows);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(height);
}

void PortGridView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  FitRows();
}

}  // namespace linetool::ui
