#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "core/ports.h"
#include "core/wakeup.h"

// Every record the tool keeps for the whole run lives in one ToolState. The
// window creates it; every operation receives it; a test makes a fresh one.
// Fields shared with the HID receive thread are atomics; everything else is
// touched on the user-interface thread only.

// ---- Poll pass --------------------------------------------------------------

namespace upgrade {
inline constexpr uint8_t Idle = 0;
inline constexpr uint8_t DriveWriting = 1;
inline constexpr uint8_t HidSending = 2;
inline constexpr uint8_t DriveDone = 0x1F;
inline constexpr uint8_t HidDone = 0x2F;
}  // namespace upgrade

enum DriveState : int32_t { Scan = 0, Found = 1, Lost = 2 };

enum TransferState : uint8_t {
  TransferIdle = 0,
  TransferWrite = 1,
  TransferVerify = 2,
  TransferConfirm = 3,
};

// Bits of PollState::changeFlags: work the form's handlers leave for the next pass.
namespace flag {
inline constexpr uint32_t TimeZoneChanged = 0x001;
inline constexpr uint32_t DateDisplayStale = 0x002;
inline constexpr uint32_t ChannelChanged = 0x004;
inline constexpr uint32_t TempUnitChanged = 0x008;
inline constexpr uint32_t HighTempAlarmEdited = 0x010;
inline constexpr uint32_t LowTempAlarmEdited = 0x020;
inline constexpr uint32_t PdfLanguageChanged = 0x080;
inline constexpr uint32_t SetupLockToggled = 0x100;
inline constexpr uint32_t ConfigureRequested = 0x200;
inline constexpr uint32_t IntervalChanged = 0x400;
}  // namespace flag

struct PollState {
  bool firstPassDone = false;
  std::atomic<uint8_t> upgradeState{upgrade::Idle};
  int32_t driveState = Scan;
  uint8_t driveCount = 0;
  std::string currentDrivePath;   // block device of the current logger disk
  std::string currentDriveRoot;   // mount point of its volume; empty when none
  uint32_t changeFlags = 0;
  uint8_t transferState = TransferIdle;
  uint8_t transferAttempts = 0;  // write/read-back rounds of the current block
  // Block device of the unmounted logger volume the user has been told about;
  // cleared once no unmounted logger volume is seen, so a replug is told again.
  std::string unmountedReported;
};

// ---- Logger data ------------------------------------------------------------

inline constexpr uint32_t kImageCapacity = 0x40000;

struct LoggerImage {
  std::array<uint8_t, kImageCapacity> bytes{};
  uint32_t length = 0;
};

inline constexpr uint16_t ToolLevel = 821;

struct DeviceInfo {
  uint8_t fwVersionHigh = 0;
  uint8_t fwVersionLow = 0;
  uint16_t fwVersion = 0;
  uint8_t productIdHigh = 0;
  uint8_t productIdLow = 0;
  uint8_t capabilityFlags = 0;
  uint8_t deviceFlags = 0;
  uint8_t sensorKind = 0;
  uint8_t tempSampleBits = 0;
  uint32_t recordMemoryBytes = 0;
  int16_t sensorTempMax = 0;   // 0.1 degC
  int16_t sensorTempMin = 0;   // 0.1 degC
  uint16_t requiredToolLevel = 0;
  uint32_t recordCapacity = 0;
};

inline constexpr uint16_t kBlockCapacity = 2048;

struct ConfigBlock {
  std::array<uint8_t, kBlockCapacity> bytes{};
  uint16_t length = 0;  // 0: nothing waiting for delivery
};

struct LoggerSettings {
  double tempAlarmLowF = 0;
  double tempAlarmHighF = 0;
  double tempAlarmLowC = 0;
  double tempAlarmHighC = 0;
  uint8_t tempUnit = 0;
  uint8_t pdfLanguage = 0;
  uint8_t channels = 0;
  uint8_t dateFormat = 0;
  int8_t tzHours = 0;
  int8_t tzMinutes = 0;
  uint8_t startYear = 0;
  uint8_t startMonth = 0;
  uint8_t startDay = 0;
  uint8_t startHour = 0;
  uint8_t startMinute = 0;
  uint8_t startOnTime = 0;
  uint8_t alarmEnabled = 0;
  uint8_t outputCsv = 0;
  std::array<uint8_t, 20> deviceName{};
  std::array<uint8_t, 20> deviceId{};
  std::array<uint8_t, 50> website{};
  std::array<uint8_t, 100> userInfo{};
  std::array<uint8_t, 20> trademark{};
  std::array<uint8_t, 8> pdfPassword{};
  double humidityAlarmHigh = 0;
  double humidityAlarmLow = 0;
  uint16_t alarmLedFlashSeconds = 0;
  uint16_t recordLedFlashSeconds = 0;
  int32_t powerSaveTimeout = 0;
  int32_t startDelayMinutes = 0;
  int32_t intervalSeconds = 0;
  std::array<uint32_t, 4> reservedWords{};
};

// ---- Clock ------------------------------------------------------------------

struct LoggerClock {
  uint8_t year = 0;  // year - 2000, modulo 256
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
};

