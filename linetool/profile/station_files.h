#pragma once
// Whole-file reads and writes of the station's own files (profiles, composed
// images, the firmware path list). Host paths.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/replace_file.h"

namespace linetool::profile {

// The whole content of a regular file; nothing when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& host_path);

// The first `limit` bytes of a regular file, and whether it holds more. A file
// longer than its format can hold is never read beyond that.
struct FileHead {
  std::vector<std::uint8_t> bytes;
  bool more = false;
};
std::optional<FileHead> ReadFileHead(const std::string& host_path, std::size_t limit);

// The size of a regular file; nothing when it is missing or not a regular file.
std::optional<std::uintmax_t> FileSize(const std::string& host_path);

// Profiles and the firmware path list are replaced whole: a target holds
// either its old or its new content, never a part (platform/replace_file.h).
using platform::ReplaceFile;
using platform::WriteOutcome;

// Deletes the file when it exists and creates it anew, empty. False when that
// fails.
bool CreateEmptyFile(const std::string& host_path);

// Writes `data` as the whole content of the file, in place. False when the file
// cannot be opened or a write fails (the file may then hold a part).
bool WriteFileBytes(const std::string& host_path, std::string_view data);

// Creates a folder (and its parents); an existing folder is fine.
bool EnsureFolder(const std::string& host_path);

// Removes a file when it exists; true when no file is left.
bool RemoveFile(const std::string& host_path);

}  // namespace linetool::profile
