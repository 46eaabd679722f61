#pragma once
// The simulated chip's contents kept in a file between runs: romwright-cli's
// --sim=CHIP,IMAGE and the USB device server's --programmer CHIP,IMAGE load
// IMAGE into the chip at the start and write the chip back into it at the end.

#include <string>

#include "sim/programmer/sim_programmer.h"

namespace sim::programmer {

// Fills the chip in the socket from `image` (up to its capacity; what the file
// lacks is erased, 0xFF). A file that does not exist leaves the chip as it is.
void LoadChipImage(SimProgrammer& programmer, const std::string& image);

// Writes the chip's contents over `image` whole (platform::ReplaceFile); false
// when the file cannot be written.
bool KeepChipImage(const SimProgrammer& programmer, const std::string& image);

}  // namespace sim::programmer
