#include "platform/std_files.h"

#include <filesystem>
#include <fstream>

namespace platform {

namespace fs = std::filesystem;

namespace {

class StdFile final : public HostFile {
 public:
  explicit StdFile(std::fstream f) : file_(std::move(f)) {}

  std::optional<std::uint64_t> Size() override {
    file_.clear();
    file_.seekg(0, std::ios::end);
    const auto end = file_.tellg();
    if (end < 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    if (!file_) return std::nullopt;
    file_.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (file_.bad()) return std::nullopt;
    return static_cast<std::size_t>(file_.gcount());
  }

  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    file_.clear();
    file_.seekp(static_cast<std::streamoff>(offset));
    file_.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(file_);
  }

  bool Flush() override {
    file_.clear();
    file_.flush();
    return static_cast<bool>(file_);
  }

 private:
  std::fstream file_;
};

}  // namespace

std::unique_ptr<HostFile> StdFiles::Open(const std::string& path, FileOpen mode) {
  std::error_code ec;
  const bool exists = fs::exists(path, ec);
  if (exists && !fs::is_regular_file(path, ec)) return nullptr;
  std::ios::openmode m = std::ios::binary | std::ios::in;
  switch (mode) {
    case FileOpen::kReadExisting:
    case FileOpen::kReadExistingUncached:
      if (!exists) return nullptr;
      break;
    case FileOpen::kReadWriteExisting:
      if (!exists) return nullptr;
      m |= std::ios::out;
      break;
    case FileOpen::kCreateAlways:
    case FileOpen::kCreateAlwaysUncached:
      m |= std::ios::out | std::ios::trunc;
      break;
    case FileOpen::kOpenAlways:
      if (!exists) {
        std::ofstream create(path, std::ios::binary);
        if (!create) return nullptr;
      }
      m |= std::ios::out;
      break;
  }
  std::fstream f(path, m);
  if (!f) return nullptr;
  return std::make_unique<StdFile>(std::move(f));
}

bool StdFiles::Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool StdFiles::RemoveFile(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(path, ec))) return false;
  return fs::remove(path, ec);
}

bool StdFiles::CreateFolder(const std::string& path) {
  std::error_code ec;
  return fs::create_directory(path, ec);
}

bool StdFiles::RemoveFolder(const std::string& path) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(path, ec))) return false;
  return fs::remove(path, ec);
}

std::optional<std::vector<FolderEntry>> StdFiles::List(const std::string& path) {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) return std::nullopt;
  std::vector<FolderEntry> out;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return std::nullopt;
    FolderEntry e;
    e.name = it->path().filename().string();
    const auto st = it->symlink_status(ec);
    if (fs::is_symlink(st)) {
      e.kind = EntryKind::kLink;
    } else if (fs::is_directory(st)) {
      e.kind = EntryKind::kFolder;
    } else if (fs::is_regular_file(st)) {
      e.kind = EntryKind::kFile;
      e.size = it->file_size(ec);
    }
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace platform
