#pragma once
// Files and folders of the host as the station uses them: its own files in
// the working directory and the files on the volumes of bridge disks. Paths
// are host paths (see ToHostPath in path_access.h).
//
// Calls block for the length of the file operation.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

enum class FileOpen {
  kReadExisting,       // read; the file must exist
  kReadWriteExisting,  // read and write; the file must exist
  kCreateAlways,       // write; a new empty file, replacing an old one
  kOpenAlways,         // read and write; created when missing, kept otherwise
  // As kReadExisting and kCreateAlways, past the host's cache: reads come
  // from the medium, writes go to it (direct transfers where the file system
  // takes them, else the cache is dropped around them). For proving a disk.
  kReadExistingUncached,
  kCreateAlwaysUncached,
};

class HostFile {
 public:
  virtual ~HostFile() = default;
  virtual std::optional<std::uint64_t> Size() = 0;
  // Reads up to data.size() bytes at `offset`; the count read (0 at the end),
  // nullopt on an error.
  virtual std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) = 0;
  // Writes all of `data` at `offset`; false when not every byte was written
  // (the volume is full, the device failed).
  virtual bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  // Puts everything written on the medium and drops the file's pages from
  // the host's cache, so the next read comes from the device itself.
  virtual bool Flush() = 0;
};

enum class EntryKind { kFile, kFolder, kLink, kOther };

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;  // a symbolic link is kLink, never followed
  std::uint64_t size = 0;              // bytes, for files
};

class HostFiles {
 public:
  virtual ~HostFiles() = default;
  virtual std::unique_ptr<HostFile> Open(const std::string& path, FileOpen mode) = 0;
  // True when something (file, folder, link) is at `path`.
  virtual bool Exists(const std::string& path) = 0;
  // Removes a file; false when it could not be removed or was not there.
  virtual bool RemoveFile(const std::string& path) = 0;
  // Creates one folder; false when it exists already or cannot be made.
  virtual bool CreateFolder(const std::string& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveFolder(const std::string& path) = 0;
  // The entries of a folder without "." and ".."; nullopt when it cannot be
  // listed.
  virtual std::optional<std::vector<FolderEntry>> List(const std::string& path) = 0;
};

}  // namespace platform
