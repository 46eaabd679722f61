// A line of stations on one records database, through linetool-cli as the
// operators run it: four station processes run 16 simulated bridges each at
// the same time against one PostgreSQL server (a throwaway cluster) with line
// serial numbers on, round after round (LINETOOL_LINE_ROUNDS, default 2).
// And a run without a records setting leaves what it always left.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/tests/throwaway_postgres.h"
#include "tools/testing/test_paths.h"

namespace {

namespace fs = std::filesystem;
using linetool::records::UnitRecord;

constexpr const char* kProfile = "kl_line_Tool v0.3.ini";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Folder {
 public:
  Folder() : path_(fs::temp_directory_path() / ("line-records-" + std::to_string(std::random_device{}()))) {
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// A station's working directory with the sample profile and its files.
fs::path Station(const fs::path& root, const std::string& name) {
  const fs::path work = root / name;
  fs::create_directories(work);
  const fs::path res(test_support::kResourceDir);
  for (const char* f : {kProfile, "121105_10_0000.bin", "wr_test.bin"}) fs::copy_file(res / f, work / f);
  fs::copy(res / "preload", work / "preload", fs::copy_options::recursive);
  return work;
}

// Starts linetool-cli with `args`, stdout and stderr into files of `out_prefix`.
pid_t Spawn(const std::vector<std::string>& args, const fs::path& out_prefix) {
  std::vector<std::string> full = {test_support::kLinetoolCli};
  full.insert(full.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen((out_prefix.string() + ".out").c_str(), "w", stdout) ||
        !std::freopen((out_prefix.string() + ".err").c_str(), "w", stderr))
      ::_exit(126);
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The records of a day's log: the values of one column (1-based), one per record.
std::vector<std::string> LogColumn(const std::string& log, std::size_t column) {
  std::vector<std::string> values;
  std::istringstream lines(log);
  std::string line;
  bool header = true;
  while (std::getline(lines, line)) {
    if (header) {
      header = false;
      continue;
    }
    std::size_t start = 0;
    for (std::size_t c = 1; c < column; ++c) start = line.find('\t', start) + 1;
    values.push_back(line.substr(start, line.find('\t', start) - start));
  }
  return values;
}

fs::path LogOf(const fs::path& work) {
  for (const auto& e : fs::directory_iterator(work))
    if (e.path().extension() == ".log") return e.path();
  return {};
}

TEST(LineRecords, FourStationsAtOnceGetDistinctSerialsAndOneRecordPerPortRoundAfterRound) {
  linetool::records::testing::ThrowawayPostgres server;
  if (!server.SkipReason().empty()) GTEST_SKIP() << server.SkipReason();
  ASSERT_TRUE(server.CreateDatabase("line"));
  const std::string url = server.Url("line");
  int rounds = 2;
  if (const char* env = std::getenv("LINETOOL_LINE_ROUNDS")) rounds = std::max(1, std::atoi(env));
  constexpr int kStations = 4;
  constexpr int kBridges = 16;

  Folder folder;
  std::vector<fs::path> works;
  for (int s = 0; s < kStations; ++s) works.push_back(Station(folder.Path(), "station-" + std::to_string(s)));
  std::map<std::string, int> passes;
  for (int round = 0; round < rounds; ++round) {
    std::vector<pid_t> pids;
    for (int s = 0; s < kStations; ++s) {
      const std::string name = "station-" + std::to_string(s);
      pids.push_back(Spawn({"--sim=" + std::to_string(kBridges), "--workdir", works[static_cast<std::size_t>(s)].string(),
                            "--records", url, "--line-serials", "--station-name", name, "run", "--profile", kProfile},
                           folder.Path() / (name + "." + std::to_string(round))));
    }
    for (int s = 0; s < kStations; ++s) {
      const std::string name = "station-" + std::to_string(s);
      const fs::path out = folder.Path() / (name + "." + std::to_string(round));
      ASSERT_EQ(Wait(pids[static_cast<std::size_t>(s)]), 0)
          << name << " round " << round << ":\n" << Slurp(out.string() + ".out") << Slurp(out.string() + ".err");
      const std::string text = Slurp(out.string() + ".out");
      ASSERT_NE(text.find("Pass: 16 Fail: 0 Total: 16"), std::string::npos) << text;
      passes[name] += kBridges;
    }
  }

  std::string error;
  auto store = linetool::records::stores::PostgresRecordsStore::Open(url, error);
  ASSERT_TRUE(store) << error;
  const auto all = store->Find({});
  ASSERT_TRUE(all) << store->Error();
  ASSERT_EQ(all->size(), static_cast<std::size_t>(kStations * kBridges * rounds));
  std::set<std::string> serials;
  std::map<std::string, std::map<std::string, std::set<int>>> ports_of_runs;  // station -> run -> ports
  std::map<std::string, std::multiset<std::string>> station_serials;
  std::map<std::string, int> station_passes;
  for (const UnitRecord& u : *all) {
    EXPECT_TRUE(serials.insert(u.serial_written).second) << u.serial_written << " given twice";
    EXPECT_EQ(u.after.serial, u.serial_written) << "the bridge does not carry the serial of its record";
    EXPECT_TRUE(ports_of_runs[u.station][u.run_id].insert(u.port).second) << "two records of one port";
    station_serials[u.station].insert(u.after.serial);
    station_passes[u.station] += u.passed ? 1 : 0;
  }
  for (int s = 0; s < kStations; ++s) {
    const std::string name = "station-" + std::to_string(s);
    SCOPED_TRACE(name);
    ASSERT_EQ(ports_of_runs[name].size(), static_cast<std::size_t>(rounds));
    for (const auto& [run, ports] : ports_of_runs[name]) EXPECT_EQ(ports.size(), static_cast<std::size_t>(kBridges));
    // The station's counters and its log agree with its records.
    EXPECT_EQ(station_passes[name], passes[name]);
    const std::string log = Slurp(LogOf(works[static_cast<std::size_t>(s)]));
    const auto logged = LogColumn(log, 10);  // SerialNumber
    EXPECT_EQ(std::multiset<std::string>(logged.begin(), logged.end()), station_serials[name]);
  }
}

TEST(LineRecords, WithoutARecordsSettingARunLeavesWhatItAlwaysLeft) {
  // The same run with and without a SQLite records file beside the working
  // directory: the same output, the same files with the same bytes (the log's
  // time of day, drive numbers and letters aside: the runs are seconds apart,
  // restarted bridges come back in the order they return, and which port gets
  // which free letter is a race).
  Folder folder;
  const fs::path plain = Station(folder.Path(), "plain");
  const fs::path kept = Station(folder.Path(), "kept");
  ASSERT_EQ(Wait(Spawn({"--sim=3", "--workdir", plain.string(), "run", "--profile", kProfile}, folder.Path() / "plain")), 0);
  ASSERT_EQ(Wait(Spawn({"--sim=3", "--workdir", kept.string(), "--records", (folder.Path() / "records.db").string(),
                        "run", "--profile", kProfile},
                       folder.Path() / "kept")),
            0);
  EXPECT_TRUE(fs::exists(folder.Path() / "records.db"));
  auto tree = [](const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (!e.is_regular_file()) continue;
      std::string bytes = Slurp(e.path());
      if (e.path().extension() == ".log") {
        // Columns 2 (Time), 13 (PhysicalAddress) and 14 (LogicalAddress) blanked.
        std::string masked;
        std::size_t column = 0;
        for (char c : bytes) {
          if (c == '\n') column = 0;
          if ((column == 1 || column == 12 || column == 13) && c != '\t') continue;
          if (c == '\t') ++column;
          masked += c;
        }
        bytes = masked;
      }
      files[fs::relative(e.path(), root).string()] = bytes;
    }
    return files;
  };
  const auto kept_files = tree(kept);
  const auto plain_files = tree(plain);
  for (const auto& [name, bytes] : plain_files) {
    const auto other = kept_files.find(name);
    if (other == kept_files.end()) {
      ADD_FAILURE() << name << " is missing with records";
    } else {
      EXPECT_TRUE(other->second == bytes) << name << " differs with records:\n" << other->second << "\nwithout:\n" << bytes;
    }
  }
  EXPECT_EQ(kept_files.size(), plain_files.size());
  // The same lines on stdout (the ports write their cells in the order they
  // get there; the log's path names the working directory).
  auto lines = [](const std::string& out) {
    std::multiset<std::string> set;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
      if (!line.starts_with("Log: ")) set.insert(line);
    return set;
  };
  EXPECT_EQ(lines(Slurp(folder.Path() / "kept.out")), lines(Slurp(folder.Path() / "plain.out")));
  EXPECT_EQ(Slurp(folder.Path() / "kept.err"), Slurp(folder.Path() / "plain.err"));
}

}  // namespace
