// Cost of one logger drive discovery. It runs on the window's thread on every
// 50 ms pass, so one call must stay well under a millisecond.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "drive/drive_discovery.h"
#include "support/fake_sysfs.h"
#include "support/test_tool.h"

namespace {

// A desktop with six disks: SATA with three partitions, NVMe with two, an
// optical drive, a USB stick and two loggers (one without a partition table,
// one with two partitions), all mounted, 40 lines of mountinfo; optionally
// the loop devices of a system with snaps.
struct Desktop {
  TempDir dir;
  FakeSysfs sys{dir.path()};

  explicit Desktop(bool loggers, int loopDevices) {
    sys.AddSystemMounts(34);
    sys.AddSataDisk("sda", "8:0");
    for (int p = 1; p <= 3; ++p) sys.AddPartition("sda", p, "8:" + std::to_string(p));
    sys.AddNvmeDisk("nvme0n1", "259:0");
    sys.AddPartition("nvme0n1", 1, "259:1", "nvme0n1p1");
    sys.AddPartition("nvme0n1", 2, "259:2", "nvme0n1p2");
    sys.AddSataDisk("sr0", "11:0");
    sys.AddUsbDisk("sdd", "8:48", "1-4", "0781", "5581");
    sys.AddPartition("sdd", 1, "8:49");
    sys.Mount("8:49", "/media/ann/STICK");
    const char* product = loggers ? "0901" : "0003";
    sys.AddUsbDisk("sdb", "8:16", "1-1", "2017", product);
    sys.Mount("8:16", "/media/ann/LOGGER");
    sys.AddUsbDisk("sdc", "8:32", "1-2", "2017", product);
    sys.AddPartition("sdc", 1, "8:33");
    sys.AddPartition("sdc", 2, "8:34");
    sys.Mount("8:33", "/media/ann/LOGGER1");
    sys.Mount("8:34", "/media/ann/LOGGER\\0402");
    for (int i = 0; i < loopDevices; ++i)
      sys.AddVirtualDisk("loop" + std::to_string(i), "7:" + std::to_string(i));
  }
};

void Run(benchmark::State& st, bool loggers, int loopDevices, int expected) {
  Desktop desktop(loggers, loopDevices);
  SysfsDrives drives(desktop.sys.sysRoot(), desktop.sys.mountinfo());
  auto tables = std::make_unique<DriveTables>();
  if (drives.findLoggerDrives(*tables) != expected) {
    st.SkipWithError("unexpected logger count");
    return;
  }
  for (auto _ : st) benchmark::DoNotOptimize(drives.findLoggerDrives(*tables));
}

void BM_FindLoggerDrives_TwoLoggers(benchmark::State& st) { Run(st, true, 0, 3); }
BENCHMARK(BM_FindLoggerDrives_TwoLoggers)->Unit(benchmark::kMicrosecond);

// The usual pass: no logger plugged in, so mountinfo is not read.
void BM_FindLoggerDrives_NoLogger(benchmark::State& st) { Run(st, false, 0, 0); }
BENCHMARK(BM_FindLoggerDrives_NoLogger)->Unit(benchmark::kMicrosecond);

void BM_FindLoggerDrives_TwoLoggers30Loops(benchmark::State& st) { Run(st, true, 30, 3); }
BENCHMARK(BM_FindLoggerDrives_TwoLoggers30Loops)->Unit(benchmark::kMicrosecond);

void BM_DiskPresent(benchmark::State& st) {
  Desktop desktop(true, 0);
  SysfsDrives drives(desktop.sys.sysRoot(), desktop.sys.mountinfo());
  std::string disk = "/dev/sdc";
  for (auto _ : st) benchmark::DoNotOptimize(drives.diskPresent(disk));
}
BENCHMARK(BM_DiskPresent)->Unit(benchmark::kMicrosecond);

// This machine's own sysfs and mount table, for comparison with the fake tree.
void BM_FindLoggerDrives_ThisMachine(benchmark::State& st) {
  SysfsDrives drives;
  auto tables = std::make_unique<DriveTables>();
  int found = 0;
  for (auto _ : st) benchmark::DoNotOptimize(found = drives.findLoggerDrives(*tables));
  st.counters["loggerVolumes"] = found;
}
BENCHMARK(BM_FindLoggerDrives_ThisMachine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
