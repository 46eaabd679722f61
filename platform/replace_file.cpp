#include "platform/replace_file.h"

#include <filesystem>
#include <fstream>
#include <cstdio>
#include <random>

namespace platform {

namespace fs = std::filesystem;

namespace {

bool WriteWhole(const fs::path& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return static_cast<bool>(out);
}

// A name in the folder of `target` that no other writer uses at the same time.
fs::path TemporaryBeside(const fs::path& target) {
  static thread_local std::mt19937 random{std::random_device{}()};
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
  fs::path temp = target;
  temp += std::string(".tmp-") + suffix;
  return temp;
}

}  // namespace

WriteOutcome ReplaceFile(const std::string& host_path, std::string_view data) {
  std::error_code ec;
  fs::path target(host_path);
  if (fs::is_symlink(target, ec)) {
    const auto resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) return WriteOutcome::kFolderMissing;
  const auto status = fs::status(target, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    return WriteWhole(target, data) ? WriteOutcome::kWritten : WriteOutcome::kFailed;
  }

  fs::path temp = TemporaryBeside(target);
  for (int tries = 0; fs::exists(fs::symlink_status(temp, ec)) && tries < 8; ++tries) temp = TemporaryBeside(target);
  if (!WriteWhole(temp, data)) {
    fs::remove(temp, ec);
    return WriteOutcome::kFailed;
  }
  if (fs::exists(status)) fs::permissions(temp, status.permissions(), ec);
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return WriteOutcome::kFailed;
  }
  return WriteOutcome::kWritten;
}

WriteOutcome ReplaceFile(const std::string& host_path, std::span<const std::uint8_t> data) {
  return ReplaceFile(host_path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace platform
