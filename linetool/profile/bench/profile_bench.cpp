// What the station's file work costs, each next to a reference measured in the
// same run: composing the flash image against merely reading the firmware, and
// loading a profile against merely reading its file. run_profile_bench prints
// the ratios.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "linetool/profile/line_engine.h"
#include "linetool/profile/profile_format.h"
#include "linetool/profile/station_files.h"
#include "platform/linux/host_services.h"
#include "platform/message_sink.h"
#include "tools/testing/test_paths.h"

namespace {

namespace fs = std::filesystem;
using linetool::profile::CLineEngine;

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("linetool_profile_bench." + std::to_string(std::random_device{}()));
    fs::create_directories(d);
    std::string fw(65535, '\0');
    for (std::size_t i = 0; i < fw.size(); ++i) fw[i] = static_cast<char>((i * 131) ^ (i >> 7));
    std::ofstream(d / "120416_10_0000.bin", std::ios::binary) << fw;
    fs::copy_file(fs::path(test_support::kResourceDir) / "kl_line_Tool v0.3.ini", d / "p.ini",
                  fs::copy_options::overwrite_existing);
    return d;
  }();
  return dir;
}

struct Engine {
  platform::RecordingSink sink;
  platform::linux_host::HostPathAccess access;
  CLineEngine engine{sink, access, WorkDir().string()};
};

void BM_ReadFirmware(benchmark::State& state) {
  const std::string path = (WorkDir() / "120416_10_0000.bin").string();
  for (auto _ : state) benchmark::DoNotOptimize(linetool::profile::ReadFileBytes(path));
}

void BM_BuildFlashImageWithCrc(benchmark::State& state) {
  Engine e;
  linetool::profile::SetText(e.engine.Settings().fw_binary_name, "120416_10_0000.bin");
  e.engine.SetFirmwarePath("120416_10_0000.bin");
  e.engine.SetChipCode("001");
  for (auto _ : state) {
    if (!e.engine.BuildFlashImage(linetool::profile::FlashImageKind::kUnConfig, true)) {
      state.SkipWithError("composition failed");
    }
  }
}

void BM_ReadProfileFile(benchmark::State& state) {
  const std::string path = (WorkDir() / "p.ini").string();
  for (auto _ : state) benchmark::DoNotOptimize(linetool::profile::ReadFileBytes(path));
}

void BM_LoadProfile(benchmark::State& state) {
  Engine e;
  for (auto _ : state) {
    if (!e.engine.LoadProfile("p.ini")) state.SkipWithError("load failed");
  }
}

BENCHMARK(BM_ReadFirmware);
BENCHMARK(BM_BuildFlashImageWithCrc);
BENCHMARK(BM_ReadProfileFile);
BENCHMARK(BM_LoadProfile);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(WorkDir(), ec);
  return 0;
}
