#include "linetool/ui/window_thread_dispatch.h"

#include <QApplication>
#include <QTimer>

namespace linetool::ui {

namespace {
constexpr int kModalRetryMs = 50;
}  // namespace

void RunWhenNoModal(std::function<void()> work) {
  if (QApplication::activeModalWidget() != nullptr) {
    QTimer::singleShot(kModalRetryMs, qApp, [work = std::move(work)]() mutable { RunWhenNoModal(std::move(work)); });
    return;
  }
  work();
}

WindowThreadDispatch::WindowThreadDispatch() : alive_(std::make_shared<bool>(true)) {}

WindowThreadDispatch::~WindowThreadDispatch() = default;

std::function<void(std::function<void()>)> WindowThreadDispatch::Poster() const {
  std::weak_ptr<bool> alive = alive_;
  return [alive](std::function<void()> work) {
    QMetaObject::invokeMethod(
        qApp,
        [alive, work = std::move(work)] {
          RunWhenNoModal([alive, work] {
            if (!alive.expired()) work();
          });
        },
        Qt::QueuedConnection);
  };
}

}  // namespace linetool::ui
