#include "linetool/ui/port_grid_view.h"

#include <QHeaderView>
#include <QPainter>
#include <QPolygon>
#include <QStyledItemDelegate>

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
      if (moved || now.texts[c] != before.texts[c] || now.colours[c] != before.colours[c] ||
          now.notes[c] != before.notes[c])
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
    case Qt::ToolTipRole:
      if (column < row.notes.size() && !row.notes[column].empty()) return QtText(row.notes[column]);
      return {};
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

PortGridHeader::PortGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

void PortGridHeader::SetArrow(int column, widgets::SortArrow arrow) {
  if (column == column_ && arrow == arrow_) return;
  column_ = arrow == widgets::SortArrow::kNone ? -1 : column;
  arrow_ = arrow;
  viewport()->update();
}

void PortGridHeader::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
  QHeaderView::paintSection(painter, rect, logical_index);
  if (logical_index != column_ || arrow_ == widgets::SortArrow::kNone) return;
  // A flat triangle of 9 by 4 pixels, centred in the top band.
  const int cx = rect.center().x();
  const int top = rect.top() + 1;
  const int bottom = top + kArrowBand - 2;
  QPolygon triangle;
  if (arrow_ == widgets::SortArrow::kUp) {
    triangle << QPoint(cx - 4, bottom) << QPoint(cx + 4, bottom) << QPoint(cx, top);
  } else {
    triangle << QPoint(cx - 4, top) << QPoint(cx + 4, top) << QPoint(cx, bottom);
  }
  painter->save();
  // The section's own painting leaves the painter clipped to nothing.
  painter->setClipRect(rect, Qt::ReplaceClip);
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(QColor(0x3a, 0x5a, 0x7c));
  painter->setBrush(QColor(0x3a, 0x5a, 0x7c));
  painter->drawPolygon(triangle);
  painter->restore();
}

namespace {

// Cells are drawn without the focus frame: the selected row's band is enough,
// and a frame inside a PASS or FAIL cell reads as part of the result.
class NoFocusFrameDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state &= ~QStyle::State_HasFocus;
  }
};

}  // namespace

PortGridView::PortGridView(QWidget* parent)
    : QTableView(parent), model_(this), header_(new PortGridHeader(this)) {
  setHorizontalHeader(header_);
  setModel(&model_);
  setItemDelegate(new NoFocusFrameDelegate(this));
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
  header->setSortIndicatorShown(false);  // PortGridHeader draws its own arrow
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
  header_->SetArrow(s.sort_column, s.arrow);
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
