#include "romwright/ui/hex_view_widget.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace romwright::ui {

namespace {
using Model = app::HexViewModel;
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kLines(200, 200, 230);
constexpr char kHeader[] = "0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F  ";

// A fixed-pitch font whose characters stand exactly one 8-pixel cell apart.
QFont CellFont() {
  QFont f(QStringLiteral("DejaVu Sans Mono"));
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setPixelSize(13);
  const qreal advance = QFontMetricsF(f).horizontalAdvance(QLatin1Char('0'));
  f.setLetterSpacing(QFont::AbsoluteSpacing, Model::kCellWidth - advance);
  return f;
}
}  // namespace

HexViewWidget::HexViewWidget(QWidget* parent) : QWidget(parent), font_(CellFont()) {
  raw_font_ = QRawFont::fromFont(font_);
  QString ascii;
  for (int c = 0; c < 128; ++c) ascii.append(QChar(c < 0x20 ? '.' : c));
  const QList<quint32> indexes = raw_font_.glyphIndexesForString(ascii);
  for (int c = 0; c < 128 && c < indexes.size(); ++c) glyphs_[static_cast<std::size_t>(c)] = indexes[c];
  const QFontMetrics fm(font_);
  baseline_ = (Model::kCellHeight - fm.height()) / 2 + fm.ascent();
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setMinimumSize(kPageWidth, kPageHeight);
  setCursor(Qt::IBeamCursor);
}

void HexViewWidget::SetModel(app::HexViewModel* model) {
  model_ = model;
  update();
}

namespace {
// Glyphs of one colour, placed cell by cell; a page is drawn with one run
// per colour.
struct GlyphRun {
  QList<quint32> glyphs;
  QList<QPointF> positions;
  void Clear() {
    glyphs.clear();
    positions.clear();
  }
};
}  // namespace

void HexViewWidget::PaintPage(QPainter& p) {
  const int w = width(), h = height();
  p.fillRect(0, 0, w, h, Qt::white);
  static thread_local GlyphRun blue, black, red, inverted;
  for (GlyphRun* run : {&blue, &black, &red, &inverted}) run->Clear();
  auto put = [&](GlyphRun& run, int column, int row, char c, int dx = 0) {
    if (c == ' ') return;
    run.glyphs.push_back(glyphs_[static_cast<unsigned char>(c) & 0x7F]);
    run.positions.push_back(QPointF(Model::ColumnX(column) + dx, Model::RowY(row) + baseline_));
  };
  auto put_text = [&](GlyphRun& run, int column, int row, const char* text, int dx = 0) {
    for (int i = 0; text[i]; ++i) put(run, column + i, row, text[i], dx);
  };

  put_text(blue, 1, 0, "ADDR");
  put_text(blue, 7, 0, kHeader, 3);
  put_text(blue, 59, 0, "ASCII", 3);

  if (model_) {
    const bool caret = model_->CaretVisible() && hasFocus();
    const std::uint32_t cursor = model_->CursorNibble();
    for (int r = 1; r <= Model::kDataRows; ++r) {
      const Model::RowLayout row = model_->Row(r);
      if (!row.shown) break;
      const int y = Model::RowY(r);
      put_text(blue, 0, r, row.address.c_str());
      // The caret's cell: hex digit column or character column.
      int caret_column = -1;
      if (caret && cursor / 2 >= row.bytes[0].address && cursor / 2 < row.bytes[0].address + 16) {
        const int j = static_cast<int>(cursor / 2 - row.bytes[0].address);
        caret_column = model_->CursorArea() == Model::Area::kHex
                           ? Model::kFirstHexColumn + 3 * j + static_cast<int>(cursor & 1)
                           : Model::kFirstAsciiColumn + j;
      }
      int first_selected = -1, last_selected = -1;
      for (int j = 0; j < 16; ++j) {
        const auto& cell = row.bytes[static_cast<std::size_t>(j)];
        const int hex_column = Model::kFirstHexColumn + 3 * j;
        const int ascii_column = Model::kFirstAsciiColumn + j;
        if (cell.selected) {
          if (first_selected < 0) first_selected = j;
          last_selected = j;
        }
        GlyphRun& ink = cell.changed ? red : black;
        const char chars[3] = {cell.hex[0], cell.hex[1], cell.ascii};
        const int columns[3] = {hex_column, hex_column + 1, ascii_column};
        for (int k = 0; k < 3; ++k) put(columns[k] == caret_column ? inverted : ink, columns[k], r, chars[k]);
      }
      if (first_selected >= 0) {
        // The selected bytes of a row are one run: their pairs with the blanks
        // between them (and after the last, unless the selection or the row
        // ends there), and their characters.
        const bool blank = row.bytes[static_cast<std::size_t>(last_selected)].blank_selected;
        const int from = Model::kFirstHexColumn + 3 * first_selected;
        const int to = Model::kFirstHexColumn + 3 * last_selected + (blank ? 3 : 2);
        p.fillRect(Model::ColumnX(from), y, (to - from) * Model::kCellWidth, Model::kCellHeight, kLines);
        p.fillRect(Model::ColumnX(Model::kFirstAsciiColumn + first_selected), y,
                   (last_selected - first_selected + 1) * Model::kCellWidth, Model::kCellHeight, kLines);
      }
      if (caret_column >= 0) p.fillRect(Model::ColumnX(caret_column), y, Model::kCellWidth, Model::kCellHeight, Qt::black);
    }
  }

  QGlyphRun run;
  run.setRawFont(raw_font_);
  auto draw = [&](const GlyphRun& glyphs, const QColor& colour) {
    if (glyphs.glyphs.isEmpty()) return;
    run.setGlyphIndexes(glyphs.glyphs);
    run.setPositions(glyphs.positions);
    p.setPen(colour);
    p.drawGlyphRun(QPointF(0, 0), run);
  };
  draw(blue, kBlue);
  draw(black, Qt::black);
  draw(red, kRed);
  draw(inverted, Qt::white);

  p.setPen(kLines);
  p.drawLine(0, Model::kCellHeight, Model::ColumnX(72), Model::kCellHeight);
  p.drawLine(Model::ColumnX(6) + 4, 0, Model::ColumnX(6) + 4, h);
  p.drawLine(Model::ColumnX(54) + 4, 0, Model::ColumnX(54) + 4, h);
}

