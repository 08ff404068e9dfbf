#include "sim/virtual_drive_logger.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>

#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/config_block.h"
#include "formats/logger_image.h"
#include "formats/record_layout.h"

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

}  // namespace

VirtualDriveLogger::VirtualDriveLogger(std::string volume, std::string logPath)
    : volume_(std::move(volume)), logPath_(std::move(logPath)), image_(img::MinDriveImageLength) {
  // A current drive-family logger measuring both channels in either unit.
  setU8(img::MemoryTypeCode, 0);
  setU8(img::TempSampleBits, 12);
  setU8(img::CapabilityFlags,
        img::CapExtended | img::CapTemperature | img::CapHumidity | img::CapFahrenheit);
  const uint32_t memory = 0x01F400;  // 128000 bytes of records
  setU8(img::MemoryBytesLow, static_cast<uint8_t>(memory));
  setU8(img::MemoryBytesMid, static_cast<uint8_t>(memory >> 8));
  setU8(img::MemoryBytesHigh, static_cast<uint8_t>(memory >> 16));
  setU16(img::SensorTempMax, 850);
  setU16(img::SensorTempMin, static_cast<uint16_t>(-400));
  setU8(img::FwVersionHigh, 0x24);
  setU8(img::FwVersionLow, 0x10);
  setU8(img::SensorKind, 1);
  setU8(img::ProductIdHigh, 0x01);
  setU8(img::ProductIdLow, img::LoggerProductIdLow);
  setU16(img::RequiredToolLevel, ToolLevel);
  setU16(img::BatteryMillivolts, 3000);

  setU8(img::PdfLanguage, 0);
  setU8(img::TempUnit, 0);
  setU32(img::StartDelaySeconds, 0);
  setU32(img::IntervalSeconds, 300);
  setU16(img::TempAlarmHigh, 160);  // 8.0 degC in 0.05 degC
  setU16(img::TempAlarmLow, 40);    // 2.0 degC
  setU16(img::HumidityAlarmHigh, 800);
  setU16(img::HumidityAlarmLow, 200);
  setText(img::DeviceName, img::DeviceNameSize, "Virtual Logger");
  setText(img::DeviceId, img::DeviceIdSize, "VL000001");
  setText(img::Website, img::WebsiteSize, "www.example.com");
  setText(img::UserInfo, img::UserInfoSize, "Demo cold chain");
  setText(img::Trademark, img::TrademarkSize, "KELM");
  setU32(img::PowerSaveTimeout, 0xFFFFFFFFu);
  setU8(img::ChannelMask, 3);
  setU8(img::DateFormat, 1);
  setU8(img::TzHours, 8);
  setU8(img::TzMinutes, 0);
}

void VirtualDriveLogger::setText(int offset, int size, const std::string& bytes) {
  auto at = image_.begin() + offset;
  std::fill(at, at + size, uint8_t{0});
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(size)),
              at);
}
void VirtualDriveLogger::setU8(int offset, uint8_t v) {
  image_[static_cast<std::size_t>(offset)] = v;
}
void VirtualDriveLogger::setU16(int offset, uint16_t v) {
  setU8(offset, static_cast<uint8_t>(v));
  setU8(offset + 1, static_cast<uint8_t>(v >> 8));
}
void VirtualDriveLogger::setU32(int offset, uint32_t v) {
  setU16(offset, static_cast<uint16_t>(v));
  setU16(offset + 2, static_cast<uint16_t>(v >> 16));
}

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
  return WriteVolumeFile(file(kImageFile), image_.data(), image_.size());
}

bool VirtualDriveLogger::plugIn() {
  std::error_code ec;
  fs::create_directories(volume_, ec);
  if (ec || !writeImage()) return false;
  plugged_ = true;
  awayPolls_ = 0;
  spoiled_.clear();
  return true;
}

void VirtualDriveLogger::unplug() {
  std::error_code ec;
  for (const char* name : {kConfigFile, kConfirmFile, kImageFile}) fs::remove_all(file(name), ec);
  plugged_ = false;
}

