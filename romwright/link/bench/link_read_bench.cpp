// Reading a 16 MiB chip over a simulated link of 1 MB/s, in real time.
//
// Reference: the raw link, the same 16 MiB taken straight from the simulated
// read channel in 4096-byte transfers. Measured: a full Read Chip through the
// transfer engine (READ command, reply, chunked read worker, Poll with 5 ms
// pauses). Each figure is reported as a ratio in the same run: payload rate
// over the nominal link rate, and over the raw link rate measured here.
// `--chip-mib=N` reads a chip of N MiB instead (a quicker run). The last
// lines are the figures for scripts/bench:
// FIGURE name ours reference unit ratio goal what.

#include <iostream>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "platform/linux/host_services.h"
#include "romwright/link/transfer_engine.h"
#include "sim/programmer/sim_programmer.h"

namespace {

constexpr std::uint32_t kLinkRate = 1000000;  // bytes per second
std::uint32_t g_chip_size = 16777216;

romwright::ChipRecord Chip() {
  romwright::ChipRecord r;
  r.type = 0;
  std::strcpy(r.name.data(), "W25Q128");
  r.capacity = g_chip_size;
  r.page_write = 1;
  r.page_size = 256;
  r.manufacturer_id = 0xEF;
  r.device_id = 0x17;
  return r;
}

double g_raw_rate = 0;
double g_engine_rate = 0;

void BM_RawLink16MiB(benchmark::State& state) {
  auto clock = platform::linux_host::MakeSystemClock();
  sim::programmer::SimProgrammerOptions options;
  options.bytes_per_second = kLinkRate;
  sim::programmer::SimProgrammer sim(clock, Chip(), options);
  auto channels = sim.Open(*sim.Find());
  std::vector<std::uint8_t> buffer(g_chip_size);
  for (auto _ : state) {
    // The device streams the chip after a READ command; take it raw.
    const auto packet = romwright::link::ReadPacket({1, 3, 0, 0, 0}, 0, g_chip_size);
    channels->Write(packet, {}, {});
    std::uint8_t reply[3];
    channels->Read(reply, {}, {});
    const auto t0 = std::chrono::steady_clock::now();
    std::uint32_t got = 0;
    while (got < g_chip_size) {
      const auto r = channels->Read({buffer.data() + got, 4096}, {}, {});
      if (!r.ok() || r.transferred == 0) break;
      got += static_cast<std::uint32_t>(r.transferred);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    g_raw_rate = got / s;
  }
  state.counters["bytes_per_s"] = g_raw_rate;
  state.counters["ratio_to_link_rate"] = g_raw_rate / kLinkRate;
}

void BM_EngineRead16MiB(benchmark::State& state) {
  auto clock = platform::linux_host::MakeSystemClock();
  sim::programmer::SimProgrammerOptions options;
  options.bytes_per_second = kLinkRate;
  sim::programmer::SimProgrammer sim(clock, Chip(), options);
  platform::StreamSink sink(std::cerr);
  romwright::link::ProgrammerLink link(sim, sink);
  romwright::link::TransferEngine engine(clock);
  engine.SetLink(&link);
  engine.SetChip(Chip());
  std::vector<std::uint8_t> buffer(g_chip_size);
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!link.OpenLink() || !engine.StartRead(buffer.data(), 0, g_chip_size)) {
      state.SkipWithError("the read did not start");
      return;
    }
    int s = 0;
    while ((s = engine.Poll()) == romwright::link::kReading) clock.WaitFor(std::chrono::milliseconds(5));
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s != romwright::link::kIdle || engine.ReadCount() != g_chip_size) {
      state.SkipWithError("the read failed");
      return;
    }
    g_engine_rate = g_chip_size / secs;
  }
  state.counters["bytes_per_s"] = g_engine_rate;
  state.counters["ratio_to_link_rate"] = g_engine_rate / kLinkRate;
}

BENCHMARK(BM_RawLink16MiB)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_EngineRead16MiB)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg.starts_with("--chip-mib=")) {
      const long mib = std::strtol(argv[i] + 11, nullptr, 10);
      if (mib < 1 || mib > 16) {
        std::fprintf(stderr, "--chip-mib takes 1 to 16\n");
        return 2;
      }
      g_chip_size = static_cast<std::uint32_t>(mib) << 20;
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_raw_rate > 0 && g_engine_rate > 0) {
    std::printf("%u MiB chip read over a %u B/s link: payload %.0f B/s\n", g_chip_size >> 20, kLinkRate, g_engine_rate);
    std::printf("  payload rate / link rate          = %.3f (goal >= 0.9)\n", g_engine_rate / kLinkRate);
    std::printf("  payload rate / raw link rate here = %.3f (raw link %.0f B/s)\n",
                g_engine_rate / g_raw_rate, g_raw_rate);
    std::printf("FIGURE chip_read_vs_raw_link %.0f %.0f B/s %.3f >=0.9 rate: Read Chip through the engine / the raw link "
                "measured here (%u MiB)\n",
                g_engine_rate, g_raw_rate, g_engine_rate / g_raw_rate, g_chip_size >> 20);
    std::printf("FIGURE chip_read_vs_link_rate %.0f %u B/s %.3f >=0.9 rate: Read Chip through the engine / the link's "
                "nominal rate\n",
                g_engine_rate, kLinkRate, g_engine_rate / kLinkRate);
    return 0;
  }
  return 1;
}
