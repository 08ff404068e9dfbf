// From plugging a drive logger in to the form showing it: the passes it takes
// (each one poll period apart) and the work of those passes, which runs on
// the window's thread. Also a full Configure round, through the virtual
// logger's re-enumeration, until the form shows the logger again.
#include <benchmark/benchmark.h>

#include "core/control_ids.h"
#include "app/poll_pass.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "support/test_tool.h"

namespace {

struct Bench {
  TempDir dir;
  VirtualDriveLogger logger{dir.path() + "/volume"};
  VirtualDrives drives;
  TestTool tool;

  Bench() {
    drives.add(logger);
    tool.s().ports.drives = &drives;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());  // the first pass only resets the form
  }
  int PassesUntilConfigure() {
    int passes = 0;
    do {
      RunPollPass(tool.s());
      ++passes;
    } while (tool.form.text(ctl::Configure) != "Configure" && passes < 100);
    return passes;
  }
};

void BM_PlugToForm(benchmark::State& st) {
  Bench b;
  int passes = 0;
  for (auto _ : st) {
    st.PauseTiming();
    b.logger.unplug();
    RunPollPass(b.tool.s());  // the form lets the logger go
    st.ResumeTiming();
    b.logger.plugIn();
    passes = b.PassesUntilConfigure();
  }
  st.counters["passes"] = passes;
  st.counters["wall_ms_at_50ms_period"] = passes * 50.0;
}
BENCHMARK(BM_PlugToForm)->Unit(benchmark::kMicrosecond);

void BM_ConfigureRound(benchmark::State& st) {
  Bench b;
  b.logger.plugIn();
  b.PassesUntilConfigure();
  b.tool.form.at(ctl::Interval).text = "60";
  b.tool.form.at(ctl::DeviceName).text = "Bench";
  b.tool.form.at(ctl::DeviceId).text = "VL000001";
  int passes = 0;
  for (auto _ : st) {
    b.tool.s().poll.changeFlags |= flag::ConfigureRequested;
    passes = b.PassesUntilConfigure();
    if (b.logger.receivedBlocks() == 0) st.SkipWithError("nothing reached the logger");
  }
  st.counters["passes"] = passes;
}
BENCHMARK(BM_ConfigureRound)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
