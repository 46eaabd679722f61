#include "platform/linux/linux_system_tools.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/linux/fd_io.h"
#include "platform/linux/tool_runner.h"
#include "platform/path_access.h"

namespace platform::linux_host {

namespace {

using namespace std::chrono_literals;
constexpr auto kPoll = 50ms;
constexpr auto kNodeAccessWait = std::chrono::milliseconds(10s);

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// A tool that runs as a series of steps: host programs and work of our own.
class StepProcess final : public ToolProcess {
 public:
  struct Step {
    std::vector<std::string> argv;  // a program, or
    std::string input;
    std::function<int(std::string& why)> work;  // work done here (exit code, and why it failed)
  };

  StepProcess(Clock& clock, std::vector<Step> steps) : clock_(clock), steps_(std::move(steps)) {}

  // Starts the first step; false when its program cannot be started.
  bool Start() { return StartNext(); }

  bool Wait(std::chrono::milliseconds timeout) override {
    const auto deadline = clock_.Now() + timeout;
    for (;;) {
      if (done_) return true;
      if (child_ && child_->Finished()) {
        const int code = child_->ExitCode();
        const std::string said = child_->LastErrorLine();
        child_.reset();
        if (code != 0) {
          why_ = steps_[next_ - 1].argv.front() + " ended with exit code " + std::to_string(code) +
                 (said.empty() ? std::string() : ": " + said);
          Finish(code);
        } else if (!StartNext()) {
          Finish(127);
        }
        continue;
      }
      if (clock_.Now() >= deadline) return false;
      clock_.WaitFor(std::min<std::chrono::milliseconds>(kPoll, deadline - clock_.Now()));
    }
  }

  int ExitCode() const override { return code_; }
  std::string FailureText() const override { return why_; }

 private:
  // Runs work steps until a program is running or all is done.
  bool StartNext() {
    while (next_ < steps_.size()) {
      Step& s = steps_[next_++];
      if (s.work) {
        const int code = s.work(why_);
        if (code != 0) {
          Finish(code);
          return true;
        }
        continue;
      }
      child_ = ChildProcess::Start(s.argv, s.input.empty() ? nullptr : &s.input);
      return child_ != nullptr;
    }
    Finish(0);
    return true;
  }
  void Finish(int code) {
    done_ = true;
    code_ = code;
  }

  Clock& clock_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  std::unique_ptr<ChildProcess> child_;
  bool done_ = false;
  int code_ = -1;
  std::string why_;
};

// The kernel makes a partition's node root's own, each time it reads the
// partition table again; udev then gives it the group of the station's bridge
// rule. An operator who is not root uses it only after that: the step ends as
// soon as this process may read and write the node (at once for root), and
// gives up after 10 s (the tool that follows then fails and says so). The
// volume tools wait so; the partition tool does not, since udev does nothing
// for a disk the station holds.
StepProcess::Step AccessWait(Clock& clock, const std::string& device) {
  return {{}, {}, [&clock, device](std::string&) {
            const auto limit = clock.Now() + kNodeAccessWait;
            while (!ReadWritable(device) && clock.Now() < limit) clock.WaitFor(kPoll);
            return 0;
          }};
}

}  // namespace

std::optional<PartitionRequest> ParsePartitionScript(const std::string& script) {
  PartitionRequest r;
  std::istringstream in(script);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(Lower(line));
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    if (w == std::vector<std::string>{"list", "disk"}) continue;
    if (w.size() == 3 && w[0] == "select" && w[1] == "disk" && !w[2].empty() &&
        std::all_of(w[2].begin(), w[2].end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
        w[2].size() <= 3) {
      r.disk = std::stoi(w[2]);
    } else if (w == std::vector<std::string>{"clean"}) {
      r.clean = true;
    } else if (w == std::vector<std::string>{"create", "partition", "primary"}) {
      r.create_primary = true;
    } else if (w == std::vector<std::string>{"active"}) {
      r.active = true;
    } else if (w == std::vector<std::string>{"select", "partition", "1"}) {
      // the only partition there is
    } else if (w.size() == 2 && w[0] == "assign" && w[1].size() == 8 && w[1].rfind("letter=", 0) == 0 &&
               std::isalpha(static_cast<unsigned char>(w[1][7]))) {
      r.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(w[1][7])));
    } else {
      return std::nullopt;
    }
  }
  if (r.disk < 0) return std::nullopt;
  return r;
}

