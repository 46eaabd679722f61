// linetool-cli run: one production run, as the operator runs it from the
// window: refresh the ports, load the profile as Load INI does, press Start,
// watch the grid, then report the counters and the log file.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <iostream>
#include <mutex>
#include <random>

#include <nlohmann/json.hpp>

#include "linetool/app/cli/cli_command.h"
#include "linetool/app/cli/host_station_backend.h"
#include "linetool/app/cli/loop_station_backend.h"
#include "linetool/app/cli/records_option.h"
#include "linetool/app/cli/sim_station_backend.h"
#include "linetool/app/cli/station_backend.h"
#include "linetool/app/control_ids.h"
#include "linetool/app/line_tool_presenter.h"
#include "linetool/app/no_window_dialogs.h"
#include "linetool/app/port_grid.h"
#include "linetool/app/scaled_clock.h"
#include "linetool/app/single_instance.h"
#include "linetool/run/production_run.h"
#include "platform/linux/host_services.h"
#include "platform/linux/instance_lock_file.h"

namespace linetool::cli {

namespace {

void PrintGrid(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  const auto& columns = app::GridColumns();
  std::vector<std::size_t> widths;
  for (const auto& c : columns) widths.push_back(profile::MessageText(c.header).size());
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  auto line = [&](auto text_of) {
    std::string l;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      std::string t = text_of(c);
      t.resize(widths[c], ' ');
      l += (c == 0 ? "" : " ") + t;
    }
    while (!l.empty() && l.back() == ' ') l.pop_back();
    out << l << "\n";
  };
  line([&](std::size_t c) { return std::string(profile::MessageText(columns[c].header)); });
  for (const auto& row : rows) line([&](std::size_t c) { return row[c]; });
}

struct RunArgs {
  std::string profile;
  bool json = false;
};

// The run as one JSON document: every port that holds a bridge, its stage
// cells, and the counters.
void PrintRunJson(std::ostream& out, const std::vector<std::vector<std::string>>& rows, const app::Counters& c,
                  const std::string& log) {
  // The stage columns of the grid, after Port# ... Capacity.
  static const char* const kStages[] = {"config_update", "fw_update", "relink", "partition",
                                        "format",        "rw_test",   "preload"};
  constexpr std::size_t kFirstStage = 7;
  nlohmann::json ports = nlohmann::json::array();
  for (std::size_t port = 0; port < rows.size(); ++port) {
    const auto& row = rows[port];
    if (row.size() < kFirstStage + std::size(kStages) || (row[1].empty() && row[4].empty())) continue;
    nlohmann::json stages = nlohmann::json::object();
    bool failed = false, passed = false;
    for (std::size_t i = 0; i < std::size(kStages); ++i) {
      const std::string& cell = row[kFirstStage + i];
      stages[kStages[i]] = cell.empty() ? nlohmann::json() : nlohmann::json(cell);
      failed = failed || app::IsFailText(cell);
      passed = passed || !cell.empty();
    }
    ports.push_back({{"port", port},
                     {"result", failed ? nlohmann::json("FAIL") : passed ? nlohmann::json("PASS") : nlohmann::json()},
                     {"status", row[1]},
                     {"serial_number", row[4]},
                     {"firmware_version", row[5]},
                     {"capacity", row[6]},
                     {"stages", stages}});
  }
  const nlohmann::json doc = {{"passed", c.fail == 0 && c.total > 0},
                              {"counters", {{"pass", c.pass}, {"fail", c.fail}, {"total", c.total}}},
                              {"log", log},
                              {"ports", ports}};
  out << doc.dump(2) << "\n";
}

// Passes message boxes on and counts them, so the run can tell whether Start
// said why it started nothing.
class CountingSink final : public platform::MessageSink {
 public:
  explicit CountingSink(platform::MessageSink& next) : next_(next) {}
  using MessageSink::Show;
  platform::MessageAnswer Show(const platform::MessageBox& box) override {
    count_.fetch_add(1);
    return next_.Show(box);
  }
  std::size_t Count() const { return count_.load(); }

