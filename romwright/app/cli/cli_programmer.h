#pragma once
// What the device commands of romwright-cli work with: the chip database and
// the selected chip, the texts of config.ini's language, the programmer on the
// link (simulated with --sim, else the USB programmer), the transfer engine,
// the data buffer, and the chip and maintenance presenters, which report
// through a status display that prints the window's texts and progress.

#include <cstdint>
#include <memory>
#include <string>

#include "romwright/app/chip_operations.h"
#include "romwright/app/maintenance.h"
#include "romwright/app/cli/cli_command.h"

namespace romwright::cli {

class CliProgrammer {
 public:
  // Everything set up and, when `need_link`, the programmer linked; otherwise
  // the reason is printed, `exit_code` set, and null returned. A firmware
  // update links the programmer itself, in its boot state.
  static std::unique_ptr<CliProgrammer> Start(CliContext& ctx, int& exit_code,
                                              bool need_link = true);
  // Keeps the simulated chip's contents in IMAGE (--sim=CHIP,IMAGE).
  ~CliProgrammer();

  app::ChipOperations& Ops() { return *ops_; }
  app::Maintenance& Maintenance() { return *maintenance_; }
  app::DataBuffer& Buffer() { return *buffer_; }
  const app::LanguageTable& Texts() const { return texts_; }
  // Loads a data file into the chip's bytes of the buffer as Open does;
  // "Open file error!" when it fails.
  bool LoadDataFile(const std::string& host_path);
  // The bytes the next operation moves, for the progress line's bytes, rate
  // and time left (0: the percentage and time only).
  void SetProgressBytes(std::uint64_t bytes);
  // Breaks off the operation under way at its next safe point, as closing the
  // window does: the transfer is aborted and the operation fails. Any thread.
  void Stop();

  struct Parts;

 private:
  explicit CliProgrammer(CliContext& ctx);

  CliContext& ctx_;
  app::LanguageTable texts_;
  app::ChipDatabase database_;
  std::unique_ptr<app::DataBuffer> buffer_;
  std::unique_ptr<Parts> parts_;
  std::unique_ptr<app::ChipOperations> ops_;
  std::unique_ptr<app::Maintenance> maintenance_;
};

// Exit code of a device command's outcome.
inline int ExitCodeOf(bool ok) { return ok ? kExitOk : kExitFailed; }

}  // namespace romwright::cli
