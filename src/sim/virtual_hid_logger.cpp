#include "sim/virtual_hid_logger.h"

#include <algorithm>

#include "formats/config_block.h"
#include "formats/image_layout.h"
#include "formats/record_layout.h"
#include "upgrade/firmware_images.h"

namespace {

constexpr uint8_t kReportId = 0x01;
constexpr std::size_t kHeaderBytes = 6;  // report id, command, length, 24-bit offset
constexpr std::size_t kMaxRecordData = 250;
constexpr uint8_t kStatusFine = 0;
constexpr uint8_t kStatusFailed = 1;  // to the end record: the configuration failed
constexpr uint8_t kFirstErrorCode = 2;
constexpr std::size_t kFlashBytes = 128 * 1024;  // what an image may fill

// The sum of the image's little-endian 32-bit words, as the final frame
// answers it; both images the tool carries are whole words.
uint32_t WordSum(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 0;
  for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4)
    sum += static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
  return sum;
}

bool HidFamily(const std::vector<uint8_t>& image) {
  return image.size() >= img::MinDriveImageLength && image.size() <= kImageCapacity &&
         LayoutFor(image[img::FwVersionHigh]) == RecordLayout::B &&
         image[img::ProductIdLow] == img::LoggerProductIdLow;
}

}  // namespace

VirtualHidLogger::VirtualHidLogger(std::string logPath)
    : logPath_(std::move(logPath)),
      // A current logger: the tool carries no newer firmware for it.
      image_(DefaultLoggerImage(static_cast<uint8_t>(kAppImageKl26Version >> 8),
                                static_cast<uint8_t>(kAppImageKl26Version))) {
  // The HID family has the option byte and its own name, so the demo tells them apart.
  setU8(img::OptionBits, img::OptionAlarm);
  // A model the tool may upgrade, so an older version of it qualifies.
  setU8(img::CapabilityFlags, static_cast<uint8_t>(image_[img::CapabilityFlags] |
                                                   img::CapUpgradeA | img::CapUpgradeB));
  setU8(img::ProductIdHigh, 0);
  setText(img::DeviceName, img::DeviceNameSize, "Virtual HID Logger");
  setText(img::DeviceId, img::DeviceIdSize, "VH000001");
}

void VirtualHidLogger::setText(int offset, int size, const std::string& bytes) {
  PutText(image_, offset, size, bytes);
}
void VirtualHidLogger::setU8(int offset, uint8_t v) { PutU8(image_, offset, v); }
void VirtualHidLogger::setU16(int offset, uint16_t v) { PutU16(image_, offset, v); }
void VirtualHidLogger::setU32(int offset, uint32_t v) { PutU32(image_, offset, v); }

bool VirtualHidLogger::adoptImage(std::vector<uint8_t> bytes) {
  if (bytes.size() > kImageCapacity) bytes.resize(kImageCapacity);
  image_ = std::move(bytes);
  return HidFamily(image_);
}

void VirtualHidLogger::plugIn() {
  plugged_ = true;
  reportsReceived_ = 0;
  reenumerate_ = false;
  dropTransfer();
}

void VirtualHidLogger::unplug() {
  plugged_ = false;
  dropTransfer();  // a transfer cut off by removal never completes
  upgradeImage_.clear();  // nor does an upgrade: it starts over
  upgradeComplete_ = false;
}

