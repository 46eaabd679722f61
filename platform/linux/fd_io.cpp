#include "platform/linux/fd_io.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace platform::linux_host {

bool ZeroRangeInPlace(int fd, std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return true;
  struct stat st{};
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t range[2] = {offset, length};
    return ::ioctl(fd, BLKZEROOUT, range) == 0;
  }
  if (!S_ISREG(st.st_mode)) return false;
  const auto off = static_cast<off_t>(offset);
  const auto len = static_cast<off_t>(length);
  return ::fallocate(fd, FALLOC_FL_ZERO_RANGE | FALLOC_FL_KEEP_SIZE, off, len) == 0 ||
         ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off, len) == 0;
}

long long ReadFully(int fd, std::uint64_t offset, std::span<std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

bool WriteFully(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // ENOSPC and friends: full or failed
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool ReadWritable(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

}  // namespace platform::linux_host
