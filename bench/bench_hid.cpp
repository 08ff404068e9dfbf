// The HID family at a 1 ms answer latency, through the real receive thread,
// transactions, poll pass and transfer, with the virtual HID logger behind
// the in-memory port. Each figure is set against its floor: the answers the
// exchange needs times the logger's latency, the time a perfect tool would
// still spend waiting.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "hid/receive_thread.h"
#include "sim/memory_hid.h"
#include "sim/virtual_hid_logger.h"
#include "support/test_tool.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Bench {
  TestTool tool;
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::size_t index = port.add(logger);
  HidReceiveThread receiver{tool.s(), port};

  Bench() {
    tool.s().ports.hid = &port;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
    receiver.start();
    AwaitEvent(1);
    RunPollPass(tool.s());  // connected and shown
  }
  void AwaitEvent(int32_t event) {
    while (tool.s().hid.linkEvent.load(std::memory_order_acquire) != event)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  uint32_t Reports() {
    uint32_t n = 0;
    port.edit(index, [&](VirtualHidLogger& l) { n = l.reportsReceived(); });
    return n;
  }
  double LatencyMs() {
    double ms = 0;
    port.edit(index, [&](VirtualHidLogger& l) {
      ms = std::chrono::duration<double, std::milli>(l.latency).count();
    });
    return ms;
  }
};

void Report(benchmark::State& st, double totalMs, double answers, double latencyMs) {
  const double perRun = totalMs / static_cast<double>(st.iterations());
  st.counters["ms"] = perRun;
  st.counters["answers"] = answers;
  st.counters["floor_ms"] = answers * latencyMs;
  st.counters["ratio_to_floor"] = perRun / (answers * latencyMs);
}

// From the pass that takes the arrival to the form showing the logger: the
// image head is read (nine answers) and decoded.
void BM_HidArrivalToForm(benchmark::State& st) {
  Bench b;
  double totalMs = 0;
  uint32_t answers = 0;
  for (auto _ : st) {
    st.PauseTiming();
    b.port.unplug(b.index);
    b.AwaitEvent(2);
    RunPollPass(b.tool.s());
    b.port.plug(b.index);
    b.AwaitEvent(1);
    const uint32_t before = b.Reports();
    st.ResumeTiming();
    const auto start = Clock::now();
    RunPollPass(b.tool.s());
    totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    st.PauseTiming();
    answers = b.Reports() - before;
    if (b.tool.form.text(ctl::Configure) != "Configure") st.SkipWithError("not shown");
    st.ResumeTiming();
  }
  Report(st, totalMs, answers, b.LatencyMs());
}
BENCHMARK(BM_HidArrivalToForm)->Unit(benchmark::kMillisecond)->Iterations(30);

// A Configure: the layout B block goes out record by record, every chunk
// awaiting its answer except the closing TransferEnd.
void BM_HidSendLayoutB(benchmark::State& st) {
  Bench b;
  if (b.tool.form.text(ctl::Configure) != "Configure") st.SkipWithError("not connected");
  b.tool.form.at(ctl::DeviceName).text = "Bench";
  double totalMs = 0;
  uint32_t chunks = 0;
  for (auto _ : st) {
    const uint32_t before = b.Reports();
    const int transfers = b.logger.receivedTransfers();
    b.tool.s().poll.changeFlags |= flag::ConfigureRequested;
    const auto start = Clock::now();
    RunPollPass(b.tool.s());
    totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    st.PauseTiming();
    chunks = b.Reports() - before;
    if (b.logger.receivedTransfers() != transfers + 1) st.SkipWithError("not delivered");
    st.ResumeTiming();
  }
  st.counters["chunks"] = chunks;
  Report(st, totalMs, chunks - 1.0, b.LatencyMs());  // TransferEnd awaits no answer
}
BENCHMARK(BM_HidSendLayoutB)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
