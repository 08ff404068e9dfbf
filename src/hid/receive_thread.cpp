#include "hid/receive_thread.h"

#include <mutex>

#include "hid/hid_discovery.h"
#include "hid/hid_transactions.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t LinkArrived = 1;
constexpr int32_t LinkRemoved = 2;

uint32_t LittleEndian32(const HidReport& report, std::size_t at) {
  return static_cast<uint32_t>(report[at]) | static_cast<uint32_t>(report[at + 1]) << 8 |
         static_cast<uint32_t>(report[at + 2]) << 16 | static_cast<uint32_t>(report[at + 3]) << 24;
}

}  // namespace

HidReceiveThread::HidReceiveThread(ToolState& state, HidPort& port)
    : state_(state), port_(port) {}

HidReceiveThread::~HidReceiveThread() { stop(); }

void HidReceiveThread::start() {
  if (thread_.joinable()) return;
  readOutstanding_ = false;
  sendNext_ = false;
  unansweredResends_ = 0;
  thread_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

void HidReceiveThread::stop() {
  if (!thread_.joinable()) return;
  thread_.request_stop();
  thread_.join();
}

std::string HidReceiveThread::NoPermissionMessage(const std::string& path) {
  return "The logger at " + path +
         " cannot be opened: this user may not use it.\n\n"
         "Install the thlogger-config package, or the udev rule 70-thlogger-config.rules "
         "that comes with this tool (sudo cmake --install build, in its source folder), "
         "then unplug the logger and plug it in again.";
}

void HidReceiveThread::run(std::stop_token stop) {
  // Every wait of this thread is a wait on the link's wakeup: a stop request
  // cuts it short.
  std::stop_callback wake(stop, [this] { state_.hid.changed.notify(); });
  while (!stop.stop_requested()) pass(stop);
  state_.hid.readChannel.reset();
  state_.hid.setWriteChannel(nullptr);
}

void HidReceiveThread::pass(const std::stop_token& stop) {
  HidLink& hid = state_.hid;
  const uint32_t token = hid.changed.token();
  // An event waits for the poll pass, which wakes us when it takes it.
  if (hid.linkEvent.load(std::memory_order_acquire) != 0) {
    hid.changed.wait(token, kStopSlice);
    return;
  }
  if (!hid.readChannel) {
    search(stop);
    return;
  }
  // A report is held for a consumer, who wakes us when it lets go.
  if (hid.rxState.load(std::memory_order_acquire) >= 0) {
    hid.changed.wait(token, kStopSlice);
    return;
  }
  awaitInput();
}

void HidReceiveThread::search(const std::stop_token& stop) {
  HidLink& hid = state_.hid;
  const Clock::time_point due = Clock::now() + kSearchPeriod;
  for (;;) {
    const uint32_t token = hid.changed.token();
    if (stop.stop_requested()) return;
    const Clock::time_point now = Clock::now();
    if (now >= due) break;
    hid.changed.wait(token, due - now);
  }

  const int32_t count = EnumerateHidDevices(hid, port_);
  hid.deviceCount.store(static_cast<uint8_t>(count), std::memory_order_release);
  if (count == 0) {
    permissionReported_.clear();  // a logger plugged in later is reported afresh
    return;
  }
  hid.devicePath = hid.devicePaths[0];
  HidOpen readResult = HidOpen::Failed;
  HidOpen writeResult = HidOpen::Failed;
  std::shared_ptr<HidChannel> reader = port_.open(hid.devicePath, HidAccess::Read, readResult);
  std::shared_ptr<HidChannel> writer =
      reader ? port_.open(hid.devicePath, HidAccess::Write, writeResult) : nullptr;
  if (reader && writer) {
    hid.readChannel = std::move(reader);
    readOutstanding_ = false;
    sendNext_ = false;
    hid.storeRxState(RxIdle);
    hid.setWriteChannel(std::move(writer));
    // Channels and path are in place before the event is seen (release).
    hid.storeLinkEvent(LinkArrived);
    permissionReported_.clear();
    return;
  }
  // Whichever channel opened closes here; the next search tries again. A
  // logger the user may not open is said once, not silently retried.
  if ((readResult == HidOpen::NoPermission || writeResult == HidOpen::NoPermission) &&
      permissionReported_ != hid.devicePath) {
    permissionReported_ = hid.devicePath;
    state_.messages().show(NoPermissionMessage(hid.devicePath));
  }
}

void HidReceiveThread::awaitInput() {
  HidLink& hid = state_.hid;
  if (!readOutstanding_) {
    readOutstanding_ = true;
    silentSince_ = Clock::now();
    hid.storeRxState(RxPending);
  }
  // The next frame goes out only now that a read is outstanding, so its
  // answer cannot be missed.
  if (sendNext_) {
    if (upgradeHook_) upgradeHook_(false);
    sendNext_ = false;
    unansweredResends_ = 0;
  }

  // The silence limit is waited out in slices, so a stop request is noticed.
  switch (hid.readChannel->read(hid.inputReport, static_cast<int>(kStopSlice.count()))) {
    case HidRead::Report:
      break;
    case HidRead::TimedOut:
      if (Clock::now() - silentSince_ >= kSilenceLimit) removalTest();
      return;
    case HidRead::Short:
      readOutstanding_ = false;
      removalTest();
      return;
    case HidRead::Gone:
      removed();
      return;
    case HidRead::Failed:
      state_.messages().show("HID接收错误!");
      return;
  }

  readOutstanding_ = false;
  const uint8_t length = hid.inputReport[2];
  if (length < 6 || length > kHidReportSize) {
    // Dropped; rxState stays RxPending and the next pass reads again.
    state_.messages().show("HID接收到非法帧!");
    return;
  }
  hid.storeRxState(length - 6);
  if (state_.poll.upgradeState.load(std::memory_order_acquire) == upgrade::HidSending)
    judgeUpgradeAnswer();
}

void HidReceiveThread::judgeUpgradeAnswer() {
  HidLink& hid = state_.hid;
  UpgradeJob& job = state_.upgradeJob;
  hid.storeRxState(RxIdle);
  uint8_t sentCommand = 0;
  uint8_t sentLength = 0;
  {
    // The first frame was built on the user-interface thread.
    std::lock_guard<std::mutex> lock(job.frameMutex);
    sentCommand = hid.outputReport[1];
    sentLength = hid.outputReport[2];
  }
  if (sentCommand == kUpgradeDataCommand) {
    if (hid.inputReport[1] != kUpgradeDataCommand) {
      job.length.store(0, std::memory_order_release);
      job.sent.store(0, std::memory_order_release);
      state_.poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
      sendNext_ = false;
      state_.messages().show("Upgrade was Rejected");
      return;
    }
    if (sentLength == 6 &&
        LittleEndian32(hid.inputReport, 6) != job.checksum.load(std::memory_order_acquire)) {
      job.length.store(0, std::memory_order_release);
      job.sent.store(0, std::memory_order_release);
      state_.messages().show("Failed to upgrade: Checksum Error!");
    }
  }
  sendNext_ = true;
}

void HidReceiveThread::removalTest() {
  HidLink& hid = state_.hid;
  if (!port_.present(hid.devicePath)) {
    removed();
    return;
  }
  // Still there: an unanswered upgrade frame is sent again, a few times.
  if (state_.poll.upgradeState.load(std::memory_order_acquire) == upgrade::HidSending &&
      upgradeHook_) {
    if (++unansweredResends_ > kUpgradeResendLimit)
      abandonUpgrade();
    else
      upgradeHook_(true);
  }
  silentSince_ = Clock::now();
}

// Without an end the tool would resend every second for as long as the
// logger stays plugged in, showing a percentage that never moves. Said as
// for a logger pulled out mid-upgrade.
void HidReceiveThread::abandonUpgrade() {
  UpgradeJob& job = state_.upgradeJob;
  job.length.store(0, std::memory_order_release);
  job.sent.store(0, std::memory_order_release);
  state_.poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
  sendNext_ = false;
  unansweredResends_ = 0;
  state_.messages().show("Upgrade failed,Make sure the device is connected well");
}

void HidReceiveThread::removed() {
  HidLink& hid = state_.hid;
  hid.readChannel.reset();
  hid.setWriteChannel(nullptr);
  hid.devicePath.clear();
  readOutstanding_ = false;
  unansweredResends_ = 0;
  hid.storeLinkEvent(LinkRemoved);
}