std::string SfdiskInput(const PartitionRequest& request) {
  std::string s = "label: dos\n";
  if (request.create_primary) s += std::string("start=2048, type=7") + (request.active ? ", bootable" : "") + "\n";
  return s;
}

std::vector<std::string> SfdiskCommand(const std::string& disk_device) {
  return {"sfdisk", "--quiet", "--wipe", "always", "--wipe-partitions", "always", disk_device};
}

std::vector<std::string> MkntfsCommand(const std::string& partition_device) {
  return {"mkntfs", "--quick", "--force", partition_device};
}

std::optional<std::pair<char, std::string>> ParseFormatParameters(const std::string& parameters) {
  const std::string p = Trim(parameters);
  if (p.size() < 2 || p[1] != ':' || !std::isalpha(static_cast<unsigned char>(p[0]))) return std::nullopt;
  const std::string lower = Lower(p);
  const auto at = lower.find("/fs:");
  if (at == std::string::npos) return std::nullopt;
  const auto end = lower.find(' ', at);
  std::string fs = p.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
  std::transform(fs.begin(), fs.end(), fs.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  return std::pair{static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))), fs};
}

std::optional<std::pair<char, std::string>> ParseLabelParameters(const std::string& parameters) {
  const std::string p = Trim(parameters);
  if (p.size() < 2 || p[1] != ':' || !std::isalpha(static_cast<unsigned char>(p[0]))) return std::nullopt;
  return std::pair{static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))), Trim(p.substr(2))};
}

std::string FirstPartitionDevice(const std::string& disk_device) {
  const bool digit_end = !disk_device.empty() && std::isdigit(static_cast<unsigned char>(disk_device.back()));
  return disk_device + (digit_end ? "p1" : "1");
}

std::optional<std::string> PartitionNotAsWritten(const std::string& disk_dir, const std::string& node,
                                                 std::uint64_t start, std::uint64_t size) {
  const std::filesystem::path part = std::filesystem::path(disk_dir) / std::filesystem::path(node).filename();
  const std::string name = part.filename().string();
  const std::string kernel_start = ReadFirstLine((part / "start").string());
  const std::string kernel_size = ReadFirstLine((part / "size").string());
  if (kernel_start.empty() || kernel_size.empty()) return "the kernel shows no " + name + " after the new table";
  const std::string written = std::to_string(start) + " + " + std::to_string(size);
  if (kernel_start != std::to_string(start) || kernel_size != std::to_string(size)) {
    return "the kernel kept " + name + " at " + kernel_start + " + " + kernel_size + " sectors, the new table says " +
           written + " (is a partition of the disk in use?)";
  }
  struct stat st{};
  const std::string dev = ReadFirstLine((part / "dev").string());
  if (::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return node + " has not appeared";
  if (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) != dev) {
    return node + " is not the kernel's " + name + " (" + dev + ")";
  }
  return std::nullopt;
}

bool LinuxSystemTools::AwaitPartitionAsWritten(const std::string& disk, const std::string& part, std::string& why) {
  // The table as written: the first entry of the disk's first sector, in the
  // disk's sectors; sysfs counts 512-byte units.
  const int fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = disk + " cannot be opened to read its new table";
    return false;
  }
  int sector = 512;
  if (::ioctl(fd, BLKSSZGET, &sector) != 0 || sector < 512) sector = 512;
  std::vector<std::uint8_t> mbr(static_cast<std::size_t>(sector));
  const bool read = ReadFully(fd, 0, mbr) == static_cast<long long>(mbr.size());
  ::close(fd);
  if (!read || mbr[510] != 0x55 || mbr[511] != 0xAA) {
    why = disk + " holds no partition table after sfdisk";
    return false;
  }
  const auto le32 = [&](std::size_t at) {
    return static_cast<std::uint64_t>(mbr[at]) | static_cast<std::uint64_t>(mbr[at + 1]) << 8 |
           static_cast<std::uint64_t>(mbr[at + 2]) << 16 | static_cast<std::uint64_t>(mbr[at + 3]) << 24;
  };
  const std::uint64_t units = static_cast<std::uint64_t>(sector) / 512;
  const std::uint64_t start = le32(446 + 8) * units;
  const std::uint64_t size = le32(446 + 12) * units;
  const std::string disk_dir = naming_.SysfsBlock() + "/" + std::filesystem::path(disk).filename().string();
  const auto deadline = clock_.Now() + kPartitionSettleLimit;
  for (;;) {
    const auto mismatch = PartitionNotAsWritten(disk_dir, part, start, size);
    if (!mismatch) return true;
    if (clock_.Now() >= deadline) {
      why = *mismatch;
      return false;
    }
    clock_.WaitFor(kPoll);
  }
}

