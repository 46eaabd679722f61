// linetool-cli: the production station without a window.

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "linetool/app/cli/cli_command.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

bool WantsHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return a == "--help" || a == "-h"; });
}

std::string StationPathOfArgument(const CliContext&, const std::string& arg) {
  const std::filesystem::path p(arg);
  // A relative name stays relative: the station takes it against its working
  // directory.
  if (p.is_relative()) return platform::ToStationPath(arg);
  return platform::ToStationPath(p.lexically_normal().string());
}

std::string HostPathOfArgument(const CliContext& ctx, const std::string& arg) {
  const std::filesystem::path p(arg);
  return p.is_relative() ? (std::filesystem::path(ctx.host_workdir) / p).string() : arg;
}

namespace {

void PrintUsage(std::ostream& out) {
  out << "Usage: linetool-cli [--sim[=N|=FILE]] [--workdir DIR] COMMAND [ARGS...]\n"
         "\n"
         "The VX7700 production station without a window.\n"
         "\n"
         "Options:\n"
         "  --sim          run on the built-in simulated station\n"
         "  --sim=N        simulated station with N bridges\n"
         "  --sim=FILE     simulated station described by a JSON world file\n"
         "  --workdir DIR  the station's working directory (default: current directory);\n"
         "                 relative FILE names on the command line are taken against it,\n"
         "                 as with git -C and make -C\n"
         "  --help         show this help; COMMAND --help shows a command's help\n"
         "\n"
         "Commands:\n";
  for (const auto& c : Commands()) {
    out << "  " << c.usage << "\n      " << c.summary << "\n";
  }
  out << "\n"
         "Exit status, the same for every command:\n"
         "  0  done (run: every device of the run passed)\n"
         "  1  carried out and failed: a bridge is missing or refused, a file could not\n"
         "     be composed or formatted, a profile did not load as valid, a device of\n"
         "     the run failed\n"
         "  2  not started: a bad command line or option value (also a --sim count or\n"
         "     world file that names no station), or a run that did not start (a check\n"
         "     of Start refused it, no bridge, auto mode on, no rights, another station)\n";
}

}  // namespace
}  // namespace linetool::cli

int main(int argc, char** argv) {
  using namespace linetool::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  GlobalOptions opts;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintUsage(std::cout);
      return kExitOk;
    }
    if (a == "--sim") {
      opts.sim = true;
    } else if (a.rfind("--sim=", 0) == 0) {
      opts.sim = true;
      opts.sim_spec = a.substr(6);
    } else if (a == "--workdir" && i + 1 < args.size()) {
      opts.workdir = args[++i];
    } else if (a.rfind("--workdir=", 0) == 0) {
      opts.workdir = a.substr(10);
    } else if (a.rfind("--", 0) == 0) {
      std::cerr << "linetool-cli: unknown option " << a << "\n";
      PrintUsage(std::cerr);
      return kExitUsage;
    } else {
      break;
    }
  }
  if (i >= args.size()) {
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  const std::string name = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  for (const auto& c : Commands()) {
    if (name == c.name) {
      std::string workdir = opts.workdir.empty() ? platform::linux_host::CurrentDirectory()
                                                 : std::filesystem::absolute(opts.workdir).string();
      platform::StreamSink sink(std::cerr);
      CliContext ctx{opts, workdir, std::cout, std::cerr, sink};
      return c.run(ctx, rest);
    }
  }
  std::cerr << "linetool-cli: unknown command " << name << "\n";
  PrintUsage(std::cerr);
  return kExitUsage;
}
