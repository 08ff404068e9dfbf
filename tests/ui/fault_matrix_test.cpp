// The fault matrix: for both logger families, a fault at every step of
// Configure and at sampled steps of the firmware upgrade, each run on a fresh
// real window (headless) with a virtual logger behind the real ports. Every
// cell must end, within a budget of poll passes, with the expected message
// and caption, the tool at rest and able to read the logger again, and the
// logger holding its old parameters or the new ones whole, never a mix.
// The table goes to fault_matrix.txt among the build's artifacts.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "formats/image_layout.h"
#include "settings/clock.h"
#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"
#include "support/file_room.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"
#include "window_fixture.h"

namespace {

using namespace std::chrono_literals;

enum class Logger { Drive, OldDrive, Hid, OldHid };
enum class Fault {
  None, Unplug, Silence, WrongAnswer, ReadBackDiffers, ReadOnly, VolumeFull, NeverBack, SilentForGood
};
enum class Outcome { Old, New, Mixed };
// Moments of a drive Configure, between the passes that write "CONFIG.CFG"
// (the Configure pass itself), read it back and write "OK.DAT".
enum DriveStep { AtWrite, AtReadBack, AtConfirm, AfterConfirm };

constexpr uint32_t kStm32Blocks = (kAppImageStm32Length + 255) / 256;  // 256-byte steps
constexpr uint32_t kKl26Frames = (kAppImageKl26Length + 55) / 56;      // data frames

const char* const kGoneMidConfig = "Configuration failed ,Make sure the device is connected well";
const char* const kConnectedWell = "Make sure the device is connected well ";
const char* const kHidFailed = "Configuration failed ";
const char* const kUpgradeGone = "Upgrade failed,Make sure the device is connected well";
const char* const kUpgradeRedo = "升级失败,请重新配置!";

struct Cell {
  Logger logger;
  Fault fault;
  uint32_t step;  // DriveStep; 256-byte block; HID report after the click, from 1
  std::vector<std::string> messages;  // every message of the cell, in order
  std::string caption;  // once the fault has played out: "<caption>/on|off", '*' for any text
  Outcome outcome;
};

const char* Name(Logger l) {
  static const char* const names[] = {"drive", "old drive", "hid", "old hid"};
  return names[static_cast<int>(l)];
}
const char* Name(Fault f) {
  static const char* const names[] = {"none",      "unplug",    "silence",     "wrong answer",
                                      "read-back differs", "read-only", "volume full", "never back",
                                      "silent for good"};
  return names[static_cast<int>(f)];
}
const char* Name(Outcome o) {
  static const char* const names[] = {"old", "new", "MIXED"};
  return names[static_cast<int>(o)];
}
bool IsHid(Logger l) { return l == Logger::Hid || l == Logger::OldHid; }

std::string StepName(const Cell& c) {
  if (c.fault == Fault::None) return "-";
  if (c.fault == Fault::NeverBack) return "after upgrade";
  switch (c.logger) {
    case Logger::Drive: {
      static const char* const names[] = {"write", "read-back", "confirm", "after confirm"};
      return names[c.step];
    }
    case Logger::OldDrive:
      return "block " + std::to_string(c.step + 1) + "/" + std::to_string(kStm32Blocks);
    case Logger::Hid:
      return "chunk " + std::to_string(c.step);
    case Logger::OldHid:
      return "frame " + std::to_string(c.step) + "/" + std::to_string(kKl26Frames);
  }
  return "?";
}

// What the logger's parameters are, leaving out what an upgrade or the
// drive image's seal changes.
std::vector<uint8_t> Parameters(std::vector<uint8_t> image, bool sealed) {
  if (image.size() > img::FwVersionLow) image[img::FwVersionHigh] = image[img::FwVersionLow] = 0;
  if (sealed && image.size() >= 4) image.resize(image.size() - 4);
  return image;
}

// One cell's world: a fresh state, the real window on in-memory message and
// clock ports, and one virtual logger. The runner runs the window's passes
// itself, so budgets count passes, not time.
struct Bench {
  explicit Bench(Logger kind) : hidFamily(IsHid(kind)) {
    TestApp();
    clock.standardOffset = 480;
    clock.reading.local = {2024, 5, 14, 9, 30, 0};
    clock.reading.utcOffsetMinutes = 480;
    state->ports.messages = &messages;
    state->ports.clock = &clock;
    state->virtualLoggersOnly = true;
    if (hidFamily) {
      // Answers come in about a millisecond; the silent cells need not each
      // wait out the full three seconds.
      state->hid.answerLimit = 500ms;
      hid.latency = 0ms;
      hid.reenumerateAbsence = 0ms;
      if (kind == Logger::OldHid) hid.setU8(img::FwVersionLow, 0x93);  // 0x4093
      index = port.add(hid);
      state->ports.hid = &port;
    } else {
      if (kind == Logger::OldDrive) drive.setU8(img::FwVersionLow, 0x02);  // 0x2402
      drives.add(drive);
      state->ports.drives = &drives;
    }
    window = std::make_unique<CUSBDlg>(*state);
    window->findChild<QTimer*>(QStringLiteral("pollTimer"))->stop();
  }
  ~Bench() { window.reset(); }  // its receive thread uses the port

