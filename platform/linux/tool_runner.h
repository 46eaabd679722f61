#pragma once
// Starting host programs without a shell: argument vectors, optional text on
// standard input, standard output discarded and standard error kept for the
// reason of a failure, and a wait that can be bounded.
// A started program holds CAP_SYS_ADMIN as an ambient capability when this
// process has it permitted (root, or the capabilities of the station's file),
// so that sfdisk and partx can change a disk's partitions for an operator who
// is not root; nothing else of this process's capabilities goes on.

#include <memory>
#include <string>
#include <vector>

namespace platform::linux_host {

class ChildProcess {
 public:
  // Starts argv[0] (looked up in PATH, then /usr/sbin and /sbin). nullptr when
  // it could not be started.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv, const std::string* input);
  // Ends a child that is still running (SIGTERM) and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True once the child has ended; its exit code (-1 when killed by a signal).
  bool Finished();
  // Blocks until the child has ended; its exit code.
  int Wait();
  int ExitCode() const { return code_; }
  // The last line the child wrote on stderr (at most 200 characters), or empty.
  std::string LastErrorLine() const;

 private:
  ChildProcess(int pid, int errors) : pid_(pid), errors_(errors) {}
  int pid_;
  int errors_;
  bool done_ = false;
  int code_ = -1;
};

// Runs a program to its end; its exit code, or -1 when it could not start.
int RunTool(const std::vector<std::string>& argv, const std::string* input);

}  // namespace platform::linux_host
