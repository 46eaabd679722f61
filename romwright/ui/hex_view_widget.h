#pragma once
// The hex view: draws one page of the data buffer (24 rows of 16 bytes) from
// the hex view model into an off-screen pixmap and copies it in one step, and
// forwards clicks, drags, typing, cursor keys and the wheel. The bytes are
// read from the buffer where they are; nothing is copied.

#include <QPixmap>
#include <QRawFont>
#include <array>
#include <QWidget>
#include <functional>

#include "romwright/data/hex_view_model.h"

namespace romwright::ui {

class HexViewWidget : public QWidget {
 public:
  explicit HexViewWidget(QWidget* parent = nullptr);

  // The model to draw; null draws the empty view.
  void SetModel(app::HexViewModel* model);
  // A typed character: true when it changed a byte. The window routes it
  // through its presenter, which refuses typing while an operation runs.
  std::function<bool(char)> on_type;
  // The top row moved (wheel, keys): the scroll bar follows.
  std::function<void()> on_scrolled;

  // While an operation fills or reads the buffer from its worker, the view
  // shows the page it drew last instead of reading the buffer.
  bool frozen = false;

  // Draws the page as it is now into `target` (the off-screen step).
  void PaintPage(QPainter& painter);

  static constexpr int kPageWidth = 72 * app::HexViewModel::kCellWidth + 2 * app::HexViewModel::kMargin;
  static constexpr int kPageHeight = 25 * app::HexViewModel::kCellHeight + 2 * app::HexViewModel::kMargin;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool focusNextPrevChild(bool) override { return false; }

 private:
  app::HexViewModel* model_ = nullptr;
  QFont font_;
  QRawFont raw_font_;
  std::array<quint32, 128> glyphs_{};  // glyph of each ASCII character
  int baseline_ = 0;
  int wheel_rest_ = 0;
  QPixmap page_;
};

}  // namespace romwright::ui