std::optional<HidReport> VirtualHidLogger::handle(const HidReport& request) {
  if (!plugged_) return std::nullopt;
  ++reportsReceived_;
  if (faults.unplugAtReport != 0 && reportsReceived_ >= faults.unplugAtReport) {
    faults.unplugAtReport = 0;
    unplug();
    return std::nullopt;
  }
  if (faults.silent) return std::nullopt;

  const uint8_t command = request[1];
  const uint8_t length = request[2];
  if (length < kHeaderBytes || length > kHidReportSize) return std::nullopt;  // not understood
  const uint32_t offset = static_cast<uint32_t>(request[3]) |
                          static_cast<uint32_t>(request[4]) << 8 |
                          static_cast<uint32_t>(request[5]) << 16;
  const uint8_t* payload = request.data() + kHeaderBytes;
  const std::size_t n = length - kHeaderBytes;

  if (faults.errorAtReport != 0 && reportsReceived_ == faults.errorAtReport) {
    faults.errorAtReport = 0;
    // Refused without being taken in: an upgrade frame stays missing, and a
    // transfer with a refused record is never applied.
    if (command != kReadImage && command != kUpgradeData && command != kUpgradeEnd)
      pendingBroken_ = true;
    const uint8_t refused[1] = {kFirstErrorCode + 1};
    return answer(kStatus, refused, 1, offset);
  }

  HidReport out;
  switch (command) {
    case kReadImage:
      out = readImage(offset);
      break;
    case kUpgradeData:
      out = takeUpgradeFrame(offset, payload, n);
      break;
    case kUpgradeEnd:
      endUpgrade();
      return std::nullopt;
    case kTransferEnd:
      finishTransfer();
      return std::nullopt;  // the tool awaits no answer here
    default:
      out = takeRecordChunk(command, offset, payload, n);
      break;
  }
  if (faults.unansweredReports > 0 && reportsReceived_ >= faults.unansweredFromReport) {
    --faults.unansweredReports;
    return std::nullopt;  // taken in, but the answer is lost
  }
  if (faults.answerCommand) out[1] = *faults.answerCommand;
  if (faults.answerLength) out[2] = *faults.answerLength;
  return out;
}

HidReport VirtualHidLogger::answer(uint8_t command, const uint8_t* payload, std::size_t n,
                                   uint32_t offset) const {
  HidReport out{};
  out[0] = kReportId;
  out[1] = command;
  out[2] = static_cast<uint8_t>(kHeaderBytes + n);
  out[3] = static_cast<uint8_t>(offset);
  out[4] = static_cast<uint8_t>(offset >> 8);
  out[5] = static_cast<uint8_t>(offset >> 16);
  if (n > 0) std::copy_n(payload, n, out.begin() + kHeaderBytes);
  return out;
}

HidReport VirtualHidLogger::readImage(uint32_t offset) const {
  std::size_t n = 0;
  if (offset < image_.size())
    n = std::min({pieceSize, kMaxPiece, image_.size() - offset});
  return answer(kReadImage, image_.data() + std::min<std::size_t>(offset, image_.size()), n,
                offset);
}

HidReport VirtualHidLogger::takeUpgradeFrame(uint32_t offset, const uint8_t* payload,
                                            std::size_t n) {
  if (faults.rejectUpgrade || offset + n > kFlashBytes) {
    const uint8_t failed[1] = {kStatusFailed};
    return answer(kStatus, failed, 1, offset);
  }
  if (n == 0) {
    // The final frame: its offset is the image's length. Asked again, it is
    // answered again with the same sum.
    ++upgradeFinalFrames_;
    upgradeImage_.resize(offset);  // a missing piece stays zero and spoils the sum
    upgradeComplete_ = true;
    uint32_t sum = WordSum(upgradeImage_);
    if (faults.wrongChecksum) ++sum;
    const uint8_t le[4] = {static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8),
                           static_cast<uint8_t>(sum >> 16), static_cast<uint8_t>(sum >> 24)};
    return answer(kUpgradeData, le, sizeof le, offset);
  }
  // Bytes land at their offset, so a frame sent again changes nothing.
  ++upgradeDataFrames_;
  if (offset == 0) upgradeImage_.clear();  // the first frame begins a new image
  upgradeComplete_ = false;
  if (upgradeImage_.size() < offset + n) upgradeImage_.resize(offset + n);
  std::copy_n(payload, n, upgradeImage_.begin() + offset);
  return answer(kUpgradeData, nullptr, 0, offset);
}

void VirtualHidLogger::endUpgrade() {
  ++upgradeEnds_;
  // Only an image whose final frame has been answered is taken.
  if (!upgradeComplete_) return;
  upgradeComplete_ = false;
  firmwareReceived_ = std::move(upgradeImage_);
  upgradeImage_.clear();
  ++upgrades_;
  if (!faults.oldVersionAfterUpgrade && image_.size() >= img::MinDriveImageLength) {
    image_[img::FwVersionHigh] = static_cast<uint8_t>(kAppImageKl26Version >> 8);
    image_[img::FwVersionLow] = static_cast<uint8_t>(kAppImageKl26Version);
  }
  if (onUpgrade) onUpgrade();
  reenumerate_ = true;
}

