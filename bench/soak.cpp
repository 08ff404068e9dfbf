// Soak check: many Configure rounds against each virtual logger and many
// plug/unplug cycles of the HID logger, all in one process, through the real
// poll pass, transfer and receive thread. What a long session would leave
// behind shows up as growth between the start and the end of a phase:
// resident memory, live heap, open descriptors, threads. Growth beyond the
// tolerances below fails the run; the times are printed for information only.
//
//   bench_soak [--rounds=N] [--cycles=N]   (defaults 1000 and 200)
#include <dirent.h>
#include <malloc.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/form_events.h"
#include "app/hid_link.h"
#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "drive/drive_discovery.h"
#include "settings/clock.h"
#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"
#include "support/fake_sysfs.h"
#include "support/test_tool.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Descriptors and threads are counted exactly: every one the tool opens or
// starts in a round is closed or joined within it, so any difference is one
// left behind.
// Resident memory moves by whole pages, and even after the trim before each
// reading the allocator keeps some freed memory for reuse, laid out a little
// differently from one round to the next: 256 KiB allows for that, and over
// 1000 rounds still fails a round that keeps a quarter of a kilobyte.
// The live heap is the sharper gauge: the bytes handed out and not freed.
// Between two readings at the same point of a round it differs only by what
// the receive thread happens to hold at that moment and by capacities grown
// in an earlier round; 64 KiB allows for that and, over 1000 rounds, fails a
// round that keeps some 64 bytes.
constexpr long kRssToleranceKiB = 256;
constexpr long kHeapToleranceKiB = 64;
// What the first rounds allocate lives on (containers at their high-water
// mark, the allocator's arenas); rounds alternate between two variants.
constexpr int kWarmUpRounds = 4;

struct Usage {
  long rssKiB = -1;
  long heapKiB = -1;
  int fds = -1;
  int threads = -1;
};

// Entries of a /proc/self directory; the listing's own descriptor is not counted.
int CountEntries(const char* path) {
  DIR* dir = opendir(path);
  if (!dir) return -1;
  const std::string own = std::to_string(dirfd(dir));
  int n = 0;
  while (const dirent* e = readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != ".." && name != own) ++n;
  }
  closedir(dir);
  return n;
}

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) != 0) continue;
    const std::size_t digits = line.find_first_of("0123456789");
    long kib = -1;
    if (digits != std::string::npos)
      std::from_chars(line.data() + digits, line.data() + line.size(), kib);
    return kib;
  }
  return -1;
}

Usage Measure() {
  // Memory the allocator holds free is not kept by the tool: hand it back
  // first, so the reading is what is really in use.
  malloc_trim(0);
  Usage u;
  const struct mallinfo2 heap = mallinfo2();
  u.heapKiB = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
  u.rssKiB = RssKiB();
  u.fds = CountEntries("/proc/self/fd");
  u.threads = CountEntries("/proc/self/task");
  return u;
}

// Counts the messages instead of showing them; from either thread.
class CountingMessages : public MessagePort {
 public:
  void show(std::string_view text, MessageIcon) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    last_ = std::string(text);
  }
  int count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  std::string last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  std::string last_;
};

// The tool as the window runs it, with the form's logs of calls emptied after
// every round: they are the test form's, and would grow for ever.
struct Tool {
  TestTool tool;
  CountingMessages messages;

  Tool() { tool.s().ports.messages = &messages; }
  ToolState& s() { return tool.s(); }
  std::string text(int id) const { return tool.form.text(id); }
  void Pass() {
    RunPollPass(s());
    RefreshClock(s());
  }
  // The passes after a decode serve the flags it raised.
  void Settle() {
    for (int i = 0; i < 5 && s().poll.changeFlags != 0; ++i) Pass();
  }
  // The values a round sends; the form is then changed, so that only the
  // logger's answer can bring them back.
  void FillForm(int round, std::string& name, std::string& interval) {
    name = "Soak " + std::to_string(round);
    interval = round % 2 ? "120" : "60";
    tool.form.at(ctl::DeviceName).text = name;
    tool.form.at(ctl::Interval).text = interval;
  }
  void Scramble() {
    tool.form.at(ctl::DeviceName).text = "-";
    tool.form.at(ctl::Interval).text = "1";
  }
  std::string ShowsSent(const std::string& name, const std::string& interval) const {
    if (text(ctl::DeviceName) != name || text(ctl::Interval) != interval)
      return "read again as \"" + text(ctl::DeviceName) + "\", " + text(ctl::Interval) +
             " s instead of \"" + name + "\", " + interval + " s";
    return {};
  }
  void EndRound() {
    tool.form.refreshed.clear();
    tool.form.refreshed.shrink_to_fit();
    tool.form.textWrites.clear();
    tool.form.textWrites.shrink_to_fit();
  }
};

