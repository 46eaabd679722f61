#pragma once
// Runs work handed over by other threads (plug events of the simulator or of
// the udev watch) on the window thread, when no modal box or dialog is up:
// a refresh never runs inside a box that Start or a dialog is showing. Work
// still queued when the dispatch goes is dropped.

#include <functional>
#include <memory>

namespace linetool::ui {

// On the window thread: runs `work` at once when no modal box or dialog is
// up, else as soon as none is.
void RunWhenNoModal(std::function<void()> work);

class WindowThreadDispatch {
 public:
  WindowThreadDispatch();
  ~WindowThreadDispatch();
  WindowThreadDispatch(const WindowThreadDispatch&) = delete;
  WindowThreadDispatch& operator=(const WindowThreadDispatch&) = delete;

  // A function that any thread may call with work for the window thread.
  std::function<void(std::function<void()>)> Poster() const;

 private:
  std::shared_ptr<bool> alive_;
};

}  // namespace linetool::ui