 private:
  platform::MessageSink& next_;
  std::atomic<std::size_t> count_{0};
};

// Refreshes the ports, loads the profile, presses Start and waits for the
// run to end, printing the grid as it goes. `before_teardown` runs before
// the run and the window go (the host's plug events end there).
int RunProduction(CliContext& ctx, const RunArgs& run_args, const app::StationServices& services,
                  const std::string& drive_root, const std::function<void()>& before_teardown) {
  int exit_code = kExitUsage;
  // The records store goes after the run that writes to it.
  std::unique_ptr<records::RecordsStore> store;
  if (!ctx.options.records.empty()) {
    std::string error;
    store = OpenRecordsOption(ctx, error);
    if (!store) {
      ctx.err << "linetool-cli run: " << error << "\n";
      before_teardown();
      return kExitUsage;
    }
  }
  CountingSink boxes(ctx.sink);
  platform::linux_host::HostPathAccess access;
  profile::CLineEngine engine(boxes, access, ctx.host_workdir);
  engine.SetDriveRoot(drive_root);
  app::NoWindowDialogs dialogs;
  app::LineToolPresenter presenter(engine, boxes, dialogs, dialogs);
  app::ProductionRun run(presenter, services);
  presenter.AttachRun(&run);
  if (store) run.SetRecords(RecordsSettingOf(ctx, store.get()));

  const bool live = ::isatty(STDOUT_FILENO) == 1;
  std::mutex out_mutex;
  presenter.SetObserver([&](const app::PresenterEvent& e) {
    if (e.kind == app::PresenterEvent::Kind::kNote) {
      std::lock_guard g(out_mutex);
      ctx.err << "port " << e.row << " "
              << profile::MessageText(app::GridColumns()[static_cast<std::size_t>(e.column)].header) << ": "
              << e.text << std::endl;
      return;
    }
    if (e.kind == app::PresenterEvent::Kind::kRecordLost) {
      std::lock_guard g(out_mutex);
      ctx.err << "port " << e.row << " record: " << e.text << std::endl;
      return;
    }
    if (e.kind != app::PresenterEvent::Kind::kCell || run_args.json) return;
    std::lock_guard g(out_mutex);
    if (live) {
      ctx.out << "\033[H\033[2J";
      PrintGrid(ctx.out, presenter.GridTexts());
      ctx.out << "Progress: " << presenter.ProgressText() << std::endl;
    } else {
      ctx.out << "port " << e.row << " " << profile::MessageText(app::GridColumns()[static_cast<std::size_t>(e.column)].header)
              << ": " << (e.text.empty() ? "-" : e.text) << std::endl;
    }
  });

  run.RefreshPorts();
  const bool loaded = presenter.LoadIni(StationPathOfArgument(ctx, run_args.profile));
  const bool auto_mode = engine.Settings().auto_mp != 0;
  if (loaded && ctx.options.line_serials && !run.LineSerialsWanted()) {
    ctx.err << "linetool-cli run: --line-serials takes no effect: the profile does not write serial numbers\n"
               "(it needs config_enable=1 and serial_number_increase=1)\n";
  }
  const std::size_t boxes_before = boxes.Count();
  const bool pressed = loaded && !auto_mode && presenter.Command(app::ids::kStart);
  // A run that ended already was started all the same.
  if (pressed && (run.RunActive() || run.RunsFinished() > 0)) {
    if (ctx.interruption) ctx.interruption->OnStop([&run] { run.StopAllJobs(); });
    run.WaitIdle();
    if (ctx.interruption) ctx.interruption->OnStop({});
    presenter.SetObserver({});
    std::lock_guard g(out_mutex);
    const app::Counters c = presenter.CounterValues();
    if (run_args.json) {
      PrintRunJson(ctx.out, presenter.GridTexts(), c, run.LogFilePath());
    } else {
      ctx.out << "\n";
      PrintGrid(ctx.out, presenter.GridTexts());
      ctx.out << "Pass: " << c.pass << " Fail: " << c.fail << " Total: " << c.total << "\n";
      ctx.out << "Log: " << run.LogFilePath() << "\n";
    }
    if (store) {
      if (const auto waiting = store->Pending(); waiting && *waiting > 0) {
        ctx.err << "records: " << *waiting << " wait in the outbox for the records server (" << store->Error()
                << "); they go there once it answers\n";
      }
    }
    exit_code = c.fail == 0 && c.total > 0 ? kExitOk : kExitFailed;
    if (ctx.interruption && ctx.interruption->Requested()) {
      ctx.err << "linetool-cli run: stopped by a signal (Ctrl-C or SIGTERM); the jobs stopped at their next safe point\n";
      exit_code = command_line::kExitInterrupted;
    }
  } else {
    presenter.SetObserver({});
    // Why, where no message box has said it.
    if (!loaded) {
      ctx.err << "linetool-cli run: the profile " << run_args.profile << " did not load as a valid profile\n";
    } else if (auto_mode) {
      ctx.err << "linetool-cli run: the profile has auto mode on (auto_mp=1): Start is disabled, and the\n"
                 "station starts a run by itself whenever exactly one bridge is plugged in. run takes a\n"
                 "profile with auto_mp=0.\n";
    } else if (run.Table().device_count == 0) {
      ctx.err << "linetool-cli run: no device found\n";
    } else if (boxes.Count() == boxes_before) {
      ctx.err << "linetool-cli run: no bridge can take part: none of them reported a firmware version\n";
    }
    ctx.err << "linetool-cli run: no run started\n";
  }
  before_teardown();
  presenter.AttachRun(nullptr);
  return exit_code;
}

int RunOnSimulatedStation(CliContext& ctx, const RunArgs& run_args) {
  std::string error;
  const auto world = SimWorldOf(ctx, error);
  if (!world) {
    ctx.err << "linetool-cli: " << error << "\n";
    return kExitUsage;
  }
  // One station per working directory of the simulated station.
  platform::linux_host::InstanceLockFile lock(
      (std::filesystem::path(ctx.host_workdir) / "LineTool.lock").string());
  if (!app::ClaimSingleInstance(lock, ctx.sink)) return kExitUsage;

  std::random_device rd;
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("linetool-run-" + std::to_string(rd()));
  int exit_code = kExitUsage;
  if (sim::station::HasLoopDisks(*world)) {
    // Real block devices under simulated bridges: real time, real tools.
    if (const auto missing = platform::linux_host::MissingRunCapabilities(); !missing.empty()) {
      ctx.err << "linetool-cli run: loop-backed disks need root, or the capabilities of README.capabilities: it lacks";
      for (const auto& cap : missing) ctx.err << " " << cap;
      ctx.err << "\n";
      return kExitUsage;
    }
    const std::filesystem::path folder = world->disk_folder;  // in the working folder (SimWorldOf)
    platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
    {
      LoopStationBackend backend(*world, clock, folder, root / "drives", ctx.host_workdir);
      if (!backend.Error().empty()) {
        ctx.err << "linetool-cli run: no loop device for the world's disks: " << backend.Error() << "\n";
      } else {
        const std::string fat = platform::linux_host::FatMountDriver();
        ctx.err << "linetool-cli run: loop-backed disks in " << folder.string() << "; FAT32 volumes mount through "
                << (fat == "vfat" ? "the kernel (vfat)" : "the kernel (vfat) or, where it has none, FUSE (fusefat)")
                << ", NTFS volumes through ntfs-3g\n";
        exit_code = RunProduction(ctx, run_args, backend.Services(), backend.DriveRoot(), [] {});
      }
    }
    std::error_code ec;
    std::filesystem::remove_all(root / "drives", ec);  // only empty mount points remain
    std::filesystem::remove(root, ec);
    return exit_code;
  }
  {
    platform::SteadyClock calendar = platform::linux_host::MakeSystemClock();
    app::ScaledClock clock(calendar, app::kSimTimeFactor);
    SimStationBackend backend(*world, clock, root, ctx.host_workdir);
    exit_code = RunProduction(ctx, run_args, backend.Services(), backend.DriveRoot(), [] {});
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return exit_code;
}

int RunOnHost(CliContext& ctx, const RunArgs& run_args) {
  if (const auto missing = platform::linux_host::MissingRunCapabilities(); !missing.empty()) {
    ctx.err << "linetool-cli run: a production run on this host needs root, or the capabilities the operators'\n"
               "route gives linetool-cli (/usr/share/doc/linetool/README.capabilities): it lacks";
    for (const auto& cap : missing) ctx.err << " " << cap;
    ctx.err << " (SCSI pass-through to the bridges, mounting their volumes, partitioning their disks)\n";
    return kExitUsage;
  }
  // One station per machine.
  platform::linux_host::InstanceLockFile lock(platform::linux_host::MachineLockPath("linetool.lock"));
  if (!app::ClaimSingleInstance(lock, ctx.sink)) return kExitUsage;

  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  HostStationBackend backend(clock, ctx.host_workdir);
  if (const auto out_of_reach = backend.DisksOutOfReach(); !out_of_reach.empty()) {
    ctx.err << "linetool-cli run: no read and write access to";
    for (const auto& node : out_of_reach) ctx.err << " " << node;
    ctx.err << "; start it as root, or as a member of the group \"linetool\" that the bridge disks' udev rule\n"
               "gives them to\n";
    return kExitUsage;
  }
  if (!backend.EventsError().empty()) {
    ctx.err << "linetool-cli run: plugs and unplugs are not followed (" << backend.EventsError() << ")\n";
  }
  return RunProduction(ctx, run_args, backend.Services(), backend.DriveRoot(), [&] { backend.StopEvents(); });
}

}  // namespace

CliCommand AddRun(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("run", "one production run on every bridge found, as Start does");
  auto args = std::make_shared<RunArgs>();
  cmd->add_option("--profile", args->profile, "the profile to load, as Load INI does")->type_name("FILE")->required();
  cmd->add_flag("--json", args->json,
                "print one JSON document at the end (every port's stages, serial number and firmware version, "
                "the counters) instead of the grid");
  cmd->footer(std::string(
      "Runs one production run on every bridge found: refreshes the ports, loads\n"
      "the profile into the settings panel as Load INI does, presses Start and\n"
      "waits for the run to end. Message boxes go to stderr. Each grid change is\n"
      "printed as a line (a live table when stdout is a terminal); at the end the\n"
      "grid, \"Pass: N Fail: N Total: N\" and the path of the day's log file.\n"
      "A relative --profile FILE, and every file the profile names, is taken\n"
      "against the working directory (--workdir, else the current directory).\n"
      "A profile with auto mode on (auto_mp=1) is refused: the window starts such\n"
      "runs by itself, one plugged bridge at a time.\n"
      "\n"
      "With --sim the run works on the simulated station, 50 times faster than\n"
      "real time; only one such station runs per working directory. A world file\n"
      "whose bridges have \"disk_backing\": \"loop\" runs in real time on loop\n"
      "devices over their disk images (kept in the world's \"disk_folder\", default\n"
      "sim-disks in the working directory): sfdisk, mkntfs and the mounts work on\n"
      "them as on real disks. That needs /dev/loop-control and root or the\n"
      "capabilities below.\n"
      "\n"
      "Without --sim it works on the bridges plugged into this machine, in real\n"
      "time: SCSI pass-through to the bridges, sfdisk, mkntfs and ntfslabel on\n"
      "their disks, the volumes mounted below ") + kHostDriveRoot + ". That needs\n"
      "root, or CAP_SYS_RAWIO and CAP_SYS_ADMIN as the program file's capabilities\n"
      "and read and write access to the bridge disks (the package's udev rule gives\n"
      "them to the group \"linetool\"; README.capabilities). Only one station runs per machine\n"
      "(lock file " + platform::linux_host::MachineLockPath("linetool.lock") + ").\n"
      "Plugs and unplugs before Start refresh the ports, as in the window.\n"
      "\n"
      "With --records STORE every port of the run leaves one unit record there after\n"
      "its log line (a record that cannot be written is named on stderr: \"port N\n"
      "record: why\"); with --line-serials the ports take the line's serial numbers.\n"
      "A line's server that does not answer loses no record: it waits in\n"
      "records_outbox.sqlite in the working directory (stderr says how many wait)\n"
      "and goes to the server, in order and once, when a later run or\n"
      "`records export` reaches it.\n"
      "\n"
      "Exit status: 0 every device of the run passed, 1 a device failed, 2 no run\n"
      "started (the profile did not load, auto mode on, refused by a check of Start,\n"
      "no device, no rights on this host, another station running, a --sim that\n"
      "names no station, or bad arguments). Each of them says why on stderr.\n");
  return {cmd, [args](CliContext& ctx) {
            return ctx.options.sim ? RunOnSimulatedStation(ctx, *args) : RunOnHost(ctx, *args);
          }};
}

}  // namespace linetool::cli
