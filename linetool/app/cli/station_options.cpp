// The options every station program takes, parsed alike by linetool-cli and
// the window.

#include <filesystem>

#include "linetool/app/cli/cli_command.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

void AddStationOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option_function<std::string>(
         "--sim",
         [&options](const std::string& spec) {
           options.sim = true;
           options.sim_spec = spec;
         },
         "the simulated station: four bridges, N (1-64) or a JSON world FILE")
      ->expected(0, 1)
      ->type_name("[=N|=FILE]");
  app.add_option("--workdir", options.workdir,
                 "the working directory, also of relative FILE names (default: the current one)")
      ->type_name("DIR");
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

}  // namespace linetool::cli
