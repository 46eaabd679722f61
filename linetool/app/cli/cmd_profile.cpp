// linetool-cli profile check FILE: loads a profile as the station does and prints
// the settings the load left.

#include <ostream>

#include "linetool/app/cli/cli_command.h"
#include "linetool/profile/line_engine.h"
#include "linetool/profile/profile_format.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

namespace {

void PrintProfileHelp(std::ostream& out) {
  out << "Usage: linetool-cli [--workdir DIR] profile check FILE\n"
         "\n"
         "Profile commands.\n"
         "\n"
         "Commands:\n"
         "  check FILE   load an INI profile exactly as the station does\n"
         "\n"
         "Run 'linetool-cli profile check --help' for details.\n";
}

void PrintCheckHelp(std::ostream& out) {
  out << "Usage: linetool-cli [--workdir DIR] profile check FILE\n"
         "\n"
         "Loads the INI profile FILE exactly as the station does. Every message box\n"
         "the load shows is printed to stderr. stdout gets the settings the load left\n"
         "in the record, in the text the station writes when it saves a profile (CR LF\n"
         "line ends), also when the load failed or validation cleared fields.\n"
         "\n"
         "A relative FILE is taken against the working directory (--workdir, else\n"
         "the current directory).\n"
         "\n"
         "Exit status: 0 when the profile loaded and is valid, 1 when not, 2 on a\n"
         "usage error.\n";
}

}  // namespace

int RunProfile(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintProfileHelp(ctx.err);
    return kExitUsage;
  }
  if (args[0] != "check") {
    if (WantsHelp({args[0]})) {
      PrintProfileHelp(ctx.out);
      return kExitOk;
    }
    ctx.err << "linetool-cli: unknown profile command " << args[0] << "\n";
    PrintProfileHelp(ctx.err);
    return kExitUsage;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (WantsHelp(rest)) {
    PrintCheckHelp(ctx.out);
    return kExitOk;
  }
  if (rest.size() != 1 || rest[0].rfind("--", 0) == 0) {
    PrintCheckHelp(ctx.err);
    return kExitUsage;
  }
  platform::linux_host::HostPathAccess access;
  profile::CLineEngine engine(ctx.sink, access, ctx.host_workdir);
  const bool loaded = engine.LoadProfile(StationPathOfArgument(ctx, rest[0]));
  ctx.out << profile::WriteProfileText(engine.Settings());
  ctx.out.flush();
  return loaded ? kExitOk : kExitFailed;
}

}  // namespace linetool::cli
