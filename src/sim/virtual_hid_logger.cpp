#include "sim/virtual_hid_logger.h"

#include <algorithm>

#include "formats/config_block.h"
#include "formats/image_layout.h"
#include "formats/record_layout.h"

namespace {

constexpr uint8_t kReportId = 0x01;
constexpr std::size_t kHeaderBytes = 6;  // report id, command, length, 24-bit offset
constexpr std::size_t kMaxRecordData = 250;
constexpr uint8_t kStatusFine = 0;
constexpr uint8_t kStatusFailed = 1;  // to the end record: the configuration failed
constexpr uint8_t kFirstErrorCode = 2;

bool HidFamily(const std::vector<uint8_t>& image) {
  return image.size() >= img::MinDriveImageLength && image.size() <= kImageCapacity &&
         LayoutFor(image[img::FwVersionHigh]) == RecordLayout::B &&
         image[img::ProductIdLow] == img::LoggerProductIdLow;
}

}  // namespace

VirtualHidLogger::VirtualHidLogger(std::string logPath)
    : logPath_(std::move(logPath)), image_(DefaultLoggerImage(0x40, 0x05)) {
  // The HID family has the option byte and its own name, so the demo tells them apart.
  setU8(img::OptionBits, img::OptionAlarm);
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
  if (!HidFamily(bytes)) return false;
  image_ = std::move(bytes);
  return true;
}

void VirtualHidLogger::plugIn() {
  plugged_ = true;
  reportsReceived_ = 0;
  dropTransfer();
}

void VirtualHidLogger::unplug() {
  plugged_ = false;
  dropTransfer();  // a transfer cut off by removal never completes
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

  HidReport out;
  switch (command) {
    case kReadImage:
      out = readImage(offset);
      break;
    case kUpgradeData:
      // The upgrade itself is not modelled yet: data frames are acknowledged bare.
      out = answer(kUpgradeData, nullptr, 0, offset);
      break;
    case kUpgradeEnd:
      return std::nullopt;
    case kTransferEnd:
      finishTransfer();
      return std::nullopt;  // the tool awaits no answer here
    default:
      out = takeRecordChunk(command, offset, payload, n);
      break;
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
  const uint8_t address = RecordAddressByte(image_[img::FwVersionHigh]);
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
