// linetool-cli profile check FILE: loads a profile as the station does and prints
// the settings the load left.

#include <memory>
#include <ostream>

#include "linetool/app/cli/cli_command.h"
#include "linetool/profile/line_engine.h"
#include "linetool/profile/profile_format.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

CliCommand AddProfile(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("profile", "profile commands");
  cmd->require_subcommand(1);
  CLI::App* check = cmd->add_subcommand("check", "load an INI profile exactly as the station does");
  auto file = std::make_shared<std::string>();
  check->add_option("FILE", *file, "the profile")->required();
  check->footer(
      "Loads the INI profile FILE exactly as the station does. Every message box\n"
      "the load shows is printed to stderr. stdout gets the settings the load left\n"
      "in the record, in the text the station writes when it saves a profile (CR LF\n"
      "line ends), also when the load failed or validation cleared fields.\n"
      "\n"
      "A relative FILE is taken against the working directory (--workdir, else\n"
      "the current directory).\n"
      "\n"
      "Exit status: 0 when the profile loaded and is valid, 1 when not, 2 on a\n"
      "usage error.\n");
  return {cmd, [file](CliContext& ctx) {
            platform::linux_host::HostPathAccess access;
            profile::CLineEngine engine(ctx.sink, access, ctx.host_workdir);
            const bool loaded = engine.LoadProfile(StationPathOfArgument(ctx, *file));
            ctx.out << profile::WriteProfileText(engine.Settings());
            ctx.out.flush();
            return loaded ? kExitOk : kExitFailed;
          }};
}

}  // namespace linetool::cli
