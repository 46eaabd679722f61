#pragma once
// Starting the system's disk tools with a parameter text and waiting for
// them: "diskpart.exe" (a partition script), "format.com" and "label.exe".
// A backend carries out what the tool would do with those parameters on its
// own system. Relative file names in the parameters are taken against the
// working directory the backend was given.

#include <chrono>
#include <memory>
#include <string>

namespace platform {

class ToolProcess {
 public:
  virtual ~ToolProcess() = default;
  // Waits until the tool has ended or `timeout` has passed on the backend's
  // clock; true when it ended.
  virtual bool Wait(std::chrono::milliseconds timeout) = 0;
  // The tool's exit code once it has ended.
  virtual int ExitCode() const = 0;
  // Why the tool failed, in words, where the backend can tell (a non-zero
  // exit code); empty otherwise.
  virtual std::string FailureText() const { return {}; }
};

class SystemTools {
 public:
  virtual ~SystemTools() = default;
  // Starts `program` with `parameters` (hidden, no window). nullptr when the
  // launch itself failed. Does not wait for the tool.
  virtual std::unique_ptr<ToolProcess> Launch(const std::string& program, const std::string& parameters) = 0;
};

}  // namespace platform
