#pragma once
// Message boxes of the station in the window. On the window thread a box is
// shown at once, modally, and its answer returned. Asked for by another thread
// (a port worker, the auto starter, a Start pressed by the auto starter while
// it holds the run's slot lock) the box is queued for the window thread and
// the caller goes on at once with the box's default answer: a worker never
// waits for the window thread, so no click of the operator can deadlock with
// it. The station's boxes from other threads have an OK button only.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/message_sink.h"

namespace linetool::ui {

class WindowMessageSink final : public QObject, public platform::MessageSink {
  Q_OBJECT
 public:
  // Lives on, and shows its boxes on, the thread that creates it.
  explicit WindowMessageSink(QObject* parent = nullptr);

  using platform::MessageSink::Show;
  platform::MessageAnswer Show(const platform::MessageBox& box) override;

  // The window the boxes are centred on.
  void SetParentWidget(QWidget* parent) { parent_ = parent; }
  // Every box shown so far, in the order shown.
  std::vector<platform::MessageBox> Shown() const;
  // Boxes queued by other threads and not shown yet.
  std::size_t Queued() const;

 private:
  void ShowQueued();
  platform::MessageAnswer ShowNow(const platform::MessageBox& box);

  std::thread::id window_thread_;
  QPointer<QWidget> parent_;
  mutable std::mutex mutex_;
  std::deque<platform::MessageBox> queue_;
  std::vector<platform::MessageBox> shown_;
};

}  // namespace linetool::ui