uint8_t VirtualHidLogger::statusFor(uint8_t command, uint8_t own) const {
  if (faults.statusCode == 0) return own;
  if (faults.statusOnlyFor && *faults.statusOnlyFor != command) return own;
  return faults.statusCode;
}

std::vector<ReceivedRecord> VirtualHidLogger::settingRecords() const {
  std::vector<ReceivedRecord> records;
  for (const Record& r : pending_)
    if (r.command != kEndCommand) records.push_back({r.command, r.data});
  return records;
}

HidReport VirtualHidLogger::takeRecordChunk(uint8_t command, uint32_t offset,
                                            const uint8_t* payload, std::size_t n) {
  // A record after the end record begins the next transfer: the last one
  // never got its TransferEnd and is forgotten.
  if (pendingEnded_) dropTransfer();
  auto last = std::find_if(pending_.rbegin(), pending_.rend(),
                           [&](const Record& r) { return r.command == command; });
  if (offset == 0) {
    // A record already here, from its start again: the tool has begun afresh.
    if (last != pending_.rend()) dropTransfer();
    pending_.push_back({command, std::vector<uint8_t>(payload, payload + n)});
  } else if (last != pending_.rend() && offset == last->data.size() &&
             offset + n <= kMaxRecordData) {
    last->data.insert(last->data.end(), payload, payload + n);
  } else {
    pendingBroken_ = true;  // a piece of a record that never began, or a gap
  }

  uint8_t own = kStatusFine;
  if (command == kEndCommand) {
    pendingEnded_ = true;
    std::vector<uint8_t> trial = image_;
    LoggerClock clock = lastClock_;
    pendingValid_ = !pendingBroken_ && n == 0 &&
                    ApplyRecords(trial, settingRecords(), {.refuseUnknown = true,
                                                           .requireEveryRow = true},
                                 clock);
    own = pendingValid_ ? kStatusFine : kStatusFailed;
  }
  const uint8_t code = statusFor(command, own);
  if (code >= kFirstErrorCode) pendingBroken_ = true;  // the tool stops at a Command Error
  if (command == kEndCommand && code != kStatusFine) pendingValid_ = false;
  const uint8_t status[1] = {code};
  return answer(kStatus, status, 1, offset);
}

void VirtualHidLogger::finishTransfer() {
  if (pending_.empty()) return;  // nothing under way to end
  ++receivedTransfers_;
  lastRecords_ = pending_;
  bool applied = false;
  if (pendingEnded_ && pendingValid_)
    applied = ApplyRecords(image_, settingRecords(), {.refuseUnknown = true,
                                                      .requireEveryRow = true},
                           lastClock_);
  lastOutcome_ = applied ? Outcome::Applied : Outcome::Refused;

  // Framed as the tool's block held the records, so the two can be compared.
  const uint8_t address =
      RecordAddressByte(image_.size() > img::FwVersionHigh ? image_[img::FwVersionHigh] : 0);
  lastBlock_.clear();
  auto frame = [&](uint8_t command, const std::vector<uint8_t>& data) {
    const std::size_t start = lastBlock_.size();
    lastBlock_.push_back(0x55);
    lastBlock_.push_back(static_cast<uint8_t>(data.size() + 5));
    lastBlock_.push_back(address);
    lastBlock_.push_back(command);
    lastBlock_.insert(lastBlock_.end(), data.begin(), data.end());
    lastBlock_.push_back(Sum8(lastBlock_.data() + start, lastBlock_.size() - start));
  };
  for (const Record& r : pending_) frame(r.command, r.data);
  frame(kTransferEnd, {});

  dropTransfer();
  AppendReceivedLog(logPath_, applied, lastBlock_);
  if (onTransfer) onTransfer(lastOutcome_);
}

void VirtualHidLogger::dropTransfer() {
  pending_.clear();
  pendingBroken_ = false;
  pendingEnded_ = false;
  pendingValid_ = false;
}
