#pragma once
// The station's main window: every control of the dialog template at its
// place, the bitmap background under transparent labels, no caption (the
// window is dragged by the mouse anywhere on its client area), its own
// minimise and close buttons, and the status grid.
//
// The window is a view of LineToolPresenter: clicks, check boxes, typed text
// and list selections go to the presenter by control identifier; whatever
// changes there (also from the run's threads) is announced by the presenter's
// observer, which only posts one queued update to the window thread; the
// update reads the presenter back and shows it. No thread ever waits for the
// window thread.

#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <map>
#include <memory>

#include "linetool/app/line_tool_presenter.h"

namespace linetool::ui {

class PortGridView;
class StationDialogs;
class WindowMessageSink;

class LineToolWindow final : public QWidget {
  Q_OBJECT
 public:
  LineToolWindow(app::LineToolPresenter& presenter, StationDialogs& dialogs, WindowMessageSink& sink,
                 QWidget* parent = nullptr);
  ~LineToolWindow() override;

  // The widget of a control of the template; nullptr for an unknown identifier.
  QWidget* Control(int id) const;
  PortGridView& Grid() const { return *grid_; }
  // A click of a button, as the operator makes it (also when the button is
  // disabled: the presenter refuses then). False when refused.
  bool Click(int id);
  // Reads the presenter and shows its state.
  void Sync();
  // The exit code of the closed window (-1 while open).
  int ExitCode() const { return exit_code_; }

 signals:
  // The window was closed: every job has stopped; the program ends with `exit_code`.
  void Closed(int exit_code);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Build();
  void Connect(int id, QWidget* widget);
  void PostSync();

  app::LineToolPresenter& presenter_;
  StationDialogs& dialogs_;
  WindowMessageSink& sink_;
  std::map<int, QWidget*> controls_;
  PortGridView* grid_ = nullptr;
  std::shared_ptr<std::atomic<bool>> sync_posted_ = std::make_shared<std::atomic<bool>>(false);
  QPixmap background_;
  QPoint drag_offset_;
  bool dragging_ = false;
  int exit_code_ = -1;
};

}  // namespace linetool::ui