LinuxSystemTools::LinuxSystemTools(Clock& clock, std::string host_workdir, DriveNaming& naming,
                                   LinuxVolumes& volumes)
    : clock_(clock), workdir_(std::move(host_workdir)), naming_(naming), volumes_(volumes) {}

std::unique_ptr<ToolProcess> LinuxSystemTools::Launch(const std::string& program, const std::string& parameters) {
  const std::string name = Lower(program);
  std::vector<StepProcess::Step> steps;
  if (name == "diskpart.exe") {
    const std::string p = Trim(parameters);
    if (Lower(p).rfind("/s ", 0) != 0) return nullptr;
    std::ifstream in(ToHostPath(Trim(p.substr(3)), workdir_), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const auto request = ParsePartitionScript(text.str());
    // Drive 0 holds the host's own system: never partitioned.
    if (!in || !request || request->disk == 0) return nullptr;
    const auto disk = naming_.DiskDevice(request->disk);
    if (!disk) return nullptr;
    const std::string part = FirstPartitionDevice(*disk);
    const char letter = request->letter;
    if (letter != 0) {
      steps.push_back({{}, {}, [this, letter](std::string&) { return volumes_.Unmount(letter) ? 0 : 1; }});
    }
    if (auto old = volumes_.LetterOfDevice(part)) {
      const char previous = *old;
      steps.push_back({{}, {}, [this, previous](std::string&) { return volumes_.Unmount(previous) ? 0 : 1; }});
    }
    steps.push_back({SfdiskCommand(*disk), SfdiskInput(*request), {}});
    // Where nothing creates the partition's node on the kernel's re-read
    // (no udev, a loop device), the table is handed to the kernel directly.
    if (request->create_primary) {
      steps.push_back({{}, {}, [disk = *disk, part](std::string& why) {
                         std::error_code ec;
                         if (std::filesystem::exists(part, ec)) return 0;
                         if (RunTool({"partx", "--update", disk}, nullptr) == 0) return 0;
                         why = "partx could not hand the kernel the new table of " + disk;
                         return 1;
                       }});
      // The format must not write into extents the kernel kept from the old table.
      steps.push_back({{}, {}, [this, disk = *disk, part](std::string& why) {
                         return AwaitPartitionAsWritten(disk, part, why) ? 0 : 1;
                       }});
    }
    // The new node is not waited for here: while the station holds the disk
    // udev gives it no group (DiskHold::AwaitNewPartitions lets it go for that).
    if (letter != 0) {
      steps.push_back({{}, {}, [this, letter, part](std::string&) {
                         volumes_.Assign(letter, part);
                         return 0;
                       }});
    }
  } else if (name == "format.com") {
    const auto f = ParseFormatParameters(parameters);
    if (!f || f->first == 'C') return nullptr;
    const auto device = volumes_.DeviceOf(f->first);
    if (!device || f->second != "NTFS") return nullptr;
    const char letter = f->first;
    steps.push_back({{}, {}, [this, letter](std::string&) { return volumes_.Unmount(letter) ? 0 : 1; }});
    steps.push_back(AccessWait(clock_, *device));
    steps.push_back({MkntfsCommand(*device), {}, {}});
    steps.push_back({{}, {}, [this, letter](std::string&) { return volumes_.EnsureMounted(letter) ? 0 : 1; }});
  } else if (name == "label.exe") {
    const auto l = ParseLabelParameters(parameters);
    if (!l || !volumes_.DeviceOf(l->first)) return nullptr;
    steps.push_back(AccessWait(clock_, *volumes_.DeviceOf(l->first)));
    steps.push_back({{}, {}, [this, letter = l->first, label = l->second](std::string&) {
                       return volumes_.SetLabel(letter, label) ? 0 : 1;
                     }});
  } else {
    return nullptr;
  }
  auto process = std::make_unique<StepProcess>(clock_, std::move(steps));
  if (!process->Start()) return nullptr;
  return process;
}

}  // namespace platform::linux_host