  // One pass as the window's timer runs it; HID passes leave the receive
  // thread a moment, as the timer's period does.
  void Pass() {
    const int period = RunPollPass(*state);
    RefreshClock(*state);
    QCoreApplication::processEvents();  // captions carried over from the receive thread
    if (hidFamily) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(period, 2)));
    ++passes;
  }

  std::string Caption() const {
    const auto* button = window->findChild<QAbstractButton*>(QStringLiteral("c%1").arg(ctl::Configure));
    return button->text().toStdString() + (button->isEnabled() ? "/on" : "/off");
  }
  bool Plugged() {
    if (!hidFamily) return drive.plugged();
    bool plugged = false;
    port.edit(index, [&](VirtualHidLogger& l) { plugged = l.plugged(); });
    return plugged;
  }
  void Plug(bool in) {
    if (hidFamily)
      in ? port.plug(index) : port.unplug(index);
    else if (in)
      drive.plugIn();
    else
      drive.unplug();
  }
  std::vector<uint8_t> LoggerParameters() {
    if (!hidFamily) return Parameters(drive.image(), true);
    std::vector<uint8_t> image;
    port.edit(index, [&](VirtualHidLogger& l) { image = l.image(); });
    return Parameters(image, false);
  }
  uint32_t Reports() {
    uint32_t n = 0;
    port.edit(index, [&](VirtualHidLogger& l) { n = l.reportsReceived(); });
    return n;
  }

  // Runs passes until the tool has been at rest for a while: nothing in
  // flight, no upgrade running (or, with `awayAllowed`, one waiting for the
  // logger's return), and the same caption, messages and logger presence
  // pass after pass. `beforePass` injects faults. False when the budget ran out.
  template <typename BeforePass>
  bool Settle(int budget, bool awayAllowed, BeforePass&& beforePass) {
    const int quiet = hidFamily ? 8 : 4;
    std::string last;
    int same = 0;
    for (int n = 0; n < budget; ++n) {
      beforePass();
      Pass();
      const uint8_t upgrade = state->poll.upgradeState.load();
      // The tool has caught up with the logger: it holds a link to it, or a
      // volume of it, exactly while it is plugged in.
      const bool seen = hidFamily ? state->hid.writeChannel.open()
                                   : !state->poll.currentDrivePath.empty();
      const bool resting =
          seen == Plugged() && state->poll.transferState == TransferIdle && state->block.length == 0 &&
          state->hid.linkEvent.load() == 0 &&
          (upgrade == upgrade::Idle ||
           (awayAllowed && (upgrade == upgrade::DriveDone || upgrade == upgrade::HidDone)));
      const std::string now = Caption() + std::to_string(messages.texts().size()) +
                              (Plugged() ? "+" : "-") + std::to_string(upgrade);
      same = resting && now == last ? same + 1 : 0;
      last = now;
      if (same >= quiet) return true;
    }
    return false;
  }
  bool Settle(int budget) {
    return Settle(budget, false, [] {});
  }

  const bool hidFamily;
  int passes = 0;
  std::unique_ptr<ToolState> state = std::make_unique<ToolState>();
  MemoryMessages messages;
  MemoryClock clock;
  TempDir dir;
  VirtualDriveLogger drive{dir.path() + "/volume"};
  VirtualDrives drives;
  VirtualHidLogger hid;
  MemoryHidPort port;
  std::size_t index = 0;
  std::unique_ptr<CUSBDlg> window;  // last: goes first, with its thread
};

struct Result {
  bool settled = false;
  int passes = 0;
  std::string caption;
  std::vector<std::string> messages;
  bool recovered = false;
  Outcome outcome = Outcome::Mixed;
  std::vector<uint8_t> before, after;
  uint32_t reports = 0;  // HID reports from the click until the fault played out
};

constexpr int kDriveBudget = 400;   // an upgrade takes about 100 passes of 2 ms
constexpr int kHidBudget = 3000;    // 2 ms passes; the upgrade runs on the receive thread

