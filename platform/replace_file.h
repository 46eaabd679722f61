#pragma once
// Replacing the whole content of a file the user named (a saved image, a
// built database, a settings file, a profile) so that, whatever happens to the
// program meanwhile (a failed write, a full disk, the process killed), the file
// holds either its old content or all of the new one, never a part.
//
// The data go to a temporary file in the same folder, which is put on the
// medium (fsync) and then renamed over the target; the folder is synced after
// the rename, so a power cut too leaves the old content or the new, and
// kWritten is answered only once the new content is durable. Where the file
// system makes unnamed files (O_TMPFILE) the temporary gets its name
// ("NAME.tmp-XXXXXXXX") only once it is whole and durable, so a kill or a
// power cut while the data go leaves nothing beside the target; elsewhere a
// program killed before the rename may leave that temporary behind, never a
// cut target. A symbolic link is followed and its target replaced; an
// existing file keeps its permission bits. A target that exists and is no
// regular file (a device, a pipe) cannot be replaced and is written in place.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

enum class WriteOutcome {
  kWritten,        // the new content is in place
  kFolderMissing,  // the folder of the file does not exist
  kFailed,         // the file could not be written or made durable; an old file is untouched
                   // unless the rename was made and only the folder's sync failed
};

WriteOutcome ReplaceFile(const std::string& host_path, std::string_view data);
WriteOutcome ReplaceFile(const std::string& host_path, std::span<const std::uint8_t> data);

// Held while a file is read, changed and replaced by a program that changes
// one part of it (a settings file written one key at a time): a second
// program doing the same to the same file waits until the first has
// replaced it, so neither writes over the other's change. The lock is an
// advisory one on the file's folder, so it holds while the file is missing
// and across the rename that replaces it; it goes with the object, and with
// the process however that ends. Without a folder to lock it holds nothing
// (the replace then fails on its own).
class FileRewriteLock {
 public:
  explicit FileRewriteLock(const std::string& host_path);
  ~FileRewriteLock();
  FileRewriteLock(const FileRewriteLock&) = delete;
  FileRewriteLock& operator=(const FileRewriteLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Appends `data` to the end of a file (created when missing) in one piece:
// under an advisory lock on the file, so the entries of two programs that
// share the file never run into each other, and a file that is longer than
// `restart_above` bytes is emptied first by the same writer that then
// appends; the entry (and a new file's name) is on the medium before it
// answers. False when the file cannot be opened or not all of `data` went in
// and onto the medium.
bool AppendWhole(const std::string& host_path, std::string_view data, std::uint64_t restart_above);

// Puts a folder's entries (files created, renamed or removed in it) on the
// medium. False when the folder cannot be opened or synced.
bool SyncFolder(const std::string& host_folder);

}  // namespace platform
