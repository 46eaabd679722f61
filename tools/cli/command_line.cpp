#include "tools/cli/command_line.h"

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string_view>

namespace command_line {

namespace {

// Help that starts with the usage line, as man pages and help2man expect.
class UsageFirst final : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    std::ostringstream out;
    out << make_usage(app, name) << "\n" << make_description(app) << make_positionals(app)
        << make_groups(app, mode) << make_subcommands(app, mode) << '\n' << make_footer(app);
    return out.str();
  }
  // "--sim" rather than "--sim{}": a flag's default value is no part of its name.
  std::string make_option_name(const CLI::Option* opt, bool is_positional) const override {
    std::string name = CLI::Formatter::make_option_name(opt, is_positional);
    for (auto open = name.find('{'); open != std::string::npos; open = name.find('{', open)) {
      const auto close = name.find('}', open);
      if (close == std::string::npos) break;
      name.erase(open, close - open + 1);
    }
    return name;
  }
};

// The full command path of a subcommand: "linetool-cli profile check".
std::string PathOf(const CLI::App* app) {
  std::string path = app->get_name();
  for (const CLI::App* p = app->get_parent(); p != nullptr; p = p->get_parent()) path = p->get_name() + " " + path;
  return path;
}

}  // namespace

const char* Version() { return STATION_VERSION; }

void SetUp(CLI::App& app) {
  auto formatter = std::make_shared<UsageFirst>();
  formatter->column_width(26);
  app.formatter(formatter);
  app.set_version_flag("--version", std::string(app.get_name()) + " " + Version(), "print the version and exit");
  app.set_help_flag("-h,--help", "print this help and exit");
  app.fallthrough();
  app.option_defaults()->always_capture_default(false);
}

std::optional<int> Parse(CLI::App& app, int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  return Parse(app, std::vector<std::string>(argv + std::min(argc, 1), argv + argc), out, err);
}

std::optional<int> Parse(CLI::App& app, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them from the back
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    const CLI::App* chosen = ChosenCommand(app);
    out << chosen->help(chosen == &app ? "" : PathOf(chosen->get_parent()));
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << "\n";
    return 0;
  } catch (const CLI::RequiredError& e) {
    // An argument nobody takes is the fault to name, not what its absence
    // left missing: "run --profil x" lacks --profile because --profil is wrong.
    const std::vector<std::string> extra = app.remaining(true);
    const CLI::App* chosen = ChosenCommand(app);
    if (extra.empty() && chosen->get_require_subcommand_min() > 0) {
      const std::string path = chosen == &app ? app.get_name() : PathOf(chosen);
      err << app.get_name() << ": a command is required (" << path << " --help lists them)\n";
    } else if (extra.empty()) {
      err << app.get_name() << ": " << e.what() << "\n";
    } else {
      const bool option = extra.front().size() > 1 && extra.front().front() == '-';
      err << app.get_name() << ": " << (option ? "unknown option " : "unknown command or argument ") << extra.front()
          << "\n";
    }
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    err << app.get_name() << ": " << e.what() << "\n";
    return kExitUsage;
  }
  return std::nullopt;
}

bool AsksForHelpOrVersion(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "-h" || a == "--help" || a == "--version") return true;
  }
  return false;
}

CLI::Option* AddCheckedOption(CLI::App& app, const std::string& name, ValueCheck take,
                              const std::string& description) {
  return app.add_option_function<std::string>(
      name,
      [take = std::move(take)](const std::string& value) {
        if (std::string why = take(value); !why.empty()) throw CLI::ValidationError(why);
      },
      description);
}

const CLI::App* ChosenCommand(const CLI::App& app) {
  const CLI::App* at = &app;
  for (;;) {
    const auto chosen = at->get_subcommands();
    if (chosen.empty()) return at;
    at = chosen.front();
  }
}

}  // namespace command_line
