#pragma once
// For the tools that drive the station's window from outside its event loop.

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

namespace linetool::ui::tools {

// Lets the window thread work until `done` holds (at most `limit_ms`); false
// when it did not.
inline bool Pump(const std::function<bool()>& done, int limit_ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limit_ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  QApplication::processEvents();
  return true;
}

}  // namespace linetool::ui::tools
