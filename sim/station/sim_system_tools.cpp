#include "sim/station/sim_system_tools.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/path_access.h"

namespace sim::station {

namespace {

class FinishedTool final : public platform::ToolProcess {
 public:
  explicit FinishedTool(int code) : code_(code) {}
  bool Wait(std::chrono::milliseconds) override { return true; }
  int ExitCode() const override { return code_; }

 private:
  int code_;
};

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The words of a line, lower case.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(Lower(line));
  std::vector<std::string> w;
  for (std::string x; in >> x;) w.push_back(x);
  return w;
}

bool ParseNumber(const std::string& s, int& n) {
  if (s.empty() || s.size() > 4 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    return false;
  }
  n = std::stoi(s);
  return true;
}

}  // namespace

SimSystemTools::SimSystemTools(SimVolumeSet& set, std::string host_workdir)
    : set_(set), workdir_(std::move(host_workdir)) {}

void SimSystemTools::FailLaunches(int count) {
  std::lock_guard lock(mutex_);
  failing_launches_ = count;
}

std::vector<std::string> SimSystemTools::Launches() const {
  std::lock_guard lock(mutex_);
  return launches_;
}

std::unique_ptr<platform::ToolProcess> SimSystemTools::Launch(const std::string& program,
                                                              const std::string& parameters) {
  {
    std::lock_guard lock(mutex_);
    launches_.push_back(program + " " + parameters);
    if (failing_launches_ > 0) {
      --failing_launches_;
      return nullptr;
    }
  }
  const std::string name = Lower(program);
  if (name == "diskpart.exe") {
    const auto words = Words(parameters);
    const std::string p = Trim(parameters);
    if (words.size() != 2 || words[0] != "/s") return std::make_unique<FinishedTool>(1);
    std::ifstream in(platform::ToHostPath(Trim(p.substr(2)), workdir_), std::ios::binary);
    if (!in) return std::make_unique<FinishedTool>(2);
    std::ostringstream text;
    text << in.rdbuf();
    return std::make_unique<FinishedTool>(RunScript(text.str()));
  }
  if (name == "format.com") return std::make_unique<FinishedTool>(Format(parameters));
  if (name == "label.exe") return std::make_unique<FinishedTool>(Label(parameters));
  return nullptr;  // no such program
}

int SimSystemTools::RunScript(const std::string& script) {
  std::istringstream in(script);
  int disk = -1;
  int partition = 0;
  for (std::string line; std::getline(in, line);) {
    const auto w = Words(line);
    if (w.empty() || w[0] == "rem") continue;
    bool ok = true;
    if (w.size() == 2 && w[0] == "list" && w[1] == "disk") {
      // Lists the disks; changes nothing.
    } else if (w.size() == 3 && w[0] == "select" && w[1] == "disk") {
      ok = ParseNumber(w[2], disk) && set_.World().DiskImage(disk) != nullptr;
      partition = 0;
    } else if (w.size() == 3 && w[0] == "select" && w[1] == "partition") {
      ok = disk >= 0 && ParseNumber(w[2], partition) && set_.Layout(disk) &&
           static_cast<int>(set_.Layout(disk)->size()) >= partition && partition >= 1;
    } else if (w.size() == 1 && w[0] == "clean") {
      ok = disk >= 0 && set_.Clean(disk);
      partition = 0;
    } else if (w.size() == 3 && w[0] == "create" && w[1] == "partition" && w[2] == "primary") {
      ok = disk >= 0 && set_.CreatePrimaryPartition(disk);
      partition = 1;  // the new partition has the focus
    } else if (w.size() == 1 && w[0] == "active") {
      ok = disk >= 0 && partition >= 1 && set_.SetActive(disk, partition);
    } else if (w.size() == 2 && w[0] == "assign" && w[1].rfind("letter=", 0) == 0 && w[1].size() == 8) {
      ok = disk >= 0 && partition >= 1 && set_.AssignLetter(disk, w[1][7]);
    } else {
      ok = false;  // a command this station's scripts never hold
    }
    if (!ok) return 1;  // a script stops at its first error
  }
  return 0;
}

int SimSystemTools::Format(const std::string& parameters) {
  // " E:/Q /FS:NTFS /y"
  const std::string p = Trim(parameters);
  if (p.size() < 2 || p[1] != ':' || !std::isalpha(static_cast<unsigned char>(p[0]))) return 1;
  const std::string lower = Lower(p);
  const auto fs_at = lower.find("/fs:");
  if (fs_at == std::string::npos) return 1;
  const std::string file_system = lower.substr(fs_at + 4, lower.find(' ', fs_at) - fs_at - 4);
  if (std::toupper(static_cast<unsigned char>(p[0])) == 'C') return 1;  // the system volume is in use
  if (file_system != "ntfs") return 1;  // the simulated tool writes NTFS only
  return set_.FormatNtfs(p[0]) ? 0 : 1;
}

int SimSystemTools::Label(const std::string& parameters) {
  // "E: NAME"
  const std::string p = Trim(parameters);
  if (p.size() < 2 || p[1] != ':') return 1;
  return set_.SetLabel(p[0], Trim(p.substr(2))) ? 0 : 1;
}

}  // namespace sim::station
