// linetool-cli format-fat32: formats an image file or a block device as one
// FAT32 volume with the station's own formatter.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "linetool/app/cli/cli_command.h"
#include "linetool/disk/fat32_format.h"
#include "platform/linux/host_services.h"
#include "platform/linux/image_disk.h"
#include "platform/number_text.h"

namespace linetool::cli {

namespace {

constexpr const char* kUsage = "format-fat32 IMAGE --label NAME [--cluster N]";

void PrintHelp(std::ostream& out) {
  out << "Usage: linetool-cli " << kUsage
      << "\n\n"
         "Formats IMAGE (an image file or a block device) as one FAT32 volume without a\n"
         "partition table, the way the station formats a bridge disk's partition: only\n"
         "the boot sectors, both FATs and the root directory are written, so the data\n"
         "area is never touched and costs no time. The label goes into the root\n"
         "directory (the boot sector keeps \"NO NAME\").\n"
         "\n"
         "  --label NAME   volume label, 1 to 11 characters, stored in upper case\n"
         "  --cluster N    sectors per cluster: 1, 2, 4, 8, 16, 32 or 64\n"
         "                 (default: chosen from the volume size)\n"
         "\n"
         "A relative IMAGE is taken against the working directory (--workdir, else the\n"
         "current directory). A block device is opened exclusively and is refused\n"
         "while mounted.\n"
         "The volume needs at least 65,536 sectors and 65,525 clusters.\n";
}

// A character FAT allows in a volume label.
bool IsLabelChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x20 && u < 0x7F && std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

// The station has no drive letters here: the formatter gets its device directly.
class NoVolumes final : public platform::DiskRequests {
 public:
  std::unique_ptr<platform::DiskDevice> Open(const platform::DeviceOpenRequest&) override {
    return nullptr;
  }
  std::optional<std::string> InUse(int) override { return std::nullopt; }
};

}  // namespace

int RunFormatFat32(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    PrintHelp(ctx.out);
    return kExitOk;
  }
  std::string image;
  std::string label;
  bool have_label = false;
  std::uint32_t cluster = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--label" && i + 1 < args.size()) {
      label = args[++i];
      have_label = true;
    } else if (a == "--cluster" && i + 1 < args.size()) {
      const std::string& v = args[++i];
      const auto n = platform::ParseUnsigned(v, 10, 64);
      if (!n || *n == 0) {
        ctx.err << "format-fat32: --cluster must be 1, 2, 4, 8, 16, 32 or 64, not \"" << v << "\"\n";
        return kExitUsage;
      }
      cluster = static_cast<std::uint32_t>(*n);
    } else if (a.rfind("--", 0) == 0) {
      ctx.err << "format-fat32: unknown or incomplete option " << a << "\nUsage: linetool-cli " << kUsage
              << "\n";
      return kExitUsage;
    } else if (image.empty()) {
      image = a;
    } else {
      ctx.err << "format-fat32: more than one IMAGE given\n";
      return kExitUsage;
    }
  }
  if (image.empty() || !have_label) {
    ctx.err << "Usage: linetool-cli " << kUsage << "\n";
    return kExitUsage;
  }
  if (label.empty() || label.size() > 11) {
    ctx.err << "format-fat32: the label must have 1 to 11 characters\n";
    return kExitUsage;
  }
  for (char& c : label) {
    if (!IsLabelChar(c)) {
      ctx.err << "format-fat32: the label may not hold \"" << c << "\"\n";
      return kExitUsage;
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (cluster != 0 && (cluster > 64 || (cluster & (cluster - 1)) != 0)) {
    ctx.err << "format-fat32: --cluster must be 1, 2, 4, 8, 16, 32 or 64\n";
    return kExitUsage;
  }

  std::string error;
  auto device = platform::linux_host::ImageDisk::Open(HostPathOfArgument(ctx, image), error);
  if (!device) {
    ctx.err << "format-fat32: " << error << "\n";
    return kExitFailed;
  }
  NoVolumes no_volumes;
  auto clock = platform::linux_host::MakeSystemClock();
  disk::CFat32Format formatter(no_volumes, clock);
  formatter.SetTarget(disk::kNoDriveLetter, cluster);
  const bool ok = formatter.FormatDevice(*device, label);
  const auto& layout = formatter.LastLayout();
  if (!ok) {
    ctx.err << "format-fat32: " << image << ": " << formatter.FailureText()
            << (formatter.LastFailure() == disk::CFat32Format::Failure::kClusterCount ? "; choose another --cluster"
                                                                                       : "")
            << "\n";
    return kExitFailed;
  }
  char serial[16];
  std::snprintf(serial, sizeof serial, "%04X-%04X", layout.volume_id >> 16, layout.volume_id & 0xFFFF);
  ctx.out << image << ": FAT32, label " << label << ", " << layout.total_sectors << " sectors of "
          << layout.bytes_per_sector << " bytes, " << layout.sectors_per_cluster << " sectors per cluster, "
          << layout.cluster_count << " clusters, FAT " << layout.fat_size << " sectors, serial " << serial
          << "\n";
  return kExitOk;
}

}  // namespace linetool::cli
