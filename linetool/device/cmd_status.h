#pragma once
// The result of a vendor command.

#include <cstdint>

namespace linetool::device {

enum CmdStatus : std::uint8_t {
  kCmdDone = 0,            // the request (every chunk of it) completed with GOOD status
  kCmdTransferFailed = 1,  // the request failed or the device answered another status
  kCmdBadArgument = 3,     // no handle, or a length outside the command's limit; nothing sent
};

}  // namespace linetool::device
