#pragma once
// Every platform service the production station runs on, as one bundle: the
// bridge side (USB tree, SCSI, storage, system, plug events) and the disk side
// (disk requests, volumes, system tools, files, path checks), and the clock.
// A backend (the simulated station or the Linux host) fills it at start-up.

#include "platform/clock.h"
#include "platform/device_services.h"
#include "platform/disk_requests.h"
#include "platform/host_files.h"
#include "platform/path_access.h"
#include "platform/system_tools.h"
#include "platform/volumes.h"

namespace linetool::app {

struct StationServices {
  platform::DeviceServices devices;
  platform::DiskRequests& disks;
  platform::Volumes& volumes;
  platform::SystemTools& tools;
  platform::HostFiles& files;
  platform::PathAccess& access;
  platform::Clock& clock;
};

}  // namespace linetool::app
