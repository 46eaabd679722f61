#include "platform/linux/loop_device.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace platform::linux_host {

namespace {

constexpr const char* kLoopControl = "/dev/loop-control";
// A free device can be taken by someone else between the two requests.
constexpr int kAttachTries = 8;

}  // namespace

std::string LoopDevicesUnavailable() {
  if (!std::filesystem::exists(kLoopControl)) return std::string("no ") + kLoopControl + " on this host";
  // Root, or an operator whom the node's group lets in (the station holds
  // CAP_SYS_ADMIN from its file then, for what the loop devices are used for).
  const int fd = ::open(kLoopControl, O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::string(kLoopControl) + ": " + std::strerror(errno);
  ::close(fd);
  return {};
}

std::unique_ptr<LoopDevice> LoopDevice::Attach(const std::string& file, std::string& error) {
  if (error = LoopDevicesUnavailable(); !error.empty()) return nullptr;
  const int backing = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
  if (backing < 0) {
    error = file + ": " + std::strerror(errno);
    return nullptr;
  }
  const int control = ::open(kLoopControl, O_RDWR | O_CLOEXEC);
  std::unique_ptr<LoopDevice> device;
  for (int attempt = 0; control >= 0 && !device && attempt < kAttachTries; ++attempt) {
    const int n = ::ioctl(control, LOOP_CTL_GET_FREE);
    if (n < 0) {
      error = std::string("no free loop device: ") + std::strerror(errno);
      break;
    }
    const std::string path = "/dev/loop" + std::to_string(n);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      error = path + ": " + std::strerror(errno);
      continue;
    }
    loop_config config{};
    config.fd = static_cast<std::uint32_t>(backing);
    config.info.lo_flags = LO_FLAGS_PARTSCAN | LO_FLAGS_AUTOCLEAR;
    std::strncpy(reinterpret_cast<char*>(config.info.lo_file_name), file.c_str(), LO_NAME_SIZE - 1);
    if (::ioctl(fd, LOOP_CONFIGURE, &config) == 0) {
      device.reset(new LoopDevice(fd, path));
    } else {
      error = path + ": " + std::strerror(errno);
      ::close(fd);
    }
  }
  if (control >= 0) ::close(control);
  ::close(backing);  // the loop device holds its own reference
  if (device) error.clear();
  return device;
}

LoopDevice::~LoopDevice() { Detach(); }

std::string LoopDevice::Name() const { return std::filesystem::path(path_).filename().string(); }

bool LoopDevice::Detach() {
  if (fd_ < 0) return true;
  // EBUSY only while a partition is mounted: auto-clear ends it at unmount.
  const bool ok = ::ioctl(fd_, LOOP_CLR_FD) == 0 || errno == ENXIO || errno == EBUSY;
  ::close(fd_);
  fd_ = -1;
  return ok;
}

}  // namespace platform::linux_host
