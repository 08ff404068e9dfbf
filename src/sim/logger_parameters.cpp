#include "sim/logger_parameters.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "formats/image_layout.h"
#include "drive/volume_io.h"
#include "formats/record_layout.h"

std::vector<uint8_t> DefaultLoggerImage(uint8_t fwVersionHigh, uint8_t fwVersionLow) {
  std::vector<uint8_t> image(img::MinDriveImageLength);
  PutU8(image, img::MemoryTypeCode, 0);
  PutU8(image, img::TempSampleBits, 12);
  PutU8(image, img::CapabilityFlags,
        img::CapExtended | img::CapTemperature | img::CapHumidity | img::CapFahrenheit);
  const uint32_t memory = 0x01F400;  // 128000 bytes of records
  PutU8(image, img::MemoryBytesLow, static_cast<uint8_t>(memory));
  PutU8(image, img::MemoryBytesMid, static_cast<uint8_t>(memory >> 8));
  PutU8(image, img::MemoryBytesHigh, static_cast<uint8_t>(memory >> 16));
  PutU16(image, img::SensorTempMax, 850);
  PutU16(image, img::SensorTempMin, static_cast<uint16_t>(-400));
  PutU8(image, img::FwVersionHigh, fwVersionHigh);
  PutU8(image, img::FwVersionLow, fwVersionLow);
  PutU8(image, img::SensorKind, 1);
  PutU8(image, img::ProductIdHigh, 0x01);
  PutU8(image, img::ProductIdLow, img::LoggerProductIdLow);
  PutU16(image, img::RequiredToolLevel, ToolLevel);
  PutU16(image, img::BatteryMillivolts, 3000);

  PutU8(image, img::PdfLanguage, 0);
  PutU8(image, img::TempUnit, 0);
  PutU32(image, img::StartDelaySeconds, 0);
  PutU32(image, img::IntervalSeconds, 300);
  PutU16(image, img::TempAlarmHigh, 160);  // 8.0 degC in 0.05 degC
  PutU16(image, img::TempAlarmLow, 40);    // 2.0 degC
  PutU16(image, img::HumidityAlarmHigh, 800);
  PutU16(image, img::HumidityAlarmLow, 200);
  PutText(image, img::DeviceName, img::DeviceNameSize, "Virtual Logger");
  PutText(image, img::DeviceId, img::DeviceIdSize, "VL000001");
  PutText(image, img::Website, img::WebsiteSize, "www.example.com");
  PutText(image, img::UserInfo, img::UserInfoSize, "Demo cold chain");
  PutText(image, img::Trademark, img::TrademarkSize, "KELM");
  PutU32(image, img::PowerSaveTimeout, 0xFFFFFFFFu);
  PutU8(image, img::ChannelMask, 3);
  PutU8(image, img::DateFormat, 1);
  PutU8(image, img::TzHours, 8);
  PutU8(image, img::TzMinutes, 0);
  return image;
}

void PutU8(std::vector<uint8_t>& image, int offset, uint8_t v) {
  image[static_cast<std::size_t>(offset)] = v;
}
void PutU16(std::vector<uint8_t>& image, int offset, uint16_t v) {
  PutU8(image, offset, static_cast<uint8_t>(v));
  PutU8(image, offset + 1, static_cast<uint8_t>(v >> 8));
}
void PutU32(std::vector<uint8_t>& image, int offset, uint32_t v) {
  PutU16(image, offset, static_cast<uint16_t>(v));
  PutU16(image, offset + 2, static_cast<uint16_t>(v >> 16));
}
void PutText(std::vector<uint8_t>& image, int offset, int size, std::string_view bytes) {
  auto at = image.begin() + offset;
  std::fill(at, at + size, uint8_t{0});
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(size)),
              at);
}

namespace {

bool EveryRowPresent(RecordLayout layout, std::span<const ReceivedRecord> records) {
  auto has = [&](uint8_t command) {
    return std::any_of(records.begin(), records.end(),
                       [&](const ReceivedRecord& r) { return r.command == command; });
  };
  for (const RecordRow& row : kHeaderRows)
    if (!has(row.command)) return false;
  for (const RecordRow& row : LayoutRows(layout))
    // The tool sends the start time only with Start On Time.
    if (row.source != RecordSource::StartTime && !has(row.command)) return false;
  return true;
}

}  // namespace

bool ApplyRecords(std::vector<uint8_t>& image, std::span<const ReceivedRecord> records,
                  ApplyRules rules, LoggerClock& clock) {
  if (image.size() < img::MinDriveImageLength) return false;
  const RecordLayout layout = LayoutFor(image[img::FwVersionHigh]);
  for (const ReceivedRecord& r : records) {
    const RecordRow* row = FindRow(layout, r.command);
    // A record without a parameter row (firmware, say) is not a setting.
    if (!row && rules.refuseUnknown) return false;
    if (row && row->width != r.data.size()) return false;
  }
  if (rules.requireEveryRow && !EveryRowPresent(layout, records)) return false;

  std::vector<uint8_t> next = image;
  LoggerClock nextClock = clock;
  for (const ReceivedRecord& r : records) {
    const RecordRow* row = FindRow(layout, r.command);
    if (!row) continue;
    const int offset = ImageOffsetOf(row->source);
    if (offset >= 0) {
      std::copy(r.data.begin(), r.data.end(), next.begin() + offset);
      continue;
    }
    switch (row->source) {
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
        nextClock = {r.data[0], r.data[1], r.data[2], r.data[3], r.data[4], r.data[5]};
        break;
      default:
        break;  // nothing the logger keeps in its image
    }
  }
  image = std::move(next);
  clock = nextClock;
  return true;
}

void AppendReceivedLog(const std::string& path, bool applied, std::span<const uint8_t> bytes) {
  if (path.empty()) return;
  std::FILE* out = std::fopen(path.c_str(), "a");
  if (!out) return;
  std::fprintf(out, "%s", applied ? "applied" : "refused");
  for (uint8_t b : bytes) std::fprintf(out, " %02X", b);
  std::fputc('\n', out);
  std::fclose(out);
}

std::optional<std::vector<uint8_t>> ImageFile::read() const {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool ImageFile::foreign() const {
  const std::optional<std::vector<uint8_t>> found = read();
  return found && found != written_;
}

bool ImageFile::write(std::span<const uint8_t> bytes) {
  if (const std::optional<std::vector<uint8_t>> found = read(); found && found != written_) {
    // The first free name, or one that already holds these very bytes.
    namespace fs = std::filesystem;
    for (int n = 0;; ++n) {
      const std::string copy = path_ + ".orig" + (n == 0 ? "" : "." + std::to_string(n));
      std::error_code ec;
      if (fs::exists(copy, ec)) {
        if (ImageFile(copy).read() == found) break;
        continue;
      }
      if (ec || !fs::copy_file(path_, copy, fs::copy_options::none, ec) || ec) return false;
      break;
    }
  }
  if (!WriteVolumeFile(path_, bytes.data(), bytes.size())) return false;
  written_.emplace(bytes.begin(), bytes.end());
  return true;
}

void ImageFile::removeOwn() {
  if (!written_ || read() != written_) return;
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  written_.reset();
}
