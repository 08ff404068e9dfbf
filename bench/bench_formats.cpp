// How long encoding a configuration costs. It runs on the window's thread
// when Configure is pressed, so the largest block (layout B with a start
// time) must stay far below a poll period.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "formats/config_block.h"

static void BM_BuildConfigBlockLayoutB(benchmark::State& st) {
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = 0x41;
  LoggerSettings& s = state->settings;
  s.tempAlarmLowC = 2.0;
  s.tempAlarmHighC = 8.0;
  s.humidityAlarmHigh = 80.0;
  s.humidityAlarmLow = 20.0;
  s.channels = 3;
  s.startOnTime = 1;
  s.powerSaveTimeout = 300;
  s.intervalSeconds = 60;
  std::memcpy(s.userInfo.data(), "Cold chain shipment 42", 22);
  state->clock.loggerClock = {24, 5, 17, 13, 45, 30};
  for (auto _ : st) {
    state->block.length = 0;
    benchmark::DoNotOptimize(BuildConfigBlock(*state));
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * state->block.length);
}
BENCHMARK(BM_BuildConfigBlockLayoutB);

BENCHMARK_MAIN();
