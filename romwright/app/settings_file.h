#pragma once
// "config.ini": the programmer application's settings beside its executable, in
// the Windows profile format ("[Section]" lines, "Key=Value" lines, ";" comments).
//
// The file is UTF-8 when all of it is valid UTF-8, else GBK (the code page of
// the Windows stations whose files users bring along). Values come and go as
// UTF-8; the file keeps its own encoding.
//
// Reading follows the profile reader's rules: section and key names compare
// without regard to case, blanks around names and values are dropped, a value
// wrapped in one pair of quotes loses them, a value is cut to 199 bytes of the
// file's encoding (never inside a character), and anything missing (file,
// section or key) reads as an empty text.
// Writing replaces or adds one key and leaves every other line of the file as
// it was, byte for byte, including its comments and line ends. The new line is
// written in the file's encoding; a missing file is created as UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace romwright::app {

class SettingsFile {
 public:
  // Longest value a read returns, in bytes of the file's own text; longer
  // values are cut (a GBK file's value grows by half once it is UTF-8).
  static constexpr std::size_t kMaxValueLength = 199;
  static constexpr const char* kFileName = "config.ini";

  // `host_path` is the file as the host names it.
  explicit SettingsFile(std::string host_path) : path_(std::move(host_path)) {}

  // The settings file of a program: the folder of `executable_host_path` (up to
  // and including its last "/") followed by "config.ini".
  static std::string PathBesideExecutable(std::string_view executable_host_path);

  const std::string& Path() const { return path_; }

  // The value of `key` in `section` in UTF-8, cut to kMaxValueLength bytes of
  // the file's text; empty when the file, the section or the key is missing.
  std::string Read(std::string_view section, std::string_view key) const;

  // Sets `key` in `section` to `value`: an existing key line is replaced, a
  // missing key is added at the end of its section, a missing section is added
  // at the end of the file, and a missing file is created. False when the file
  // cannot be written or `value` has a character the file's encoding cannot
  // hold (the file is then unchanged).
  bool Write(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::optional<std::string> Load() const;

  std::string path_;
};

}  // namespace romwright::app
