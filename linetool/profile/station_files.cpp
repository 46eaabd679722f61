#include "linetool/profile/station_files.h"

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <limits>

namespace linetool::profile {

namespace fs = std::filesystem;

std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& host_path) {
  auto head = ReadFileHead(host_path, std::numeric_limits<std::size_t>::max());
  if (!head) return std::nullopt;
  return std::move(head->bytes);
}

std::optional<FileHead> ReadFileHead(const std::string& host_path, std::size_t limit) {
  std::error_code ec;
  if (!fs::is_regular_file(host_path, ec)) return std::nullopt;
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return std::nullopt;
  FileHead head;
  char buf[65536];
  while (in && head.bytes.size() < limit) {
    const std::size_t want = std::min(sizeof buf, limit - head.bytes.size());
    in.read(buf, static_cast<std::streamsize>(want));
    head.bytes.insert(head.bytes.end(), buf, buf + in.gcount());
  }
  if (in.bad()) return std::nullopt;
  // One byte more tells whether the file goes on.
  head.more = in && in.peek() != std::ifstream::traits_type::eof();
  if (in.bad()) return std::nullopt;
  return head;
}

std::optional<std::uintmax_t> FileSize(const std::string& host_path) {
  std::error_code ec;
  if (!fs::is_regular_file(host_path, ec)) return std::nullopt;
  const auto size = fs::file_size(host_path, ec);
  if (ec) return std::nullopt;
  return size;
}

bool CreateEmptyFile(const std::string& host_path) {
  return RemoveFile(host_path) && WriteFileBytes(host_path, {});
}

bool WriteFileBytes(const std::string& host_path, std::string_view data) {
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.flush();
  return static_cast<bool>(out);
}

bool EnsureFolder(const std::string& host_path) {
  std::error_code ec;
  fs::create_directories(host_path, ec);
  return fs::is_directory(host_path, ec);
}

bool RemoveFile(const std::string& host_path) {
  std::error_code ec;
  fs::remove(host_path, ec);
  return !fs::exists(fs::symlink_status(host_path, ec));
}

}  // namespace linetool::profile
