#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ports.h"
#include "core/state.h"
#include "sim/logger_parameters.h"

// An HID-family logger as the tool sees it over its 64-byte reports: it hands
// out its image on ReadImage, answers every configuration record with a
// Status, and applies the records of a transfer once the transfer has ended
// with the end record and TransferEnd. It takes a firmware image in
// UpgradeData frames, answers the final frame with the image's checksum, and
// after UpgradeEnd asks to go away and come back at the new version.
// Pure logic, with no clock and no lock: the transport (MemoryHidPort) delays
// the answers, serialises the calls and carries out the re-enumeration.
class VirtualHidLogger {
 public:
  // Report commands.
  static constexpr uint8_t kStatus = 0x90;
  static constexpr uint8_t kReadImage = 0x91;
  static constexpr uint8_t kUpgradeData = 0x93;
  static constexpr uint8_t kTransferEnd = 0x94;
  static constexpr uint8_t kUpgradeEnd = 0x7F;
  static constexpr std::size_t kMaxPiece = kHidReportSize - 6;

  // Faults a test or a demo can switch on at any time.
  struct Faults {
    bool silent = false;                        // takes nothing in, answers nothing
    std::optional<uint8_t> answerCommand;       // every answer carries this command byte
    std::optional<uint8_t> answerLength;        // every answer carries this length byte
    uint8_t statusCode = 0;                     // 1..5: the Status code given; 0: the logger's own
    std::optional<uint8_t> statusOnlyFor;       // ... to this record's command only
    uint32_t unplugAtReport = 0;                // pulled out as report N since plug-in arrives; once
    uint32_t unansweredReports = 0;             // the next N answers are lost (reports taken)
    uint32_t unansweredFromReport = 0;          // ... beginning with report N since plug-in (0: at once)
    uint32_t errorAtReport = 0;                 // report N since plug-in is refused with a Status 3; once
    bool rejectUpgrade = false;                 // upgrade frames are answered with a Status
    bool wrongChecksum = false;                 // the final frame's checksum is one off
    bool oldVersionAfterUpgrade = false;        // takes an upgrade, comes back at its old version
    bool goneAfterUpgrade = false;              // takes an upgrade and stays away until plugged in
  };

  enum class Outcome { None, Applied, Refused };

  struct Record {
    uint8_t command = 0;
    std::vector<uint8_t> data;
    bool operator==(const Record&) const = default;
  };

  // `logPath`, when not empty, gets one line per completed transfer:
  // "applied" or "refused", then the received records in hex, re-framed as
  // the tool's block held them (0x55, length, address, command, data, sum),
  // TransferEnd included.
  explicit VirtualHidLogger(std::string logPath = {});

  // One request report in; the answer, if the logger gives one.
  std::optional<HidReport> handle(const HidReport& request);

  // Plug and unplug through MemoryHidPort, so waiting readers hear of it.
  void plugIn();
  void unplug();
  bool plugged() const { return plugged_; }

  // Takes `bytes` as the image, as they are (cut to what the tool can hold),
  // so a broken image reaches the tool broken. True when it is an HID-family
  // logger's; any other image is handed out all the same, but no transfer
  // changes one shorter than a whole image.
  bool adoptImage(std::vector<uint8_t> bytes);

  // True once after the logger has asked to re-enumerate (an upgrade taken):
  // the transport unplugs it and plugs it in again after `reenumerateAbsence`.
  bool takeReenumeration() { return std::exchange(reenumerate_, false); }

  Faults faults;
  std::chrono::milliseconds latency{1};  // applied by the transport; a full-speed interrupt endpoint
  std::size_t pieceSize = kMaxPiece;     // image bytes per ReadImage answer, 0..58
  // Called after every completed transfer, applied or refused.
  std::function<void(Outcome)> onTransfer;
  std::chrono::milliseconds reenumerateAbsence{80};  // away this long after an upgrade
  // Called when an upgrade has been taken, before the logger goes away.
  std::function<void()> onUpgrade;

  const std::vector<uint8_t>& image() const { return image_; }
  std::vector<uint8_t>& image() { return image_; }
  void setText(int offset, int size, const std::string& bytes);
  void setU8(int offset, uint8_t v);
  void setU16(int offset, uint16_t v);
  void setU32(int offset, uint32_t v);

  uint32_t reportsReceived() const { return reportsReceived_; }  // since plug-in
  int receivedTransfers() const { return receivedTransfers_; }
  Outcome lastOutcome() const { return lastOutcome_; }
  const std::vector<Record>& lastRecords() const { return lastRecords_; }
  const std::vector<uint8_t>& lastBlock() const { return lastBlock_; }  // as logged
  const LoggerClock& lastClock() const { return lastClock_; }

  // Upgrade frames since construction, repeats included.
  uint32_t upgradeDataFrames() const { return upgradeDataFrames_; }
  uint32_t upgradeFinalFrames() const { return upgradeFinalFrames_; }
  uint32_t upgradeEnds() const { return upgradeEnds_; }
  int upgrades() const { return upgrades_; }  // images taken
  // The image of the last upgrade taken.
  const std::vector<uint8_t>& firmwareReceived() const { return firmwareReceived_; }

 private:
  HidReport answer(uint8_t command, const uint8_t* payload, std::size_t n, uint32_t offset) const;
  HidReport readImage(uint32_t offset) const;
  HidReport takeRecordChunk(uint8_t command, uint32_t offset, const uint8_t* payload,
                            std::size_t n);
  HidReport takeUpgradeFrame(uint32_t offset, const uint8_t* payload, std::size_t n);
  void endUpgrade();
  uint8_t statusFor(uint8_t command, uint8_t own) const;
  std::vector<ReceivedRecord> settingRecords() const;
  void finishTransfer();
  void dropTransfer();

  std::string logPath_;
  std::vector<uint8_t> image_;
  bool plugged_ = true;
  uint32_t reportsReceived_ = 0;

  // The transfer being received.
  std::vector<Record> pending_;
  bool pendingBroken_ = false;  // a chunk out of place, or a record answered with an error
  bool pendingEnded_ = false;   // the end record has arrived
  bool pendingValid_ = false;   // judged at the end record

  int receivedTransfers_ = 0;
  Outcome lastOutcome_ = Outcome::None;
  std::vector<Record> lastRecords_;
  std::vector<uint8_t> lastBlock_;
  LoggerClock lastClock_;

  // The upgrade being received; its length is known at the final frame.
  std::vector<uint8_t> upgradeImage_;
  bool upgradeComplete_ = false;  // the final frame has been answered
  bool reenumerate_ = false;
  uint32_t upgradeDataFrames_ = 0;
  uint32_t upgradeFinalFrames_ = 0;
  uint32_t upgradeEnds_ = 0;
  int upgrades_ = 0;
  std::vector<uint8_t> firmwareReceived_;
};
