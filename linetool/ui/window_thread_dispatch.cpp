#include "linetool/ui/window_thread_dispatch.h"

#include <QApplication>
#include <QTimer>

namespace linetool::ui {

namespace {

constexpr int kModalRetryMs = 50;

void RunWhenNoModal(const std::weak_ptr<bool>& alive, const std::function<void()>& work) {
  if (alive.expired()) return;
  if (QApplication::activeModalWidget() != nullptr) {
    QTimer::singleShot(kModalRetryMs, qApp, [alive, work] { RunWhenNoModal(alive, work); });
    return;
  }
  work();
}

}  // namespace

WindowThreadDispatch::WindowThreadDispatch() : alive_(std::make_shared<bool>(true)) {}

WindowThreadDispatch::~WindowThreadDispatch() = default;

std::function<void(std::function<void()>)> WindowThreadDispatch::Poster() const {
  std::weak_ptr<bool> alive = alive_;
  return [alive](std::function<void()> work) {
    QMetaObject::invokeMethod(
        qApp, [alive, work = std::move(work)] { RunWhenNoModal(alive, work); }, Qt::QueuedConnection);
  };
}

}  // namespace linetool::ui