// Runs one cell: the logger is read, faults are armed, Configure is clicked,
// passes run until the tool rests; then the logger is pulled out and put
// back, and the tool must read it and offer Configure again.
Result RunCell(const Cell& cell, const std::vector<uint8_t>* intended) {
  Result r;
  Bench b(cell.logger);
  const bool hid = IsHid(cell.logger);
  // A logger silent for good is given up after six seconds of resends.
  const int budget = cell.fault == Fault::SilentForGood ? 4 * kHidBudget
                     : hid                              ? kHidBudget
                                                        : kDriveBudget;
  if (!hid) b.drive.plugIn();
  if (!b.Settle(budget) || b.Caption() != "Configure/on") {
    r.caption = "never read: " + b.Caption();
    return r;
  }
  r.before = b.LoggerParameters();
  const uint32_t base = hid ? b.Reports() : 0;
  const uint32_t report = base + cell.step;

  // Faults known before the click.
  std::optional<FileRoom> room;
  switch (cell.fault) {
    case Fault::Unplug:
      if (hid) b.port.edit(b.index, [&](VirtualHidLogger& l) { l.faults.unplugAtReport = report; });
      break;
    case Fault::Silence:
      b.port.edit(b.index, [&](VirtualHidLogger& l) {
        l.faults.unansweredReports = 1;
        l.faults.unansweredFromReport = report;
      });
      break;
    case Fault::SilentForGood:
      b.port.edit(b.index, [&](VirtualHidLogger& l) {
        l.faults.unansweredReports = UINT32_MAX;
        l.faults.unansweredFromReport = report;
      });
      break;
    case Fault::WrongAnswer:
      b.port.edit(b.index, [&](VirtualHidLogger& l) { l.faults.errorAtReport = report; });
      break;
    case Fault::ReadBackDiffers:
      b.drive.faults.differingReadBack = true;
      break;
    case Fault::ReadOnly:
      // At the first write (of "CONFIG.CFG" or "APP.BIN"); a later step
      // switches it on when its pass comes.
      b.drive.faults.readOnly = cell.step == 0;
      break;
    case Fault::VolumeFull:
      // Room up to the middle of the step, so its write stops short there;
      // "OK.DAT" finds it full when its pass comes.
      if (cell.logger == Logger::Drive) {
        if (cell.step == AtWrite) room.emplace(64);
      } else {
        room.emplace(cell.step * 256 + (cell.step + 1 < kStm32Blocks ? 128 : kAppImageStm32Length % 256 / 2));
      }
      break;
    case Fault::NeverBack:
      if (hid)
        b.port.edit(b.index, [](VirtualHidLogger& l) { l.faults.goneAfterUpgrade = true; });
      else
        b.drive.faults.goneAfterUpgrade = true;
      break;
    case Fault::None:
      break;
  }

  b.window->form().setText(ctl::DeviceName, "Cold Room 2");
  b.window->form().setText(ctl::Interval, "120");
  b.window->findChild<QAbstractButton*>(QStringLiteral("c%1").arg(ctl::Configure))->click();

  // Faults that wait for their moment; a pulled-out logger goes back in a
  // few passes after the tool has seen it go.
  bool fired = false, sawConfirm = false;
  int awayPasses = 0;
  const int startPasses = b.passes;
  auto beforePass = [&] {
    const uint8_t transfer = b.state->poll.transferState;
    if (!hid && !fired) {
      bool now = false;
      if (cell.logger == Logger::Drive) {
        now = (cell.step == AtReadBack && transfer == TransferVerify) ||
              (cell.step == AtConfirm && transfer == TransferConfirm) ||
              (cell.step == AfterConfirm && sawConfirm && transfer == TransferIdle);
      } else {
        // The pass that writes this 256-byte step: one pass writes up to a
        // percent of the image.
        const uint32_t sent = b.state->upgradeJob.sent.load();
        now = b.state->poll.upgradeState.load() == upgrade::DriveWriting &&
              cell.step * 256 + 256 > sent && cell.step * 256 < sent + kAppImageStm32Length / 99;
      }
      sawConfirm = sawConfirm || transfer == TransferConfirm;
      if (now && cell.fault == Fault::Unplug) b.drive.unplug();
      if (now && cell.fault == Fault::ReadOnly) b.drive.faults.readOnly = true;
      if (now && cell.fault == Fault::VolumeFull && !room) room.emplace(0);
      fired = now;
    }
    // Back in once the tool has seen it go (a drive upgrade sees it only
    // when its file is written).
    const bool seen = hid ? b.state->hid.writeChannel.open() : !b.state->poll.currentDrivePath.empty();
    if (cell.fault == Fault::Unplug && !b.Plugged() && !seen && ++awayPasses == 3) b.Plug(true);
  };
  r.settled = b.Settle(budget, cell.fault == Fault::NeverBack, beforePass);
  r.passes = b.passes - startPasses;
  r.caption = b.Caption();
  if (hid) r.reports = b.Reports() - base;

  // The tool must be able to take the logger again: out, back in, read.
  room.reset();
  b.drive.faults = {};
  if (hid) b.port.edit(b.index, [](VirtualHidLogger& l) { l.faults = {}; });
  for (int round = 0; round < 2 && !r.recovered; ++round) {
    b.Plug(false);
    b.Settle(budget, true, [] {});
    b.Plug(true);
    r.recovered = b.Settle(budget, false, [] {}) && b.Caption() == "Configure/on";
  }
  r.messages = b.messages.texts();
  r.after = b.LoggerParameters();
  r.outcome = r.after == r.before                  ? Outcome::Old
              : intended && r.after == *intended   ? Outcome::New
              : !intended && r.after != r.before   ? Outcome::New
                                                   : Outcome::Mixed;
  return r;
}

