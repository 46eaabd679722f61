// The options every station program takes, parsed alike by linetool-cli and
// the window: the station (--sim, --workdir) and its records.

#include <filesystem>

#include "linetool/app/cli/cli_command.h"
#include "platform/linux/host_services.h"
#include "platform/path_access.h"

namespace linetool::cli {

void AddStationOptions(CLI::App& app, GlobalOptions& options) {
  // A flag: the next argument is never its value, only "--sim=N" is.
  CLI::Option* sim =
      app.add_flag("--sim{}", options.sim_spec, "the simulated station: four bridges, N (1-64) or a JSON world FILE")
          ->type_name("[=N|=FILE]");
  app.parse_complete_callback([sim, &options] { options.sim = sim->count() > 0; });
  app.add_option("--workdir", options.workdir,
                 "the working directory, also of relative FILE names (default: the current one)")
      ->type_name("DIR");
  app.add_option("--records", options.records,
                 "keep a record of every unit in STORE: a SQLite file or a postgresql:// URL")
      ->type_name("STORE");
  app.add_flag("--line-serials", options.line_serials,
               "serial numbers from the line's counter in the --records store");
  app.add_option("--station-name", options.station_name, "the station's name in its records (default: the host name)")
      ->type_name("NAME");
}

std::string RecordsOptionsError(const GlobalOptions& options) {
  if (options.line_serials && options.records.empty())
    return "--line-serials needs --records STORE: the line's counter lives in the store";
  return {};
}

std::string WorkdirOf(const GlobalOptions& options, std::string& error) {
  const std::string workdir = options.workdir.empty() ? platform::linux_host::CurrentDirectory()
                                                      : std::filesystem::absolute(options.workdir).string();
  std::error_code ec;
  if (!std::filesystem::is_directory(workdir, ec)) {
    error = "no such working directory: " + workdir;
    return {};
  }
  return workdir;
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

}  // namespace linetool::cli
