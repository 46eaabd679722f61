// linetool-cli format-fat32: formats an image file or a block device as one
// FAT32 volume with the station's own formatter.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "linetool/app/cli/cli_command.h"
#include "linetool/disk/fat32_format.h"
#include "platform/linux/host_services.h"
#include "platform/linux/image_disk.h"
#include "platform/number_text.h"
#include "tools/cli/progress_line.h"

namespace linetool::cli {

namespace {

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

int RunFormatFat32(CliContext& ctx, const std::string& image, const std::string& label, std::uint32_t cluster) {
  if (!RequireFileArgument(ctx, "format-fat32", image)) return kExitUsage;

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
  // On a terminal, the zeros written over a large volume's FATs (where the
  // device cannot clear them itself) show their progress.
  constexpr std::uint64_t kShownFrom = 16ull << 20;
  command_line::ProgressLine progress(ctx.err, command_line::StderrIsTerminal());
  bool started = false;
  formatter.on_zero_progress = [&](std::uint64_t done, std::uint64_t total) {
    if (total < kShownFrom) return;
    if (!started) progress.Start("Clearing the FATs", total);
    started = true;
    progress.Update(static_cast<int>(done * 100 / total));
  };
  const bool ok = formatter.FormatDevice(*device, label);
  progress.Finish();
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

}  // namespace

CliCommand AddFormatFat32(CLI::App& program) {
  CLI::App* cmd =
      program.add_subcommand("format-fat32", "format an image file or block device as one FAT32 volume");
  struct Args {
    std::string image, label;
    std::uint32_t cluster = 0;
  };
  auto args = std::make_shared<Args>();
  cmd->add_option("IMAGE", args->image, "the image file or block device")->required();
  command_line::AddCheckedOption(
      *cmd, "--label",
      [args](const std::string& v) -> std::string {
        if (v.empty() || v.size() > 11) return "format-fat32: the label must have 1 to 11 characters";
        args->label.clear();
        for (const char c : v) {
          if (!IsLabelChar(c)) return std::string("format-fat32: the label may not hold \"") + c + "\"";
          args->label += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return {};
      },
      "volume label, 1 to 11 characters, stored in upper case")
      ->type_name("NAME")
      ->required();
  command_line::AddCheckedOption(
      *cmd, "--cluster",
      [args](const std::string& v) -> std::string {
        const auto n = platform::ParseUnsigned(v, 10, 64);
        if (!n || *n == 0 || (*n & (*n - 1)) != 0)
          return "format-fat32: --cluster must be 1, 2, 4, 8, 16, 32 or 64, not \"" + v + "\"";
        args->cluster = static_cast<std::uint32_t>(*n);
        return {};
      },
      "sectors per cluster: 1, 2, 4, 8, 16, 32 or 64 (default: chosen from the volume size)")
      ->type_name("N");
  cmd->footer(
      "Formats IMAGE (an image file or a block device) as one FAT32 volume without a\n"
      "partition table, the way the station formats a bridge disk's partition: only\n"
      "the boot sectors, both FATs and the root directory are written, so the data\n"
      "area is never touched and costs no time. The label goes into the root\n"
      "directory (the boot sector keeps \"NO NAME\").\n"
      "\n"
      "A relative IMAGE is taken against the working directory (--workdir, else the\n"
      "current directory). A block device is opened exclusively and is refused\n"
      "while mounted.\n"
      "The volume needs at least 65,536 sectors and 65,525 clusters.\n"
      "\n"
      "Exit status: 0 when the volume was written, 1 when it could not be, 2 on a\n"
      "usage error (also an IMAGE that does not exist).\n");
  return {cmd, [args](CliContext& ctx) { return RunFormatFat32(ctx, args->image, args->label, args->cluster); }};
}

}  // namespace linetool::cli
