#pragma once
// What the main window's presenter asks of the production side: the port
// refresh, Start, Safely Remove and the stop of every job thread. The
// production run (production_run.h) provides it.

#include "linetool/app/engineering_access.h"

namespace linetool::app {

class StationRun {
 public:
  virtual ~StationRun() = default;
  // Re-enumerates the bridges and repaints the grid; false after an error.
  virtual bool RefreshPorts() = 0;
  // The handler of Start: checks, port selection, images, then the run.
  virtual void StartRun() = 0;
  // The handler of Safely Remove.
  virtual void SafelyRemove() = 0;
  // Stops the auto starter, the port workers and the controller at their next
  // safe point and waits for them (a thread never waits for itself).
  virtual void StopAllJobs() = 0;
  // After a refresh found devices: in auto mode with the panel locked, the
  // auto starter is (re)started.
  virtual void AutoStartCheck() = 0;
  // The profile has just been put into the panel (start-up, Load INI), under
  // the panel's lock: a run with line-wide serial numbers then shows the
  // line's next free one in its place, once the store has answered.
  virtual void ProfileLoaded() {}
  // The device table and bridge access the engineering dialogs use; none by
  // default.
  virtual EngineeringAccess Engineering() { return {}; }
};

}  // namespace linetool::app