void HexViewWidget::paintEvent(QPaintEvent*) {
  // Drawn off screen, then copied in one step.
  const qreal ratio = devicePixelRatioF();
  const QSize size = this->size() * ratio;
  const bool keep = frozen && page_.size() == size;
  if (page_.size() != size) page_ = QPixmap(size);
  page_.setDevicePixelRatio(ratio);
  if (!keep) {
    QPainter off(&page_);
    PaintPage(off);
  }
  QPainter p(this);
  p.drawPixmap(0, 0, page_);
}

void HexViewWidget::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (model_ && event->button() == Qt::LeftButton) {
    const QPoint at = event->position().toPoint();
    if (model_->Click(at.x(), at.y())) update();
  }
}

void HexViewWidget::mouseMoveEvent(QMouseEvent* event) {
  if (model_ && (event->buttons() & Qt::LeftButton)) {
    const QPoint at = event->position().toPoint();
    if (model_->Drag(at.x(), at.y())) update();
  }
}

void HexViewWidget::keyPressEvent(QKeyEvent* event) {
  if (!model_) return QWidget::keyPressEvent(event);
  using Key = Model::Key;
  Key key;
  switch (event->key()) {
    case Qt::Key_Left: key = Key::kLeft; break;
    case Qt::Key_Right: key = Key::kRight; break;
    case Qt::Key_Up: key = Key::kUp; break;
    case Qt::Key_Down: key = Key::kDown; break;
    case Qt::Key_PageUp: key = Key::kPageUp; break;
    case Qt::Key_PageDown: key = Key::kPageDown; break;
    case Qt::Key_Home: key = Key::kHome; break;
    case Qt::Key_End: key = Key::kEnd; break;
    default: {
      const QString text = event->text();
      if (text.size() == 1 && text[0].unicode() < 0x80 && on_type &&
          on_type(static_cast<char>(text[0].unicode()))) {
        update();
        if (on_scrolled) on_scrolled();
      }
      return;
    }
  }
  model_->Navigate(key);
  update();
  if (on_scrolled) on_scrolled();
}

void HexViewWidget::wheelEvent(QWheelEvent* event) {
  if (!model_) return;
  wheel_rest_ += event->angleDelta().y();
  const int notches = wheel_rest_ / 120;
  wheel_rest_ %= 120;
  if (notches == 0) return;
  model_->Wheel(notches);
  update();
  if (on_scrolled) on_scrolled();
}

void HexViewWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void HexViewWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

}  // namespace romwright::ui
