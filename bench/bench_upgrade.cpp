// Firmware upgrades with the virtual loggers, through the real poll pass,
// receive thread and volume writes, each set against its floor:
// - HID: every answered frame costs at least the logger's latency (1 ms);
// - drive: the pass period paces the file (99 percentage steps, each ending
//   a pass, 2 ms apart), plus what a plain `cp` and `sync` of the same bytes
//   into the same directory take, measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/hid_link.h"
#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "formats/image_layout.h"
#include "hid/receive_thread.h"
#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct HidBench {
  TestTool tool;
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::size_t index = port.add(logger);
  std::unique_ptr<HidReceiveThread> receiver;

  HidBench() {
    logger.setU8(img::FwVersionLow, 0x93);  // 0x4093: one step behind
    tool.s().ports.hid = &port;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
    receiver = StartHidReceiveThread(tool.s(), port);
    while (tool.form.text(ctl::Configure) != "Configure") {
      RunPollPass(tool.s());
      std::this_thread::sleep_for(milliseconds(1));
    }
  }
};

// From the Configure that starts the upgrade to UpgradeEnd written.
void BM_HidUpgrade(benchmark::State& st) {
  double totalMs = 0;
  double latencyMs = 1;
  for (auto _ : st) {
    st.PauseTiming();
    auto b = std::make_unique<HidBench>();
    latencyMs = std::chrono::duration<double, std::milli>(b->logger.latency).count();
    st.ResumeTiming();
    const auto start = Clock::now();
    b->tool.s().poll.changeFlags |= flag::ConfigureRequested;
    RunPollPass(b->tool.s());
    while (b->tool.s().poll.upgradeState.load() == upgrade::HidSending)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    totalMs += MsSince(start);
    st.PauseTiming();
    if (b->tool.s().poll.upgradeState.load() != upgrade::HidDone) st.SkipWithError("not done");
    b.reset();
    st.ResumeTiming();
  }
  const double answers = 1116 + 1;  // data frames and the final frame; UpgradeEnd has none
  const double perRun = totalMs / static_cast<double>(st.iterations());
  st.counters["ms"] = perRun;
  st.counters["floor_ms"] = answers * latencyMs;
  st.counters["ratio_to_floor"] = perRun / (answers * latencyMs);
}
BENCHMARK(BM_HidUpgrade)->Unit(benchmark::kMillisecond)->Iterations(3);

// cp of the image into the volume's directory, then sync: what any tool that
// puts the same bytes on the same disk durably must at least spend.
double CopyAndSyncMs(const TempDir& dir) {
  const std::span<const uint8_t> image = AppImageStm32();
  WriteFile(dir.file("source.bin"), Bytes(image.begin(), image.end()));
  const std::string command =
      "cp '" + dir.file("source.bin") + "' '" + dir.file("copy.bin") + "' && sync";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return MsSince(start);
}

// From the Configure that starts the upgrade to the three records handed to
// the transfer, with the passes 2 ms apart as the timer runs them.
void BM_DriveUpgrade(benchmark::State& st) {
  double totalMs = 0;
  double copyMs = 0;
  int passes = 0;
  for (auto _ : st) {
    st.PauseTiming();
    TempDir dir;
    auto logger = std::make_unique<VirtualDriveLogger>(dir.path() + "/volume");
    logger->setU8(img::FwVersionLow, 0x02);  // 0x2402: one step behind
    logger->plugIn();
    VirtualDrives drives;
    drives.add(*logger);
    TestTool tool;
    tool.s().ports.drives = &drives;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
    while (tool.form.text(ctl::Configure) != "Configure") RunPollPass(tool.s());
    copyMs += CopyAndSyncMs(dir);
    st.ResumeTiming();
    const auto start = Clock::now();
    tool.s().poll.changeFlags |= flag::ConfigureRequested;
    int period = RunPollPass(tool.s());
    passes = 1;
    while (tool.s().poll.upgradeState.load() == upgrade::DriveWriting) {
      std::this_thread::sleep_for(milliseconds(period));
      period = RunPollPass(tool.s());
      ++passes;
    }
    totalMs += MsSince(start);
    st.PauseTiming();
    if (tool.s().poll.upgradeState.load() != upgrade::DriveDone) st.SkipWithError("not done");
    st.ResumeTiming();
  }
  const double runs = static_cast<double>(st.iterations());
  const double floorMs = 99 * 2.0 + copyMs / runs;
  st.counters["ms"] = totalMs / runs;
  st.counters["passes"] = passes;
  st.counters["cp_sync_ms"] = copyMs / runs;
  st.counters["floor_ms"] = floorMs;
  st.counters["ratio_to_floor"] = totalMs / runs / floorMs;
}
BENCHMARK(BM_DriveUpgrade)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