void VirtualDriveLogger::poll() {
  if (!plugged_) {
    // A failed return is tried again on the next poll.
    if (awayPolls_ > 0 && --awayPolls_ == 0 && !plugIn()) awayPolls_ = 1;
    return;
  }
  std::error_code ec;
  for (const char* name : {kConfigFile, kConfirmFile}) {
    // Names taken by directories cannot be created as files, even by root;
    // the directories go again when the fault is switched off.
    if (faults.readOnly)
      fs::create_directory(file(name), ec);
    else if (fs::is_directory(file(name), ec))
      fs::remove(file(name), ec);
  }
  const bool configPresent = fs::is_regular_file(file(kConfigFile), ec);
  if (faults.removeAfterWrite && configPresent) {
    unplug();
    return;
  }
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

void VirtualDriveLogger::applyConfirmed() {
  std::vector<uint8_t> confirm;
  std::vector<uint8_t> block;
  // Anything but exactly "OK" is no confirmation: the logger waits on.
  if (!ReadAll(file(kConfirmFile), confirm) || confirm != std::vector<uint8_t>{'O', 'K'} ||
      !ReadAll(file(kConfigFile), block))
    return;
  ++receivedBlocks_;
  lastBlock_ = block;
  lastOutcome_ = applyBlock(block) ? Outcome::Applied : Outcome::Refused;
  log(block, lastOutcome_);
  // Re-enumerate: gone for a while, then back with the new parameters.
  unplug();
  if (reenumeratePolls <= 0) {
    if (!plugIn()) awayPolls_ = 1;
  } else {
    awayPolls_ = reenumeratePolls;
  }
}

bool VirtualDriveLogger::applyBlock(const std::vector<uint8_t>& block) {
  const uint8_t fwHigh = image_[img::FwVersionHigh];
  const RecordLayout layout = LayoutFor(fwHigh);
  const uint8_t address = RecordAddressByte(fwHigh);
  const std::span<const uint8_t> bytes(block);

  // Check every record first: a block is taken whole or not at all.
  std::vector<RecordView> records;
  bool ended = false;
  for (std::size_t at = 0; !ended;) {
    RecordView r = ReadRecord(bytes, at);
    if (r.status != RecordStatus::Ok || r.address != address) return false;
    if (r.command == kEndCommand) {
      ended = true;
    } else {
      // A record without a parameter row (firmware, say) is not a setting.
      const RecordRow* row = FindRow(layout, r.command);
      if (row && row->width != r.data.size()) return false;
      if (row) records.push_back(r);
    }
    at += r.length;
  }

  std::vector<uint8_t> next = image_;
  for (const RecordView& r : records) {
    const RecordRow& row = *FindRow(layout, r.command);
    const int offset = ImageOffsetOf(row.source);
    if (offset >= 0) {
      std::copy(r.data.begin(), r.data.end(), next.begin() + offset);
      continue;
    }
    switch (row.source) {
      case RecordSource::TimeZone:
        next[img::TzHours] = r.data[0];
        next[img::TzMinutes] = r.data[1];
        break;
      case RecordSource::AlarmEnabled:
        next[img::OptionBits] = static_cast<uint8_t>(
            (next[img::OptionBits] & ~img::OptionAlarm) | (r.data[0] ? img::OptionAlarm : 0));
        break;
      case RecordSource::OutputCsv:
        next[img::OptionBits] = static_cast<uint8_t>(
            (next[img::OptionBits] & ~img::OptionCsv) | (r.data[0] ? img::OptionCsv : 0));
        break;
      case RecordSource::Clock:
      case RecordSource::ClockWithTrailer:
        lastClock_ = {r.data[0], r.data[1], r.data[2], r.data[3], r.data[4], r.data[5]};
        break;
      default:
        break;  // nothing the logger keeps in its image
    }
  }
  image_ = std::move(next);
  return true;
}

void VirtualDriveLogger::log(const std::vector<uint8_t>& block, Outcome outcome) const {
  if (logPath_.empty()) return;
  std::FILE* out = std::fopen(logPath_.c_str(), "a");
  if (!out) return;
  std::fprintf(out, "%s", outcome == Outcome::Applied ? "applied" : "refused");
  for (uint8_t b : block) std::fprintf(out, " %02X", b);
  std::fputc('\n', out);
  std::fclose(out);
}
