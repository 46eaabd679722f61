// The mount table reader on any text, and on a line the kernel writes for a
// mount point of any name: the name comes back as it was.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/drive_naming.h"
#include "platform/linux/linux_volumes.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

// A field as the kernel writes it into the mount table: blank, tab, line
// break and backslash as three-digit octal escapes, every other byte as is.
std::string KernelEscaped(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case ' ': out += "\\040"; break;
      case '\t': out += "\\011"; break;
      case '\n': out += "\\012"; break;
      case '\\': out += "\\134"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::linux_host;
  fuzz::FuzzInput in(data, size);
  std::string point = in.Text();
  const std::string text(in.Rest());
  for (const auto& e : ParseMountInfo(text)) {
    fuzz::Check(e.mount_point.size() <= text.size() && e.source.size() <= text.size(),
                "a mount table field longer than the table");
  }
  (void)FindSystemDisks(text, "/nonexistent/sys/block", "/nonexistent/dev");

  // Mount points are absolute paths: a leading "/" and no NUL.
  std::erase(point, '\0');
  if (point.empty() || point.front() != '/') point.insert(0, "/");
  const std::string line = "36 35 98:0 / " + KernelEscaped(point) +
                           " rw,noatime shared:1 - ext4 " + KernelEscaped(point + "-dev") + " rw\n";
  const auto entries = ParseMountInfo(text + "\n" + line);
  fuzz::Check(!entries.empty() && entries.back().mount_point == point && entries.back().source == point + "-dev" &&
                  entries.back().fs_type == "ext4",
              "a mount point the kernel escaped does not read back");
  return 0;
}
