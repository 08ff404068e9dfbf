#include "formats/config_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "formats/record_layout.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <std::size_t N>
void SetText(std::array<uint8_t, N>& field, const char* text) {
  field.fill(0);
  std::memcpy(field.data(), text, std::min(N, std::strlen(text)));
}

// A state as validation leaves it for a typical configuration.
std::unique_ptr<ToolState> Configured(uint8_t fwVersionHigh) {
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = fwVersionHigh;
  LoggerSettings& s = state->settings;
  s.tempAlarmLowC = 2.0;
  s.tempAlarmHighC = 8.0;
  s.tempUnit = 0;
  s.pdfLanguage = 1;
  s.channels = 3;
  s.dateFormat = 2;
  s.tzHours = 8;
  s.tzMinutes = 0;
  s.alarmEnabled = 1;
  s.outputCsv = 1;
  SetText(s.deviceName, "Cold Room 4");
  SetText(s.deviceId, "A0001");
  SetText(s.website, "www.example.com");
  SetText(s.userInfo, "Batch 7");
  SetText(s.trademark, "ACME");
  SetText(s.pdfPassword, "ab12");
  s.humidityAlarmHigh = 80.0;
  s.humidityAlarmLow = 20.0;
  s.alarmLedFlashSeconds = 10;
  s.recordLedFlashSeconds = 5;
  s.powerSaveTimeout = 300;
  s.startDelayMinutes = 0;
  s.intervalSeconds = 60;
  state->clock.loggerClock = {24, 5, 17, 13, 45, 30};
  return state;
}

std::vector<RecordView> Records(const ConfigBlock& block) {
  std::vector<RecordView> out;
  std::size_t offset = 0;
  for (;;) {
    RecordView r = ReadRecord(BlockBytes(block), offset);
    if (r.status == RecordStatus::Exhausted) break;
    EXPECT_EQ(r.status, RecordStatus::Ok) << "at offset " << offset;
    if (r.status != RecordStatus::Ok) break;
    out.push_back(r);
    offset += r.length;
  }
  return out;
}

// Data of the first record with `command`; empty when there is none.
Bytes DataOf(const ConfigBlock& block, uint8_t command) {
  for (const RecordView& r : Records(block))
    if (r.command == command) return Bytes(r.data.begin(), r.data.end());
  return {};
}

bool Has(const ConfigBlock& block, uint8_t command) {
  for (const RecordView& r : Records(block))
    if (r.command == command) return true;
  return false;
}

