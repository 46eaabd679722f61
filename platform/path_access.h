#pragma once
// Paths in the station's own notation, and the check whether a path may be used.
//
// Every path the programs hold in a text field or write into a file uses the
// backslash as separator ("Temp\TempBinData.bin", "D:\fw\x.bin"). A path without
// a leading backslash or drive letter is relative to the working directory. The
// host turns such a path into its own form only when it touches the file.

#include <string>
#include <string_view>

namespace platform {

enum class PathState {
  kMissing,      // the path does not exist
  kNoReadWrite,  // it exists but cannot be both read and written
  kReadWrite,    // it exists and can be read and written
};

class PathAccess {
 public:
  virtual ~PathAccess() = default;
  // Checks a host path (see ToHostPath). Never blocks for long.
  virtual PathState Check(const std::string& host_path) const = 0;
};

// Joins station-notation parts with one backslash between them.
std::string JoinStationPath(std::string_view a, std::string_view b);

// True for "\x", "\\server\x" and "C:..." (a drive letter and a colon).
bool IsAbsoluteStationPath(std::string_view path);

// The text after the last backslash (the whole text when there is none).
std::string_view FileNameOf(std::string_view station_path);

// Turns a station path into the host's form: relative paths are taken against
// `host_workdir` (a host path), each backslash becomes "/". A drive-letter path
// "X:\rest" maps to "<drive_root>/X/rest" when `drive_root` is given, else it is
// kept with its letter as first folder ("X/rest" under the working directory).
std::string ToHostPath(std::string_view station_path, std::string_view host_workdir,
                       std::string_view drive_root = {});

// Turns a host path (as a file picker answers it) into station notation: each
// "/" becomes a backslash.
std::string ToStationPath(std::string_view host_path);

}  // namespace platform
