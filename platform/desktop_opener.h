#pragma once
// Opening a document with the desktop's own handler (the user manual). The
// GUI asks the desktop; tests record the paths and answer as scripted.

#include <string>

namespace platform {

class DesktopOpener {
 public:
  virtual ~DesktopOpener() = default;
  // Hands the file at `host_path` to the desktop's handler for its kind.
  // False when the file is not there or no handler took it. Returns at once;
  // the handler runs on its own.
  virtual bool Open(const std::string& host_path) = 0;
  // Makes the desktop's help viewer known to it, before one more try of a
  // failed Open. Does nothing where the desktop needs no such step.
  virtual void RegisterHelpViewer() {}
};

}  // namespace platform