bool CaptionMatches(const std::string& expected, const std::string& seen) {
  const auto star = expected.find('*');
  if (star == std::string::npos) return seen == expected;
  return seen.compare(0, star, expected, 0, star) == 0 &&
         seen.size() >= expected.size() - star - 1 &&
         seen.compare(seen.size() - (expected.size() - star - 1), std::string::npos, expected,
                      star + 1) == 0;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& t : texts) all += (all.empty() ? "" : " | ") + t;
  return all.empty() ? "-" : all;
}

// The table. Rows of a family start with its clean run, which also gives
// the parameters every other row of the family may end with.
std::vector<Cell> DriveCells() {
  std::vector<Cell> cells = {
      {Logger::Drive, Fault::None, 0, {}, "Configure/on", Outcome::New},
      {Logger::Drive, Fault::Unplug, AtReadBack, {kGoneMidConfig}, "Configure/on", Outcome::Old},
      {Logger::Drive, Fault::Unplug, AtConfirm, {kGoneMidConfig}, "Configure/on", Outcome::Old},
      {Logger::Drive, Fault::Unplug, AfterConfirm, {}, "Configure/on", Outcome::Old},
      {Logger::Drive, Fault::ReadBackDiffers, AtReadBack, {kConnectedWell}, "Failed /off", Outcome::Old},
      {Logger::Drive, Fault::ReadOnly, AtWrite, {kConnectedWell}, "Failed /off", Outcome::Old},
      {Logger::Drive, Fault::ReadOnly, AtConfirm, {kConnectedWell}, "Failed /off", Outcome::Old},
      {Logger::Drive, Fault::VolumeFull, AtWrite, {kConnectedWell}, "Failed /off", Outcome::Old},
      {Logger::Drive, Fault::VolumeFull, AtConfirm, {kConnectedWell}, "Failed /off", Outcome::Old},
      {Logger::OldDrive, Fault::None, 0, {}, "Configure/on", Outcome::New},
      {Logger::OldDrive, Fault::ReadOnly, 0, {kUpgradeRedo}, "升级失败!/off", Outcome::Old},
      {Logger::OldDrive, Fault::NeverBack, 0, {}, "正在更新固件/off", Outcome::New},
  };
  for (uint32_t block : {0u, kStm32Blocks / 2, kStm32Blocks - 1}) {
    cells.push_back({Logger::OldDrive, Fault::Unplug, block, {kGoneMidConfig, kUpgradeRedo},
                     "升级失败!/off", Outcome::Old});
    cells.push_back({Logger::OldDrive, Fault::VolumeFull, block, {kUpgradeRedo}, "升级失败!/off",
                     Outcome::Old});
  }
  return cells;
}

