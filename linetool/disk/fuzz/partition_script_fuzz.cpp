// The partition tool's texts on the Linux host, from any text: the script,
// the format and label parameters. Every script the station writes reads
// back to its disk and letter.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "linetool/disk/partition_step.h"
#include "platform/linux/linux_system_tools.h"
#include "tools/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::linux_host;
  const std::string text(fuzz::AsText(data, size));
  if (const auto r = ParsePartitionScript(text)) {
    fuzz::Check(r->disk >= 0 && r->disk <= 999, "a script selects a disk beyond three digits");
    fuzz::Check(r->letter == 0 || std::isupper(static_cast<unsigned char>(r->letter)), "a script assigns no letter");
    (void)SfdiskInput(*r);
  }
  if (const auto f = ParseFormatParameters(text)) {
    fuzz::Check(std::isalpha(static_cast<unsigned char>(f->first)), "format parameters without a drive letter");
  }
  if (const auto l = ParseLabelParameters(text)) {
    fuzz::Check(std::isalpha(static_cast<unsigned char>(l->first)), "label parameters without a drive letter");
  }
  (void)FirstPartitionDevice(text);

  fuzz::FuzzInput in(data, size);
  const int drive = in.InRange(1, 999);
  const char letter = static_cast<char>('D' + in.Choice(23));
  const auto r = ParsePartitionScript(linetool::disk::PartitionStep::ScriptText(drive, letter));
  fuzz::Check(r && r->disk == drive && r->letter == letter && r->clean && r->create_primary && r->active,
              "a script the station writes does not read back");
  return 0;
}
