#include "sim/virtual_drive_logger.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <span>

#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/config_block.h"
#include "formats/logger_image.h"
#include "formats/record_layout.h"
#include "sim/logger_parameters.h"
#include "upgrade/firmware_images.h"

namespace fs = std::filesystem;

namespace {

bool ReadAll(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

constexpr uint8_t kClockCommand = 0x03;
constexpr uint8_t kFirmwareCommand = 0x64;

// The block that asks for an upgrade: the clock record with zeros, the
// firmware record naming the file, and the end record; 29 bytes.
std::vector<uint8_t> UpgradeBlock(uint8_t address) {
  std::vector<uint8_t> block;
  auto record = [&](uint8_t command, std::initializer_list<uint8_t> data) {
    const std::size_t start = block.size();
    block.insert(block.end(), {0x55, static_cast<uint8_t>(data.size() + 5), address, command});
    block.insert(block.end(), data);
    block.push_back(Sum8(block.data() + start, block.size() - start));
  };
  record(kClockCommand, {0, 0, 0, 0, 0, 0});
  record(kFirmwareCommand, {'A', 'P', 'P', '.', 'B', 'I', 'N', 0});
  record(kEndCommand, {});
  return block;
}

}  // namespace

VirtualDriveLogger::VirtualDriveLogger(std::string volume, std::string logPath)
    : volume_(std::move(volume)),
      logPath_(std::move(logPath)),
      image_(DefaultLoggerImage(0x24, 0x10)),  // a current drive-family logger
      imageFile_(LoggerFilePath(volume_, kImageFile)) {}  // a current drive-family logger

void VirtualDriveLogger::setText(int offset, int size, const std::string& bytes) {
  PutText(image_, offset, size, bytes);
}
void VirtualDriveLogger::setU8(int offset, uint8_t v) { PutU8(image_, offset, v); }
void VirtualDriveLogger::setU16(int offset, uint16_t v) { PutU16(image_, offset, v); }
void VirtualDriveLogger::setU32(int offset, uint32_t v) { PutU32(image_, offset, v); }

std::string VirtualDriveLogger::file(const char* name) const {
  return LoggerFilePath(volume_, name);
}

bool VirtualDriveLogger::adoptExistingImage() {
  LoggerImage found;
  std::vector<uint8_t> bytes;
  if (!ReadAll(file(kImageFile), bytes) || bytes.size() > found.bytes.size()) return false;
  std::copy(bytes.begin(), bytes.end(), found.bytes.begin());
  found.length = static_cast<uint32_t>(bytes.size());
  if (CheckDriveImage(found) != ImageCheck::Accepted) return false;
  image_ = std::move(bytes);
  return true;
}

bool VirtualDriveLogger::writeImage() {
  SealDriveImage(image_.data(), image_.size());
  if (!imageFile_.write(image_)) return false;
  imageChanged_ = false;
  return true;
}

bool VirtualDriveLogger::plugIn() {
  std::error_code ec;
  fs::create_directories(volume_, ec);
  if (ec) return false;
  // Someone's "DAT.SRC" is the image the tool reads, as it is.
  const bool keepFound = !imageChanged_ && imageFile_.foreign();
  if (!keepFound && !writeImage()) return false;
  plugged_ = true;
  awayPolls_ = 0;
  spoiled_.clear();
  spoiledFirmware_.clear();
  return true;
}

void VirtualDriveLogger::unplug() {
  std::error_code ec;
  for (const char* name : {kConfigFile, kConfirmFile, kFirmwareFile})
    fs::remove_all(file(name), ec);
  imageFile_.removeOwn();
  plugged_ = false;
}

void VirtualDriveLogger::poll() {
  if (!unplugSwitch_.empty()) {
    std::error_code ec;
    const bool out = fs::exists(unplugSwitch_, ec);
    if (out && !pulledOut_) {
      unplug();
      awayPolls_ = 0;  // not back until the switch goes
    } else if (!out && pulledOut_ && !plugIn()) {
      awayPolls_ = 1;  // tried again on the next poll
    }
    pulledOut_ = out;
    if (out) return;
  }
  if (!plugged_) {
    // A failed return is tried again on the next poll.
    if (awayPolls_ > 0 && --awayPolls_ == 0 && !plugIn()) awayPolls_ = 1;
    return;
  }
  std::error_code ec;
  for (const char* name : {kConfigFile, kConfirmFile, kFirmwareFile}) {
    // Names taken by directories cannot be created as files, even by root;
    // the directories go again when the fault is switched off.
    if (faults.readOnly)
      fs::create_directory(file(name), ec);
    else if (fs::is_directory(file(name), ec))
      fs::remove(file(name), ec);
  }
  const bool configPresent = fs::is_regular_file(file(kConfigFile), ec);
  const bool firmwarePresent = fs::is_regular_file(file(kFirmwareFile), ec);
  if (faults.removeAfterWrite && (configPresent || firmwarePresent)) {
    unplug();
    return;
  }
  if (firmwarePresent && (faults.firmwareShortWrite || faults.firmwareDifferingReadBack))
    spoilFirmwareFile();
  if (!faults.silent && fs::is_regular_file(file(kConfirmFile), ec)) {
    applyConfirmed();
    return;
  }
  if (configPresent && (faults.shortWrites || faults.differingReadBack)) spoilConfigFile();
}

void VirtualDriveLogger::spoilConfigFile() {
  std::vector<uint8_t> bytes;
  if (!ReadAll(file(kConfigFile), bytes) || bytes.empty() || bytes == spoiled_) return;
  if (faults.shortWrites)
    bytes.pop_back();
  else
    bytes[bytes.size() / 2] ^= 0x5A;
  if (WriteAll(file(kConfigFile), bytes)) spoiled_ = bytes;
}

void VirtualDriveLogger::spoilFirmwareFile() {
  const std::string path = file(kFirmwareFile);
  std::vector<uint8_t> bytes;
  if (!ReadAll(path, bytes) || bytes.empty() || bytes == spoiledFirmware_) return;
  if (faults.firmwareShortWrite) {
    bytes.pop_back();
    // A new file in its place: the tool's descriptor, if it is still
    // writing, goes on into the old one.
    std::error_code ec;
    fs::remove(path, ec);
  } else {
    bytes[bytes.size() / 2] ^= 0x5A;
  }
  if (WriteAll(path, bytes)) spoiledFirmware_ = std::move(bytes);
}

void VirtualDriveLogger::applyConfirmed() {
  std::vector<uint8_t> confirm;
  std::vector<uint8_t> block;
  // Anything but exactly "OK" is no confirmation: the logger waits on.
  if (!ReadAll(file(kConfirmFile), confirm) || confirm != std::vector<uint8_t>{'O', 'K'} ||
      !ReadAll(file(kConfigFile), block))
    return;
  ++receivedBlocks_;
  lastBlock_ = block;
  if (upgradeRequested(block))
    lastOutcome_ = takeUpgrade(block) ? Outcome::Upgraded : Outcome::Refused;
  else
    lastOutcome_ = applyBlock(block) ? Outcome::Applied : Outcome::Refused;
  log(block, lastOutcome_);
  if (lastOutcome_ != Outcome::Refused) imageChanged_ = true;
  // Re-enumerate: gone for a while, then back with the new parameters.
  unplug();
  if (lastOutcome_ == Outcome::Upgraded && faults.goneAfterUpgrade) {
    awayPolls_ = 0;  // back only when plugged in again
  } else if (reenumeratePolls <= 0) {
    if (!plugIn()) awayPolls_ = 1;
  } else {
    awayPolls_ = reenumeratePolls;
  }
}

bool VirtualDriveLogger::applyBlock(const std::vector<uint8_t>& block) {
  const uint8_t address = RecordAddressByte(image_[img::FwVersionHigh]);
  const std::span<const uint8_t> bytes(block);

  // Every record must be whole and addressed to this logger, up to the end record.
  std::vector<ReceivedRecord> records;
  for (std::size_t at = 0;;) {
    RecordView r = ReadRecord(bytes, at);
    if (r.status != RecordStatus::Ok || r.address != address) return false;
    if (r.command == kEndCommand) break;
    if (r.command != faults.ignoredRecord) records.push_back({r.command, r.data});
    at += r.length;
  }
  return ApplyRecords(image_, records, ApplyRules{}, lastClock_);
}

// A firmware record among no settings but the clock asks for an upgrade. A
// configuration may carry records without a setting (the firmware record
// too), which are passed over as before.
bool VirtualDriveLogger::upgradeRequested(const std::vector<uint8_t>& block) const {
  bool firmware = false;
  for (std::size_t at = 0;;) {
    const RecordView r = ReadRecord(block, at);
    if (r.status != RecordStatus::Ok || r.command == kEndCommand) return firmware;
    if (r.command == kFirmwareCommand)
      firmware = true;
    else if (r.command != kClockCommand)
      return false;
    at += r.length;
  }
}

bool VirtualDriveLogger::takeUpgrade(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> firmware;
  if (block != UpgradeBlock(RecordAddressByte(image_[img::FwVersionHigh])) ||
      !ReadAll(file(kFirmwareFile), firmware) || firmware.size() != kAppImageStm32Length)
    return false;
  firmwareReceived_ = std::move(firmware);
  ++upgrades_;
  if (!faults.oldVersionAfterUpgrade) {
    image_[img::FwVersionHigh] = static_cast<uint8_t>(kAppImageStm32Version >> 8);
    image_[img::FwVersionLow] = static_cast<uint8_t>(kAppImageStm32Version);
  }
  return true;
}

void VirtualDriveLogger::log(const std::vector<uint8_t>& block, Outcome outcome) const {
  AppendReceivedLog(logPath_, outcome != Outcome::Refused, block);
}