std::vector<Cell> HidCells(uint32_t chunks) {
  std::vector<Cell> cells = {{Logger::Hid, Fault::None, 0, {}, "Configuring.../off", Outcome::New}};
  // The last chunk is TransferEnd, which awaits no answer, so what befalls
  // it goes unseen by the tool: pulled out or refused there, the logger keeps
  // its old parameters without a word; an answer lost there is no loss.
  for (uint32_t k = 1; k <= chunks; ++k) {
    const bool last = k == chunks;
    cells.push_back({Logger::Hid, Fault::Unplug, k, last ? std::vector<std::string>{}
                                                        : std::vector<std::string>{kHidFailed},
                     "Configure/on", Outcome::Old});
    cells.push_back({Logger::Hid, Fault::Silence, k,
                     last ? std::vector<std::string>{} : std::vector<std::string>{kHidFailed},
                     last ? "Configuring.../off" : "Configure/on", last ? Outcome::New : Outcome::Old});
    cells.push_back({Logger::Hid, Fault::WrongAnswer, k,
                     last ? std::vector<std::string>{} : std::vector<std::string>{"Command Error!"},
                     last ? "Configuring.../off" : "Configure/on", Outcome::Old});
  }
  cells.push_back({Logger::OldHid, Fault::None, 0, {}, "Configuring.../off", Outcome::New});
  cells.push_back({Logger::OldHid, Fault::NeverBack, 0, {}, "正在更新固件/off", Outcome::New});
  for (uint32_t frame : {1u, kKl26Frames / 2, kKl26Frames}) {
    cells.push_back({Logger::OldHid, Fault::Unplug, frame, {kUpgradeGone}, "Configure/on", Outcome::Old});
    cells.push_back({Logger::OldHid, Fault::Silence, frame, {}, "Configuring.../off", Outcome::New});
    cells.push_back({Logger::OldHid, Fault::WrongAnswer, frame, {"Upgrade was Rejected"},
                     frame == 1 ? "Configure/off" : "升级中(*%)/off", Outcome::Old});
  }
  cells.push_back({Logger::OldHid, Fault::SilentForGood, kKl26Frames / 2, {kUpgradeGone},
                   "升级中(*%)/off", Outcome::Old});
  return cells;
}

TEST(FaultMatrix, EveryCellEndsAtRestWithOldOrNewParametersWhole) {
  std::ostringstream table;
  table << "logger    | fault             | step          | passes | caption            | outcome | "
           "messages | result\n";
  int failed = 0, cells = 0;
  std::vector<std::vector<uint8_t>> intended(4);
  uint32_t chunks = 0;

  auto walk = [&](const std::vector<Cell>& rows) {
    for (const Cell& cell : rows) {
      std::vector<uint8_t>& family = intended[static_cast<int>(cell.logger)];
      const Result r = RunCell(cell, family.empty() ? nullptr : &family);
      if (cell.fault == Fault::None) {
        family = r.after;
        if (cell.logger == Logger::Hid) chunks = r.reports;
      }
      std::vector<std::string> wrong;
      if (!r.settled) wrong.push_back("no rest within " + std::to_string(r.passes) + " passes");
      if (!CaptionMatches(cell.caption, r.caption)) wrong.push_back("caption, wanted " + cell.caption);
      if (r.messages != cell.messages) wrong.push_back("messages, wanted " + Joined(cell.messages));
      if (r.outcome != cell.outcome) wrong.push_back(std::string("outcome, wanted ") + Name(cell.outcome));
      if (!r.recovered) wrong.push_back("not read again after a replug");
      const std::string typed = "Cold Room 2";
      if (cell.fault == Fault::None &&
          std::search(r.after.begin(), r.after.end(), typed.begin(), typed.end()) == r.after.end())
        wrong.push_back("the clean run did not take the settings");
      ++cells;
      failed += wrong.empty() ? 0 : 1;
      char line[160];
      std::snprintf(line, sizeof line, "%-9s | %-17s | %-13s | %6d | ", Name(cell.logger),
                    Name(cell.fault), StepName(cell).c_str(), r.passes);
      table << line << r.caption << " | " << Name(r.outcome) << " | " << Joined(r.messages)
            << " | " << (wrong.empty() ? "ok" : "FAIL: " + Joined(wrong)) << "\n";
      EXPECT_TRUE(wrong.empty()) << Name(cell.logger) << " / " << Name(cell.fault) << " / "
                                 << StepName(cell) << ": " << Joined(wrong);
    }
  };
  const auto start = std::chrono::steady_clock::now();
  walk(DriveCells());
  // The HID rows need the length of a layout B transfer, which the clean
  // run measures.
  walk({HidCells(0).front()});
  ASSERT_GT(chunks, 2u);
  std::vector<Cell> hidRows = HidCells(chunks);
  hidRows.erase(hidRows.begin());
  walk(hidRows);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);

  table << cells << " cells, " << cells - failed << " ok, " << failed << " failed, "
        << seconds.count() << " s\n";
  std::filesystem::create_directories(THLOGGER_ARTIFACTS_DIR);
  std::ofstream(std::string(THLOGGER_ARTIFACTS_DIR) + "/fault_matrix.txt") << table.str();
  std::printf("%s", table.str().c_str());
  EXPECT_EQ(failed, 0);
}

}  // namespace
