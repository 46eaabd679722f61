#pragma once
// Replacing the whole content of a file the user named (a saved image, a
// built database, a settings file, a profile) so that, whatever happens to the
// program meanwhile (a failed write, a full disk, the process killed), the file
// holds either its old content or all of the new one, never a part.
//
// The data go to a temporary file in the same folder, which is then renamed
// over the target. A symbolic link is followed and its target replaced; an
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
  kFailed,         // the file could not be written; an old file is untouched
};

WriteOutcome ReplaceFile(const std::string& host_path, std::string_view data);
WriteOutcome ReplaceFile(const std::string& host_path, std::span<const std::uint8_t> data);

}  // namespace platform