struct ClockState {
  int32_t pcOffsetMinutes = 0;
  int32_t zoneOffsetMinutes = 0;
  LoggerClock loggerClock;
};

struct ClockDisplayMemo {
  uint8_t shownYear = 0xFF;
  uint8_t shownMonth = 0xFF;
  uint8_t shownDay = 0xFF;
  uint8_t shownSecond = 0xFF;
  int32_t shownFormat = 0xFF;
  bool zoneErrorReported = false;  // a zone text that never parses is reported once
  int32_t reportedZoneSelection = 0xFF;  // time-zone selection that zoneErrorReported is about
};

struct AlarmEditState {
  bool suppressLowTempEdit = false;
  bool suppressHighTempEdit = false;
};

// ---- USB links --------------------------------------------------------------

inline constexpr int kPathTableSize = 27;
inline constexpr int32_t RxIdle = -1;
inline constexpr int32_t RxPending = -2;

// The write channel as the two threads hand it over. The receive thread puts
// a channel in and takes it out; a writer takes its own reference for the
// length of a write, so a channel is closed only once nobody writes through
// it, and a write never reaches a closed or reused descriptor. The lock is
// held for a pointer copy only, never across I/O.
class WriteChannelSlot {
 public:
  std::shared_ptr<HidChannel> get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return channel_;
  }
  void set(std::shared_ptr<HidChannel> channel) {
    const bool open = channel != nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      channel_.swap(channel);
    }
    open_.store(open, std::memory_order_release);
    // `channel` now holds the one taken out; it closes here unless a writer
    // still holds it.
  }
  // The writeHandle test: whether a channel is in the slot.
  bool open() const { return open_.load(std::memory_order_acquire); }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<HidChannel> channel_;
  std::atomic<bool> open_{false};
};

struct HidLink {
  std::array<std::string, kPathTableSize> devicePaths;  // receive thread only
  std::atomic<uint8_t> deviceCount{0};
  std::string devicePath;                               // receive thread only
  std::shared_ptr<HidChannel> readChannel;              // receive thread only
  WriteChannelSlot writeChannel;
  HidReport inputReport{};   // owned as rxState says
  HidReport outputReport{};
  std::atomic<int32_t> rxState{RxIdle};
  std::atomic<int32_t> linkEvent{0};  // 0 none, 1 arrived, 2 removed
  // How long the poll pass waits for a logger's answer. Set before the
  // receive thread starts and constant after; tests that wait out many
  // silent loggers shorten it.
  std::chrono::milliseconds answerLimit{3000};
  // Notified after every store to rxState, linkEvent and writeChannel, so a
  // thread waiting for one of them wakes at once instead of at its next poll.
  Wakeup changed;

  void storeRxState(int32_t value) {
    rxState.store(value, std::memory_order_release);
    changed.notify();
  }
  void storeLinkEvent(int32_t value) {
    linkEvent.store(value, std::memory_order_release);
    changed.notify();
  }
  void setWriteChannel(std::shared_ptr<HidChannel> channel) {
    writeChannel.set(std::move(channel));
    changed.notify();
  }
};

// Logger volumes found by the last drive discovery, entry 0 first. On Linux a
// volume is named by its mount point and its disk by the block device path.
struct DriveTables {
  std::array<std::string, kPathTableSize> loggerDiskPaths;
  std::array<std::string, kPathTableSize> loggerDriveRoots;
};

struct UpgradeJob {
  std::atomic<const uint8_t*> image{nullptr};
  std::atomic<uint32_t> length{0};
  std::atomic<uint32_t> sent{0};
  std::atomic<uint32_t> checksum{0};
  int file = -1;  // "APP.BIN" while the drive route writes it; user-interface thread only
  // Held while an upgrade frame is built in outputReport and written, and
  // while the receive thread reads what was sent, so the first frame (from
  // the user-interface thread) and every later one (from the receive thread)
  // never overlap on the write channel.
  std::mutex frameMutex;
};

// ---- The state object -------------------------------------------------------

struct Ports {
  FormPort* form = nullptr;
  MessagePort* messages = nullptr;
  ClockPort* clock = nullptr;
  DrivePort* drives = nullptr;  // none: no drive loggers are looked for
  HidPort* hid = nullptr;       // none: no HID loggers are looked for
  VolumeMounter* mounter = nullptr;  // none: the user is told how to mount
};

struct ToolState {
  PollState poll;
  LoggerImage image;
  DeviceInfo device;
  ConfigBlock block;
  // The last block built, kept after its delivery drops `block`: the
  // commands without a window compare a logger with it and record it.
  ConfigBlock sentBlock;
  LoggerSettings settings;
  ClockState clock;
  ClockDisplayMemo clockMemo;
  AlarmEditState alarmEdit;
  HidLink hid;
  DriveTables drives;
  UpgradeJob upgradeJob;
  // Only virtual loggers are behind the ports (a demo, a test). A build that
  // carries stand-in firmware images sends them to these loggers only.
  bool virtualLoggersOnly = false;
  bool standInRefusalShown = false;

  Ports ports;

  FormPort& form() const { return *ports.form; }
  MessagePort& messages() const { return *ports.messages; }
  ClockPort& pcClock() const { return *ports.clock; }
};
