#pragma once
// The preload copy: the contents of a folder on the station go onto the
// freshly formatted volume of a port, one port at a time, in chunks of at most
// 64 MiB. Symbolic links in the folder are never followed: they are skipped
// and counted, so a link cannot bring the station's own files onto every
// device or send the copy round in a loop.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "linetool/disk/disk_services.h"

namespace linetool::disk {

inline constexpr std::uint32_t kCopyChunkBytes = 0x4000000;  // 64 MiB

class PreloadCopy {
 public:
  static constexpr std::chrono::milliseconds kSettlePause{500};

  enum class Outcome {
    kCopied,
    kNoLetter,
    kSourceUnusable,  // the preload folder fails the path check
    kTooLittleRoom,
    kCopyFailed,
  };

  // What the last run did.
  struct Report {
    std::uint64_t files = 0;
    std::uint64_t folders = 0;
    std::uint64_t bytes = 0;
    std::uint64_t links_skipped = 0;
    std::uint64_t chunks = 0;
    std::string failed_path;  // host path of the entry that failed
  };

  // Total size in bytes of the files below a host folder (links not followed),
  // or of one file with `single_file`.
  double FolderSize(const DiskServices& s, const std::string& host_path, bool single_file);
  // Copies a host folder tree into another; false at the first failure. A
  // source that cannot be listed counts as empty.
  bool CopyFolder(const DiskServices& s, const std::string& source, const std::string& destination);
  // Copies one file in chunks of at most 64 MiB, past the host's cache where
  // the volume takes direct transfers. The file is put on the medium with the
  // next batch of kFlushBatch files, or by FlushCopied: it counts as copied
  // only then.
  bool CopyFile(const DiskServices& s, const std::string& source, const std::string& destination);
  // Puts every file copied and not yet flushed on the medium; false (with the
  // failed path) when one does not get there. CopyFolder ends with it.
  bool FlushCopied();

  // Files written before their data and names are flushed together: the
  // medium's cache is emptied once for all of them rather than once a file.
  static constexpr std::size_t kFlushBatch = 16;

  // The preload step of a port under `preload_lock`: looks the drive letter up
  // again from the drive number (stored in `port`), checks the folder and the
  // room, copies, then has the disk's volume mounted afresh.
  Outcome Run(const DiskServices& s, std::mutex& preload_lock, PortDisk& port, const std::string& preload_folder);

  const Report& LastReport() const { return report_; }

 private:
  bool CopyTree(const DiskServices& s, const std::string& source, const std::string& destination);

  // A file written and not yet on the medium.
  struct Unflushed {
    std::unique_ptr<platform::HostFile> file;
    std::string source;
    std::uint64_t bytes = 0;
  };

  Report report_;
  // The chunk buffer, kept from one file to the next of a copy.
  std::vector<std::uint8_t> chunk_;
  std::vector<Unflushed> unflushed_;
};

}  // namespace linetool::disk
