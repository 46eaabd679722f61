#pragma once
// Replacing the whole content of a file the user named (a saved image, a
// built database, a settings file, a profile) so that, whatever happens to the
// program meanwhile (a failed write, a full disk, the process killed), the file
// holds either its old content or all of the new one, never a part.
//
// The data go to a temporary file in the same folder, which is put on the
// medium (fsync) and then renamed over the target; the folder is synced after
// the rename, so a power cut too leaves the old content or the new, and
// kWritten is answered only once the new content is durable. A symbolic link is followed and its target replaced; an
// existing file keeps its permission bits. A target that exists and is no
// regular file (a device, a pipe) cannot be replaced and is written in place.
// A program killed between the two steps may leave the temporary file
// ("NAME.tmp-XXXXXXXX") behind, never a cut target.

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

// Puts a folder's entries (files created, renamed or removed in it) on the
// medium. False when the folder cannot be opened or synced.
bool SyncFolder(const std::string& host_folder);

}  // namespace platform