Bytes Head(const ConfigBlock& block, std::size_t from, std::size_t count) {
  return Bytes(block.bytes.begin() + static_cast<std::ptrdiff_t>(from),
               block.bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// ---- Records ----------------------------------------------------------------

TEST(ConfigRecord, Sum8WrapsAndIsZeroForNothing) {
  const uint8_t bytes[] = {0xFF, 0x02, 0x80, 0x80};
  EXPECT_EQ(Sum8(bytes, 0), 0);
  EXPECT_EQ(Sum8(bytes, 2), 0x01);
  EXPECT_EQ(Sum8(bytes, 4), 0x01);
}

TEST(ConfigRecord, AddressByteFollowsTheFirmwareAtEachAppend) {
  EXPECT_EQ(RecordAddressByte(0x00), 0xFF);
  EXPECT_EQ(RecordAddressByte(0x23), 0xFF);
  EXPECT_EQ(RecordAddressByte(0x24), 0x82);
  EXPECT_EQ(RecordAddressByte(0x4F), 0x82);

  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = 0x23;
  EXPECT_EQ(AppendRecord(*state, 0xFF, nullptr, 0), 5);
  state->device.fwVersionHigh = 0x24;
  EXPECT_EQ(AppendRecord(*state, 0xFF, nullptr, 0), 5);
  EXPECT_EQ(state->block.length, 10);
  EXPECT_EQ(Head(state->block, 0, 10), (Bytes{0x55, 0x05, 0xFF, 0xFF, 0x58,  //
                                               0x55, 0x05, 0x82, 0xFF, 0xDB}));
}

TEST(ConfigRecord, LargestRecordKeepsItsLengthByteAndCheck) {
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = 0x40;
  Bytes big(250, 0xA5);
  EXPECT_EQ(AppendRecord(*state, 0x19, big), 255);
  EXPECT_EQ(state->block.length, 255);
  const uint8_t* rec = state->block.bytes.data();
  EXPECT_EQ(rec[1], 255);
  EXPECT_EQ(rec[254], Sum8(rec, 254));
}

TEST(ConfigRecord, AppendRefusesWhatWouldNotFit) {
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = 0x40;
  Bytes big(251, 0x11);
  EXPECT_EQ(AppendRecord(*state, 0x19, big.data(), big.size()), 0);
  EXPECT_EQ(AppendRecord(*state, 0x19, nullptr, 3), 0);
  EXPECT_EQ(state->block.length, 0);

  // Up to 10 bytes short of the end: a record of 5 data bytes fits exactly.
  state->block.bytes.fill(0xEE);
  state->block.length = kBlockCapacity - 10;
  const ConfigBlock before = state->block;
  const uint8_t six[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(AppendRecord(*state, 0x03, six, 6), 0);  // one byte too many
  EXPECT_EQ(state->block.bytes, before.bytes);
  EXPECT_EQ(state->block.length, before.length);

  EXPECT_EQ(AppendRecord(*state, 0x03, six, 5), 10);
  EXPECT_EQ(state->block.length, kBlockCapacity);
  EXPECT_EQ(AppendRecord(*state, 0xFF, nullptr, 0), 0);
  EXPECT_EQ(state->block.length, kBlockCapacity);

  // A length already past the block is not trusted either.
  state->block.length = kBlockCapacity + 100;
  EXPECT_EQ(AppendRecord(*state, 0xFF, nullptr, 0), 0);
}

TEST(ConfigRecord, ReaderStaysInsideTheBytesAndNamesTheFault) {
  const Bytes good = {0x55, 0x06, 0x82, 0x27, 0x00, 0x04};
  RecordView r = ReadRecord(good, 0);
  EXPECT_EQ(r.status, RecordStatus::Ok);
  EXPECT_EQ(r.command, 0x27);
  EXPECT_EQ(r.address, 0x82);
  ASSERT_EQ(r.data.size(), 1u);
  EXPECT_EQ(ReadRecord(good, 6).status, RecordStatus::Exhausted);
  EXPECT_EQ(ReadRecord(good, 600).status, RecordStatus::Exhausted);

  Bytes bad = good;
  bad[5] = 0x05;
  r = ReadRecord(bad, 0);
  EXPECT_EQ(r.status, RecordStatus::BadCheck);
  EXPECT_EQ(r.length, 6);  // still walkable

  EXPECT_EQ(ReadRecord(Bytes{0x54, 0x05, 0xFF, 0xFF, 0x57}, 0).status, RecordStatus::BadStart);
  EXPECT_EQ(ReadRecord(Bytes{0x55, 0x04, 0xFF, 0xFF}, 0).status, RecordStatus::BadLength);
  EXPECT_EQ(ReadRecord(Bytes{0x55}, 0).status, RecordStatus::Truncated);
  // The length byte claims more than there is.
  EXPECT_EQ(ReadRecord(Bytes(good.begin(), good.end() - 1), 0).status, RecordStatus::Truncated);
  EXPECT_EQ(ReadRecord(Bytes{0x55, 0xFF, 0x82, 0x19, 0x00}, 0).status, RecordStatus::Truncated);
}

// ---- Layout tables ----------------------------------------------------------

TEST(RecordLayoutTable, CommandsAreUniqueSoLookupIsUnambiguous) {
  for (RecordLayout layout : {RecordLayout::A, RecordLayout::B}) {
    std::set<uint8_t> seen;
    for (const RecordRow& r : kHeaderRows) EXPECT_TRUE(seen.insert(r.command).second);
    for (const RecordRow& r : LayoutRows(layout)) {
      EXPECT_TRUE(seen.insert(r.command).second) << int(r.command);
      EXPECT_EQ(FindRow(layout, r.command), &r);
    }
    EXPECT_EQ(seen.count(kEndCommand), 0u);
  }
  const RecordRow* row = FindRow(RecordLayout::B, 0x4B);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->source, RecordSource::StartTime);
  EXPECT_EQ(FindRow(RecordLayout::A, 0x4B), nullptr);
  EXPECT_EQ(FindRow(RecordLayout::A, 0x51), nullptr);
  ASSERT_NE(FindRow(RecordLayout::HeaderOnly, 0x49), nullptr);
  EXPECT_EQ(FindRow(RecordLayout::HeaderOnly, 0x49)->source, RecordSource::ToolLevelValue);
  EXPECT_EQ(FindRow(RecordLayout::B, kEndCommand), nullptr);
}

// A logger applying plain-copy records writes each into its own image field:
// inside the head an HID logger reports, and never over another parameter.
TEST(RecordLayoutTable, PlainCopiesFitTheirImageFieldsWithoutOverlap) {
  for (RecordLayout layout : {RecordLayout::A, RecordLayout::B}) {
    std::vector<bool> used(img::HidImageHead, false);
    for (const RecordRow& r : LayoutRows(layout)) {
      const int at = ImageOffsetOf(r.source);
      if (at < 0) continue;
      ASSERT_LE(at + r.width, static_cast<int>(img::HidImageHead)) << int(r.command);
      for (int i = at; i < at + r.width; ++i) {
        EXPECT_FALSE(used[static_cast<std::size_t>(i)]) << int(r.command) << " at " << i;
        used[static_cast<std::size_t>(i)] = true;
      }
    }
  }
  EXPECT_EQ(FindRow(RecordLayout::B, 0x15)->width, img::DeviceNameSize);
  EXPECT_EQ(FindRow(RecordLayout::B, 0x11)->width, img::DeviceIdSize);
  EXPECT_EQ(FindRow(RecordLayout::B, 0x17)->width, img::WebsiteSize);
  EXPECT_EQ(FindRow(RecordLayout::B, 0x19)->width, img::UserInfoSize);
  EXPECT_EQ(FindRow(RecordLayout::B, 0x2D)->width, img::TrademarkSize);
  EXPECT_EQ(FindRow(RecordLayout::B, 0x51)->width, img::PdfPasswordSize);
  EXPECT_EQ(ImageOffsetOf(RecordSource::TimeZone), -1);
  EXPECT_EQ(ImageOffsetOf(RecordSource::OutputCsv), -1);
}

// What a built block puts into a logger's image reads back as the decoders
// expect it.
TEST(RecordLayoutTable, BuiltBlockAppliedToAnImageReadsBack) {
  auto state = Configured(0x41);
  state->settings.tempAlarmHighC = 8.0;
  state->settings.tempAlarmLowC = -40.0;
  state->settings.humidityAlarmHigh = 65.5;
  state->settings.startDelayMinutes = 1440;
  ASSERT_TRUE(BuildConfigBlock(*state));

  auto image = std::make_unique<LoggerImage>();
  image->length = img::HidImageHead;
  for (const RecordView& r : Records(state->block)) {
    const RecordRow* row = FindRow(RecordLayout::B, r.command);
    if (row == nullptr) continue;
    ASSERT_EQ(r.data.size(), row->width);
    const int at = ImageOffsetOf(row->source);
    if (at >= 0) std::memcpy(image->bytes.data() + at, r.data.data(), r.data.size());
  }
  EXPECT_EQ(ImageU16(*image, img::TempAlarmHigh), 160);
  EXPECT_EQ(static_cast<int16_t>(ImageU16(*image, img::TempAlarmLow)), -800);
  EXPECT_EQ(ImageU16(*image, img::HumidityAlarmHigh), 655);
  EXPECT_EQ(ImageU32(*image, img::StartDelaySeconds), 86400u);
  EXPECT_EQ(ImageU32(*image, img::IntervalSeconds), 60u);
  EXPECT_EQ(ImageU32(*image, img::PowerSaveTimeout), 300u);
  EXPECT_EQ(ImageU8(*image, img::ChannelMask), 3);
  EXPECT_EQ(ImageU16(*image, img::RecordLedSeconds), 5);
  EXPECT_EQ(ImageU16(*image, img::AlarmLedSeconds), 10);
  EXPECT_EQ(0, std::memcmp(image->bytes.data() + img::DeviceName, "Cold Room 4", 12));
  EXPECT_EQ(0, std::memcmp(image->bytes.data() + img::PdfPassword, "ab12\0\0\0\0", 8));
}

// ---- Building the block -----------------------------------------------------

TEST(BuildConfigBlock, SizesAndRecordCountsPerFamily) {
  struct Case {
    uint8_t fw;
    uint8_t startOnTime;
    std::size_t records;
    uint16_t bytes;
  };
  for (const Case& c : {Case{0x10, 0, 26, 391}, Case{0x23, 1, 26, 391}, Case{0x2F, 0, 26, 391},
                        Case{0x40, 1, 34, 462}, Case{0x4F, 0, 33, 449}, Case{0x30, 1, 3, 18},
                        Case{0x35, 0, 3, 18}, Case{0x50, 1, 3, 18}, Case{0xFF, 0, 3, 18}}) {
    auto state = Configured(c.fw);
    state->settings.startOnTime = c.startOnTime;
    ASSERT_TRUE(BuildConfigBlock(*state));
    EXPECT_EQ(state->block.length, c.bytes) << int(c.fw);
    EXPECT_EQ(Records(state->block).size(), c.records) << int(c.fw);
    EXPECT_EQ(state->poll.transferState, TransferWrite);
    // Nothing after the block: the file is exactly `length` bytes.
    for (std::size_t i = state->block.length; i < kBlockCapacity; ++i)
      ASSERT_EQ(state->block.bytes[i], 0) << i;
  }
}

TEST(BuildConfigBlock, RecordsFollowTheTablesAndEndWithTheEndRecord) {
  for (uint8_t fw : {uint8_t{0x23}, uint8_t{0x24}, uint8_t{0x45}, uint8_t{0x36}}) {
    auto state = Configured(fw);
    state->settings.startOnTime = 1;
    ASSERT_TRUE(BuildConfigBlock(*state));
    std::vector<uint8_t> expected;
    for (const RecordRow& r : kHeaderRows) expected.push_back(r.command);
    for (const RecordRow& r : LayoutRows(LayoutFor(fw))) expected.push_back(r.command);
    expected.push_back(kEndCommand);

    std::vector<uint8_t> got;
    const uint8_t address = fw < 0x24 ? 0xFF : 0x82;
    for (const RecordView& r : Records(state->block)) {
      got.push_back(r.command);
      EXPECT_EQ(r.address, address);
      const uint8_t* rec = state->block.bytes.data() + r.offset;
      EXPECT_EQ(rec[r.length - 1], Sum8(rec, r.length - 1u));
    }
    EXPECT_EQ(got, expected) << int(fw);
  }
  auto state = Configured(0x24);
  ASSERT_TRUE(BuildConfigBlock(*state));
  EXPECT_EQ(Head(state->block, 0, 13), (Bytes{0x55, 0x07, 0x82, 0x49, 0x35, 0x03, 0x5F,  //
                                               0x55, 0x06, 0x82, 0x27, 0x00, 0x04}));
  EXPECT_EQ(Head(state->block, state->block.length - 5u, 5), (Bytes{0x55, 0x05, 0x82, 0xFF, 0xDB}));
}

TEST(BuildConfigBlock, PendingBlockIsLeftAlone) {
  auto state = Configured(0x41);
  ASSERT_TRUE(BuildConfigBlock(*state));
  const ConfigBlock first = state->block;
  state->poll.transferState = TransferVerify;
  state->device.fwVersionHigh = 0x10;
  state->settings.intervalSeconds = 3600;

  EXPECT_FALSE(BuildConfigBlock(*state));
  EXPECT_EQ(state->block.bytes, first.bytes);
  EXPECT_EQ(state->block.length, first.length);
  EXPECT_EQ(state->poll.transferState, TransferVerify);

  // Once delivered (length back to 0) a new block replaces every byte.
  state->block.length = 0;
  EXPECT_TRUE(BuildConfigBlock(*state));
  EXPECT_EQ(state->block.length, 391);
  EXPECT_EQ(DataOf(state->block, 0x08), (Bytes{0x10, 0x0E, 0x00, 0x00}));
}

TEST(BuildConfigBlock, NumbersAreEncodedAsTheLoggerExpects) {
  auto state = Configured(0x41);
  LoggerSettings& s = state->settings;
  s.tempAlarmLowC = -0.07;
  s.tempAlarmHighC = 8.0;
  s.humidityAlarmHigh = 65.5;
  s.humidityAlarmLow = 0.0;
  s.startDelayMinutes = 1440;
  s.intervalSeconds = 86400;
  s.tzHours = -5;
  s.tzMinutes = -30;
  s.alarmLedFlashSeconds = 60;
  s.recordLedFlashSeconds = 0x0102;
  ASSERT_TRUE(BuildConfigBlock(*state));
  const ConfigBlock& b = state->block;
  EXPECT_EQ(DataOf(b, 0x0B), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(DataOf(b, 0x09), (Bytes{0xA0, 0x00}));
  EXPECT_EQ(DataOf(b, 0x33), (Bytes{0x8F, 0x02}));
  EXPECT_EQ(DataOf(b, 0x35), (Bytes{0x00, 0x00}));
  EXPECT_EQ(DataOf(b, 0x06), (Bytes{0x80, 0x51, 0x01, 0x00}));
  EXPECT_EQ(DataOf(b, 0x08), (Bytes{0x80, 0x51, 0x01, 0x00}));
  EXPECT_EQ(DataOf(b, 0x43), (Bytes{0xFB, 0xE2}));
  EXPECT_EQ(DataOf(b, 0x3C), (Bytes{60, 0}));
  EXPECT_EQ(DataOf(b, 0x42), (Bytes{0x02, 0x01}));
  EXPECT_EQ(DataOf(b, 0x40), (Bytes{0x2C, 0x01, 0x00, 0x00}));
  EXPECT_EQ(DataOf(b, 0x83), (Bytes{0x36, 0x03, 0x00, 0x39}));
  EXPECT_EQ(DataOf(b, 0x4A), (Bytes{0x00}));
  EXPECT_EQ(DataOf(b, 0x25), (Bytes{0x00, 0x00}));
  EXPECT_EQ(DataOf(b, 0x0D), (Bytes{1}));
  EXPECT_EQ(DataOf(b, 0x4F), (Bytes{1}));
  EXPECT_EQ(DataOf(b, 0x4D), (Bytes{1}));
  EXPECT_EQ(DataOf(b, 0x3D), (Bytes{3}));
  EXPECT_EQ(DataOf(b, 0x44), (Bytes{2}));
  for (uint8_t zeroWord : {uint8_t{0x2F}, uint8_t{0x31}, uint8_t{0x37}, uint8_t{0x39}}) EXPECT_EQ(DataOf(b, zeroWord), Bytes(4, 0));

  state->block.length = 0;
  s.powerSaveTimeout = -1;
  ASSERT_TRUE(BuildConfigBlock(*state));
  EXPECT_EQ(DataOf(state->block, 0x40), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

// Out-of-range numbers send their low 16 bits, and nothing undefined happens
// on the way even for values no validation would pass.
TEST(BuildConfigBlock, AlarmsOutsideSixteenBitsSendTheirLowBits) {
  struct Case {
    double value;
    Bytes bytes;
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case& c : {Case{3277.0, {0x04, 0x00}},      // 65540
                        Case{-3276.85, {0xFF, 0xFF}},    // -65537
                        Case{-1638.4, {0x00, 0x80}},     // -32768
                        Case{1e300, {0x00, 0x00}},
                        Case{-1e300, {0x00, 0x00}},
                        Case{inf, {0x00, 0x00}},
                        Case{std::nan(""), {0x00, 0x00}}}) {
    auto state = Configured(0x10);
    state->settings.tempAlarmHighC = c.value;
    state->settings.startDelayMinutes = std::numeric_limits<int32_t>::max();
    ASSERT_TRUE(BuildConfigBlock(*state));
    EXPECT_EQ(DataOf(state->block, 0x09), c.bytes) << c.value;
    // INT32_MAX minutes in seconds, low 32 bits: 0x7FFFFFFF * 60 mod 2^32.
    EXPECT_EQ(DataOf(state->block, 0x06), (Bytes{0xC4, 0xFF, 0xFF, 0xFF}));
  }
}

TEST(BuildConfigBlock, StartTimeRecordOnlyWithStartOnTime) {
  auto state = Configured(0x42);
  LoggerSettings& s = state->settings;
  s.startOnTime = 0;
  ASSERT_TRUE(BuildConfigBlock(*state));
  EXPECT_FALSE(Has(state->block, 0x4B));

  state->block.length = 0;
  s.startOnTime = 1;
  s.startYear = 25;
  s.startMonth = 12;
  s.startDay = 31;
  s.startHour = 23;
  s.startMinute = 59;
  ASSERT_TRUE(BuildConfigBlock(*state));
  EXPECT_EQ(DataOf(state->block, 0x4B), (Bytes{0x4E, 0x41, 0x52, 25, 12, 31, 23, 59}));

  // The drive family has no start-time record at all.
  auto drive = Configured(0x20);
  drive->settings.startOnTime = 1;
  ASSERT_TRUE(BuildConfigBlock(*drive));
  EXPECT_FALSE(Has(drive->block, 0x4B));
}

TEST(BuildConfigBlock, ClockAndTextsGoAsHeld) {
  auto a = Configured(0x20);
  // A 20-byte name has no terminator; bytes after a terminator still travel.
  std::memcpy(a->settings.deviceName.data(), "ABCDEFGHIJKLMNOPQRST", 20);
  a->settings.trademark = {'X', 0, 'Y'};
  a->settings.userInfo[99] = 0xB0;
  ASSERT_TRUE(BuildConfigBlock(*a));
  EXPECT_EQ(DataOf(a->block, 0x03), (Bytes{24, 5, 17, 13, 45, 30}));
  EXPECT_EQ(DataOf(a->block, 0x15), Bytes(a->settings.deviceName.begin(), a->settings.deviceName.end()));
  EXPECT_EQ(DataOf(a->block, 0x2D), Bytes(a->settings.trademark.begin(), a->settings.trademark.end()));
  EXPECT_EQ(DataOf(a->block, 0x19), Bytes(a->settings.userInfo.begin(), a->settings.userInfo.end()));
  EXPECT_FALSE(Has(a->block, 0x51));  // no password on the drive family

  auto b = Configured(0x40);
  ASSERT_TRUE(BuildConfigBlock(*b));
  EXPECT_EQ(DataOf(b->block, 0x03), (Bytes{24, 5, 17, 13, 45, 30, 0x55, 0xAA}));
  EXPECT_EQ(DataOf(b->block, 0x51), (Bytes{'a', 'b', '1', '2', 0, 0, 0, 0}));
}

}  // namespace
