#pragma once
// What the command-line programs share about their command lines: CLI11 set
// up alike (help that starts with the usage line, --version, one line and
// exit status 2 for a usage error), options whose values the program checks
// itself, and the subcommand a line chose.

// CLI11's inlined string splitting trips GCC's null-dereference analysis.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#pragma GCC diagnostic pop

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace command_line {

inline constexpr int kExitUsage = 2;

// The version of every program of this tree ("0.1.0").
const char* Version();

// Sets up help formatting, -h/--help, --version and subcommand fall-through
// (options of a command's parents may follow the command's name) on `app`,
// the program's top level. `app`'s name is the program's name.
void SetUp(CLI::App& app);

// Parses the command line. Nothing when the program goes on; otherwise the
// exit status after printing the help or version (on `out`) or the usage
// error as one line on `err`: "PROGRAM: what is wrong".
std::optional<int> Parse(CLI::App& app, int argc, const char* const* argv, std::ostream& out, std::ostream& err);
// The same for the arguments after the program's name.
std::optional<int> Parse(CLI::App& app, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// True when the line asks for --help (-h) or --version: a window program
// answers those before it opens its display.
bool AsksForHelpOrVersion(int argc, const char* const* argv);

// Takes an option's value where it belongs and returns "", or returns what
// is wrong with it.
using ValueCheck = std::function<std::string(const std::string& value)>;

// An option taking one value that `take` judges and keeps; a refused value
// ends the parse with take's text as the usage error line.
CLI::Option* AddCheckedOption(CLI::App& app, const std::string& name, ValueCheck take,
                              const std::string& description);

// The deepest subcommand the parsed line chose below `app`, or `app` itself.
const CLI::App* ChosenCommand(const CLI::App& app);

}  // namespace command_line
