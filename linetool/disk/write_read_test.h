#pragma once
// The write/read test of a freshly formatted volume: the reference file from
// the station's working directory is written to the volume's root, read back
// from the device and compared byte for byte with the reference, a given
// number of times. Both move a megabyte at a time: the test needs two
// megabytes of memory per port whatever the file's size.

#include <cstdint>
#include <string>
#include <vector>

#include "linetool/disk/disk_services.h"

namespace linetool::disk {

// The largest reference file.
inline constexpr std::uint32_t kMaxTestFileBytes = 0xB400000;

// Free space of a volume in MiB, kUnknownMiB when the system cannot tell.
std::uint32_t FreeSpaceMiB(platform::Volumes& volumes, char letter);

// The check of the reference file before a run starts.
enum class ReferenceCheck {
  kOk,
  kUnusable,    // fails the path check: "File/Path Not Exist" or "... Not Read/Write"
  kUnreadable,  // cannot be opened: "R/W test file Error because the ini info is incorrect"
  kTooLarge,    // above 180 MiB: "<path> WrRdTest file size too large"
};
// Checks the reference file `binary_name` (relative to the working directory)
// and measures its length into `length`.
ReferenceCheck CheckReferenceFile(const DiskServices& s, const std::string& binary_name, std::uint32_t& length);

class WriteReadTest {
 public:
  enum class Outcome {
    kPassed,
    kNoLetter,
    kReferenceUnusable,  // the reference file fails the path check
    kTooLittleRoom,      // less than ten times the file size free
    kReadReference,
    kWriteTarget,
    kReadTarget,
    kMismatch,
  };

  // Runs `cycles` cycles with the reference file `binary_name` (relative to
  // the working directory) of `length` bytes, as measured before the run.
  Outcome Run(const DiskServices& s, char letter, const std::string& binary_name, std::uint32_t length,
              std::uint8_t cycles);
  int CyclesPassed() const { return cycles_passed_; }

 private:
  int cycles_passed_ = 0;
};

}  // namespace linetool::disk
