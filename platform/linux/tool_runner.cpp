#include "platform/linux/tool_runner.h"

#include <fcntl.h>
#include <sys/capability.h>
#include <sys/mman.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace platform::linux_host {

namespace {

// What a started tool inherits of the station's capabilities: CAP_SYS_ADMIN,
// which sfdisk needs to have the kernel re-read a partition table and partx
// to hand it the partitions. A station that holds it from its file's
// capabilities (not being root) would otherwise start its tools without it:
// file capabilities end at exec; ambient ones go on. The state is made in the
// parent; the child only makes the two system calls that set it.
class ToolCapabilities {
 public:
  ToolCapabilities() : caps_(cap_get_proc()) {
    cap_flag_value_t permitted = CAP_CLEAR;
    const cap_value_t admin[] = {CAP_SYS_ADMIN};
    pass_ = caps_ != nullptr && CAP_AMBIENT_SUPPORTED() &&
            cap_get_flag(caps_, CAP_SYS_ADMIN, CAP_PERMITTED, &permitted) == 0 && permitted == CAP_SET &&
            cap_set_flag(caps_, CAP_INHERITABLE, 1, admin, CAP_SET) == 0;
  }
  ~ToolCapabilities() {
    if (caps_ != nullptr) cap_free(caps_);
  }
  ToolCapabilities(const ToolCapabilities&) = delete;
  ToolCapabilities& operator=(const ToolCapabilities&) = delete;

  // In the child, before exec: inheritable, then ambient. A tool that does
  // not get it still runs, and fails where it needs it.
  void PassOn() const {
    if (pass_ && cap_set_proc(caps_) == 0) cap_set_ambient(CAP_SYS_ADMIN, CAP_SET);
  }

 private:
  cap_t caps_;
  bool pass_ = false;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv, const std::string* input) {
  if (argv.empty()) return nullptr;
  int in_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};  // closed by exec: a byte on it means exec failed
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) return nullptr;
  if (input != nullptr && ::pipe2(in_pipe, O_CLOEXEC) != 0) {
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    return nullptr;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string path = std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin") +
                           ":/usr/sbin:/sbin";
  const ToolCapabilities capabilities;
  // What the tool says on stderr, kept in memory for why it failed.
  const int errors = ::memfd_create("tool-stderr", MFD_CLOEXEC);
  const pid_t pid = ::fork();
  if (pid == 0) {
    capabilities.PassOn();
    // The tool runs to its end when the operator presses Ctrl-C (the station
    // stops after it, at a safe point), and it takes the signals the station
    // blocks for itself.
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    if (input != nullptr) ::dup2(in_pipe[0], 0);
    const int null = ::open("/dev/null", O_RDWR);
    if (input == nullptr) ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(errors >= 0 ? errors : null, 2);
    ::setenv("PATH", path.c_str(), 1);
    ::execvp(args[0], args.data());
    const char fail = 1;
    [[maybe_unused]] const auto n = ::write(err_pipe[1], &fail, 1);
    ::_exit(127);
  }
  ::close(err_pipe[1]);
  if (input != nullptr) ::close(in_pipe[0]);
  if (pid < 0) {
    ::close(err_pipe[0]);
    if (input != nullptr) ::close(in_pipe[1]);
    if (errors >= 0) ::close(errors);
    return nullptr;
  }
  char byte = 0;
  ssize_t n = 0;
  do {
    n = ::read(err_pipe[0], &byte, 1);
  } while (n < 0 && errno == EINTR);
  ::close(err_pipe[0]);
  auto child = std::unique_ptr<ChildProcess>(new ChildProcess(pid, errors));
  if (n > 0) {  // exec failed: the program is not there
    if (input != nullptr) ::close(in_pipe[1]);
    child->Wait();
    return nullptr;
  }
  if (input != nullptr) {
    ::signal(SIGPIPE, SIG_IGN);
    std::size_t done = 0;
    while (done < input->size()) {
      const ssize_t w = ::write(in_pipe[1], input->data() + done, input->size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
    }
    ::close(in_pipe[1]);
  }
  return child;
}

ChildProcess::~ChildProcess() {
  if (!done_) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (errors_ >= 0) ::close(errors_);
}

std::string ChildProcess::LastErrorLine() const {
  if (errors_ < 0) return {};
  const off_t size = ::lseek(errors_, 0, SEEK_END);
  if (size <= 0) return {};
  std::string tail(static_cast<std::size_t>(std::min<off_t>(size, 4096)), '\0');
  const ssize_t n = ::pread(errors_, tail.data(), tail.size(), size - static_cast<off_t>(tail.size()));
  tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' ')) tail.pop_back();
  const auto start = tail.find_last_of('\n');
  std::string line = start == std::string::npos ? tail : tail.substr(start + 1);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return line.size() > 200 ? line.substr(0, 200) : line;
}

bool ChildProcess::Finished() {
  if (done_) return true;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    done_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  } else if (r < 0 && errno != EINTR) {
    done_ = true;
  }
  return done_;
}

int ChildProcess::Wait() {
  while (!done_) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, 0);
    if (r == pid_) {
      done_ = true;
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else if (r < 0 && errno != EINTR) {
      done_ = true;
    }
  }
  return code_;
}

int RunTool(const std::vector<std::string>& argv, const std::string* input) {
  auto child = ChildProcess::Start(argv, input);
  return child ? child->Wait() : -1;
}

}  // namespace platform::linux_host