// Runs the rounds of one phase, measured after its warm-up. A round returns
// an empty string, or what went wrong.
bool RunPhase(const char* phase, const char* unit, int count,
              const std::function<std::string(int)>& round) {
  std::printf("%s: %d %ss after %d warm-up %ss\n", phase, count, unit, kWarmUpRounds, unit);
  for (int i = 0; i < kWarmUpRounds; ++i) {
    const std::string error = round(-1 - i);
    if (!error.empty()) {
      std::printf("  FAILED in warm-up %s %d: %s\n", unit, i + 1, error.c_str());
      return false;
    }
  }
  const Usage start = Measure();
  const auto began = Clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string error = round(i);
    if (!error.empty()) {
      std::printf("  FAILED in %s %d: %s\n", unit, i + 1, error.c_str());
      return false;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  const Usage end = Measure();
  for (const Usage& u : {start, end}) {
    if (u.rssKiB < 0 || u.fds < 0 || u.threads < 0) {
      std::printf("  FAILED: /proc/self cannot be read\n");
      return false;
    }
  }

  // `allowed`: the growth tolerated, in the row's unit.
  const auto row = [](const char* what, long a, long b, const char* in, long allowed) {
    std::printf("  %-8s start %8ld  end %8ld  growth %+7ld %-3s  %s (allowed %+ld)\n", what, a, b,
                b - a, in, b - a <= allowed ? "ok" : "TOO MUCH", allowed);
  };
  row("RSS", start.rssKiB, end.rssKiB, "KiB", kRssToleranceKiB);
  row("heap", start.heapKiB, end.heapKiB, "KiB", kHeapToleranceKiB);
  row("fds", start.fds, end.fds, "", 0);
  row("threads", start.threads, end.threads, "", 0);
  std::printf("  time     %.2f s, %.1f ms a %s (information only)\n", seconds,
              count > 0 ? seconds * 1000.0 / count : 0.0, unit);
  return end.rssKiB - start.rssKiB <= kRssToleranceKiB &&
         end.heapKiB - start.heapKiB <= kHeapToleranceKiB && end.fds <= start.fds &&
         end.threads <= start.threads;
}

// ---- The drive logger -------------------------------------------------------

// The virtual drive logger seen through the real discovery: while it is
// plugged in, its disk is in a fake sysfs tree with a partition mounted at
// its volume, so every pass reads /sys and mountinfo as on a real system.
class SysfsLoggerDrives : public DrivePort {
 public:
  SysfsLoggerDrives(const std::string& base, VirtualDriveLogger& logger)
      : sysfs_(base), logger_(logger), discovery_(sysfs_.sysRoot(), sysfs_.mountinfo()) {}

  int findLoggerDrives(DriveTables& tables) override {
    logger_.poll();
    if (logger_.plugged() != shown_) {
      shown_ = logger_.plugged();
      if (shown_) {
        sysfs_.AddUsbDisk("sdb", "8:16", "1-1", "2017", "0901");
        sysfs_.AddPartition("sdb", 1, "8:17");
        sysfs_.Mount("8:17", logger_.volume());
      } else {
        sysfs_.Unmount("8:17");
        sysfs_.RemoveDisk("sdb");
      }
    }
    return discovery_.findLoggerDrives(tables);
  }
  bool diskPresent(const std::string& diskPath) override {
    return discovery_.diskPresent(diskPath);
  }
  std::vector<std::string> unmountedLoggerVolumes() const override {
    return discovery_.unmountedLoggerVolumes();
  }

 private:
  FakeSysfs sysfs_;
  VirtualDriveLogger& logger_;
  SysfsDrives discovery_;
  bool shown_ = false;
};

// Each round: Configure from the form; the passes write "CONFIG.CFG", read it
// back and confirm it; the logger applies it, goes away and comes back; the
// form shows what it was given.
bool DrivePhase(const char* phase, VirtualDriveLogger& logger, DrivePort& drives, int rounds) {
  Tool t;
  t.s().ports.drives = &drives;
  InitialiseForm(t.s());
  t.Pass();  // the first pass only resets the form
  if (!logger.plugIn()) {
    std::printf("%s: cannot create the volume %s\n", phase, logger.volume().c_str());
    return false;
  }
  for (int i = 0; i < 10 && t.text(ctl::Configure) != "Configure"; ++i) t.Pass();
  t.Settle();

  return RunPhase(phase, "round", rounds, [&](int round) -> std::string {
    std::string name, interval;
    t.FillForm(round, name, interval);
    const int blocks = logger.receivedBlocks();
    const int shown = t.messages.count();
    OnFormEvent(t.s(), ctl::Configure, FormEvent::Clicked);
    t.Pass();
    if (t.text(ctl::Configure) != "Configuring...")
      return "Configure gave \"" + t.text(ctl::Configure) + "\" (" + t.messages.last() + ")";
    t.Scramble();
    bool removed = false;
    for (int pass = 0; pass < 20 && !(removed && t.text(ctl::Configure) == "Configure"); ++pass) {
      t.Pass();
      removed = removed || t.text(ctl::Configure) == "Plug Device";
    }
    if (!removed) return "the logger did not go away after the configuration";
    if (t.text(ctl::Configure) != "Configure") return "the logger was not read again";
    if (logger.receivedBlocks() != blocks + 1 ||
        logger.lastOutcome() != VirtualDriveLogger::Outcome::Applied)
      return "the logger did not apply the configuration";
    if (t.messages.count() != shown) return "message \"" + t.messages.last() + "\"";
    std::string error = t.ShowsSent(name, interval);
    t.Settle();
    t.EndRound();
    return error;
  });
}

bool VirtualDrivePhase(int rounds) {
  TempDir dir;
  VirtualDriveLogger logger{dir.path() + "/volume"};
  VirtualDrives drives;
  drives.add(logger);
  return DrivePhase("drive logger, Configure", logger, drives, rounds);
}

bool SysfsDrivePhase(int rounds) {
  TempDir dir;
  VirtualDriveLogger logger{dir.path() + "/volume"};
  SysfsLoggerDrives drives(dir.path(), logger);
  return DrivePhase("drive logger found in sysfs, Configure", logger, drives, rounds);
}

// ---- The HID logger ---------------------------------------------------------

struct HidRig {
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::size_t index = port.add(logger);
  Tool t;
  std::unique_ptr<HidReceiveThread> receiver;  // stopped and joined before the rest goes

  HidRig() {
    t.s().ports.hid = &port;
    InitialiseForm(t.s());
    t.Pass();
    receiver = StartHidReceiveThread(t.s(), port);
  }
  ~HidRig() {
    if (receiver) receiver->stop();
  }
  HidRig(const HidRig&) = delete;
  HidRig& operator=(const HidRig&) = delete;

  // Waits for the receive thread to announce `event`, then runs the pass that takes it.
  bool TakeEvent(int32_t event) {
    HidLink& hid = t.s().hid;
    const auto end = Clock::now() + 3s;
    for (;;) {
      const uint32_t token = hid.changed.token();
      if (hid.linkEvent.load(std::memory_order_acquire) == event) break;
      if (Clock::now() > end) return false;
      hid.changed.wait(token, 10ms);
    }
    t.Pass();
    return true;
  }
  int Transfers() {
    int n = 0;
    port.edit(index, [&](VirtualHidLogger& l) { n = l.receivedTransfers(); });
    return n;
  }
  bool Applied() {
    bool applied = false;
    port.edit(index, [&](VirtualHidLogger& l) {
      applied = l.lastOutcome() == VirtualHidLogger::Outcome::Applied;
    });
    return applied;
  }
  std::string Connect() {
    if (!TakeEvent(1)) return "no arrival";
    if (t.text(ctl::Configure) != "Configure") return "arrived but not shown (" + t.messages.last() + ")";
    return {};
  }
  std::string Disconnect() {
    if (!TakeEvent(2)) return "no removal";
    if (t.text(ctl::Configure) != "Plug Device") return "removed but still shown";
    return {};
  }
};

// Each round: Configure from the form, sent within the pass; the logger is
// unplugged and plugged in again; the form shows what it was given.
bool HidConfigurePhase(int rounds) {
  HidRig rig;
  Tool& t = rig.t;
  if (std::string error = rig.Connect(); !error.empty()) {
    std::printf("HID logger: %s\n", error.c_str());
    return false;
  }
  t.Settle();

  return RunPhase("HID logger, Configure", "round", rounds, [&](int round) -> std::string {
    std::string name, interval;
    t.FillForm(round, name, interval);
    const int transfers = rig.Transfers();
    const int shown = t.messages.count();
    OnFormEvent(t.s(), ctl::Configure, FormEvent::Clicked);
    t.Pass();
    if (rig.Transfers() != transfers + 1 || !rig.Applied())
      return "the logger did not apply the configuration (" + t.messages.last() + ")";
    t.Scramble();
    rig.port.unplug(rig.index);
    if (std::string error = rig.Disconnect(); !error.empty()) return error;
    rig.port.plug(rig.index);
    if (std::string error = rig.Connect(); !error.empty()) return error;
    if (t.messages.count() != shown) return "message \"" + t.messages.last() + "\"";
    std::string error = t.ShowsSent(name, interval);
    t.Settle();
    t.EndRound();
    return error;
  });
}

// Each cycle: plugged in, read and unplugged, or pulled out in the middle of
// the image read, or in the middle of a configuration transfer; in turn.
bool HidPlugPhase(int cycles) {
  HidRig rig;
  Tool& t = rig.t;
  if (std::string error = rig.Connect(); !error.empty()) {
    std::printf("HID logger: %s\n", error.c_str());
    return false;
  }
  rig.port.unplug(rig.index);
  if (std::string error = rig.Disconnect(); !error.empty()) {
    std::printf("HID logger: %s\n", error.c_str());
    return false;
  }

  return RunPhase("HID logger, plug and unplug", "cycle", cycles, [&](int cycle) -> std::string {
    enum { Unplugged, DuringRead, DuringTransfer };
    const int variant = (cycle % 3 + 3) % 3;
    const int shown = t.messages.count();
    if (variant == DuringRead) {
      rig.port.edit(rig.index, [](VirtualHidLogger& l) { l.faults.unplugAtReport = 3; });
      rig.port.plug(rig.index);
      if (!rig.TakeEvent(1)) return "no arrival";
      if (t.text(ctl::Configure) == "Configure") return "shown although pulled out during the read";
    } else {
      rig.port.plug(rig.index);
      if (std::string error = rig.Connect(); !error.empty()) return error;
      if (t.messages.count() != shown) return "message \"" + t.messages.last() + "\"";
      t.Settle();
      if (variant == Unplugged) {
        rig.port.unplug(rig.index);
      } else {
        rig.port.edit(rig.index, [](VirtualHidLogger& l) {
          l.faults.unplugAtReport = l.reportsReceived() + 10;
        });
        OnFormEvent(t.s(), ctl::Configure, FormEvent::Clicked);
        t.Pass();
        if (t.messages.count() != shown + 1 || t.messages.last() != "Configuration failed ")
          return "pulled out during the transfer, but told \"" + t.messages.last() + "\"";
      }
    }
    std::string error = rig.Disconnect();
    t.EndRound();
    return error;
  });
}

// --rounds=N and --cycles=N; false for anything else.
bool ParseArguments(int argc, char** argv, int& rounds, int& cycles) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    int* target = nullptr;
    std::string_view value;
    for (auto [prefix, into] : {std::pair{std::string_view("--rounds="), &rounds},
                                std::pair{std::string_view("--cycles="), &cycles}}) {
      if (arg.substr(0, prefix.size()) == prefix) {
        target = into;
        value = arg.substr(prefix.size());
      }
    }
    if (!target) return false;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), *target);
    if (ec != std::errc() || end != value.data() + value.size() || *target < 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 1000;
  int cycles = 200;
  if (!ParseArguments(argc, argv, rounds, cycles)) {
    std::fprintf(stderr, "usage: %s [--rounds=N] [--cycles=N]\n", argv[0]);
    return 2;
  }
  const Usage before = Measure();
  bool ok = VirtualDrivePhase(rounds);
  ok = SysfsDrivePhase(rounds) && ok;
  ok = HidConfigurePhase(rounds) && ok;
  ok = HidPlugPhase(cycles) && ok;
  // With every phase torn down, the process is back to what it started with.
  const Usage after = Measure();
  const bool clean = after.fds == before.fds && after.threads == before.threads;
  std::printf("after all phases: fds %d (at start %d), threads %d (at start %d): %s\n", after.fds,
              before.fds, after.threads, before.threads, clean ? "ok" : "LEFT BEHIND");
  ok = ok && clean;
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}
