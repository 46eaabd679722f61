#pragma once
// A loop device over a file: the block device the station's loop-backed
// disks are. Attached with partition scanning on and auto-clear set, so the
// kernel detaches it once the last user (this object, a mount of one of its
// partitions) lets go, also when the process dies; the destructor detaches it.

#include <memory>
#include <string>

namespace platform::linux_host {

class LoopDevice {
 public:
  // Attaches a free loop device over `file`. nullptr with `error` set when
  // this host cannot make one (no /dev/loop-control, not root, no free device).
  static std::unique_ptr<LoopDevice> Attach(const std::string& file, std::string& error);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& Path() const { return path_; }  // "/dev/loop3"
  std::string Name() const;                           // "loop3"
  // False once detached: the device's number may then serve someone else.
  bool Attached() const { return fd_ >= 0; }
  // Detaches the device now (a test pulls a disk); true when it is gone or
  // will go as soon as its partitions are unmounted.
  bool Detach();

 private:
  LoopDevice(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

// Why loop devices cannot be made here, or empty when they can.
std::string LoopDevicesUnavailable();

}  // namespace platform::linux_host
