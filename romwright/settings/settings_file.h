#pragma once
// "config.ini": the programmer application's settings beside its executable, in
// the Windows profile format ("[Section]" lines, "Key=Value" lines, ";" comments).
// An installed program cannot write beside itself: it reads the shipped file
// as its defaults and keeps the user's own settings in
// "$XDG_CONFIG_HOME/romwright/config.ini" (created on the first change); a key
// the user's file holds wins over the shipped one.
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

// Where the window keeps its language and the chip it starts with.
inline constexpr const char* kRunSection = "Run";
inline constexpr const char* kDefaultLanguageKey = "DefaultLanguage";
inline constexpr const char* kDefaultChipKey = "DefaultChipName";

class SettingsFile {
 public:
  // Longest value a read returns, in bytes of the file's own text; longer
  // values are cut (a GBK file's value grows by half once it is UTF-8).
  static constexpr std::size_t kMaxValueLength = 199;
  static constexpr const char* kFileName = "config.ini";

  // `host_path` is the file as the host names it, the one written;
  // `defaults_host_path`, when given, the file a key missing there is read from.
  explicit SettingsFile(std::string host_path, std::string defaults_host_path = {})
      : path_(std::move(host_path)), defaults_(std::move(defaults_host_path)) {}

  // Where a program's settings are: run from its build tree (its folder lies
  // under `build_tree`), "config.ini" beside the executable alone, as ever;
  // installed, the user's file under the configuration home ($XDG_CONFIG_HOME
  // when it is an absolute path, else $HOME/.config) with the shipped file
  // beside the executable as its defaults. Without any home the file beside
  // the executable is used alone.
  struct Place {
    std::string user;
    std::string defaults;
    bool operator==(const Place&) const = default;
  };
  static Place PlaceFor(std::string_view executable_folder, std::string_view build_tree, const char* xdg_config_home,
                        const char* home);
  // The settings of this program, whose executable lies in `executable_folder`.
  static SettingsFile ForProgram(std::string_view executable_folder);

  // Where a program whose settings lie at `place` keeps what it writes as it
  // runs (its log): installed, the user's state folder ($XDG_STATE_HOME when
  // it is an absolute path, else $HOME/.local/state) "/romwright"; empty where
  // the settings lie beside the executable alone, whose folder then takes
  // the log too.
  static std::string StateFolderFor(const Place& place, const char* xdg_state_home, const char* home);
  // That folder for these settings, from this program's environment.
  std::string StateFolder() const;


  const std::string& Path() const { return path_; }
  const std::string& DefaultsPath() const { return defaults_; }

  // The value of `key` in `section` in UTF-8, cut to kMaxValueLength bytes of
  // the file's text; empty when the file, the section or the key is missing.
  std::string Read(std::string_view section, std::string_view key) const;

  // Sets `key` in `section` to `value`: an existing key line is replaced, a
  // missing key is added at the end of its section, a missing section is added
  // at the end of the file, and a missing file is created. False when the file
  // cannot be written or `value` has a character the file's encoding cannot
  // hold (the file is then unchanged). The user's folder is made when missing.
  bool Write(std::string_view section, std::string_view key, std::string_view value);

 private:
  static std::optional<std::string> Load(const std::string& path);
  static std::optional<std::string> Find(const std::string& path, std::string_view section, std::string_view key);

  std::string path_;
  std::string defaults_;
};

}  // namespace romwright::app
