// "CONFIG.CFG" as it reaches a drive logger: the record reader, then the
// virtual drive logger's check and apply once "OK.DAT" confirms the file.
//
// Holds: the reader never reaches outside the bytes and says why it stops; a
// record it reads whole is exactly what AppendRecord writes for it; a logger
// refuses a block whole, keeping its image and clock, and takes only a block
// of whole records addressed to it up to the end record; what it takes
// changes only the parameters the records carry; its new "DAT.SRC" passes the
// tool's acceptance.

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "drive/logger_files.h"
#include "formats/config_block.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "formats/record_layout.h"
#include "fuzz_support.h"
#include "sim/logger_parameters.h"
#include "sim/virtual_drive_logger.h"

namespace {

constexpr uint8_t kClockCommand = 0x03;
constexpr uint8_t kFirmwareCommand = 0x64;

struct Walk {
  std::vector<RecordView> records;  // read whole, up to (without) the end record
  bool whole = false;               // every record read whole up to the end record
  uint8_t address = 0;              // of the first record
};

// Follows the records from the start as a logger does, checking the reader.
Walk ReadBlock(std::span<const uint8_t> bytes, ToolState& scratch) {
  Walk walk;
  for (std::size_t at = 0;;) {
    const RecordView r = ReadRecord(bytes, at);
    Require(r.offset == at, "the reader reports where it read");
    const std::size_t left = at < bytes.size() ? bytes.size() - at : 0;
    switch (r.status) {
      case RecordStatus::Exhausted:
        Require(left == 0, "only the end of the bytes exhausts them");
        return walk;
      case RecordStatus::BadStart:
        Require(bytes[at] != 0x55, "a record starts with 0x55");
        return walk;
      case RecordStatus::Truncated:
        Require(left < 2 || bytes[at + 1] > left, "only a record past the end is truncated");
        return walk;
      case RecordStatus::BadLength:
        Require(bytes[at + 1] < 5, "only a length below 5 is refused");
        return walk;
      case RecordStatus::Ok:
      case RecordStatus::BadCheck:
        break;
    }
    Require(r.length == bytes[at + 1] && r.length >= 5 && r.length <= left,
            "a whole record lies within the bytes");
    Require(r.data.data() == bytes.data() + at + 4 && r.data.size() + 5 == r.length,
            "a record's data lie between its header and its check byte");
    const uint8_t check = bytes[at + r.length - 1];
    Require((r.status == RecordStatus::Ok) == (Sum8(bytes.data() + at, r.length - 1u) == check),
            "the check byte decides between Ok and BadCheck");
    if (r.status != RecordStatus::Ok) return walk;
    if (at == 0) walk.address = r.address;

    // Written again by the tool's own encoder, the record is the same bytes.
    if (r.address == 0xFF || r.address == 0x82) {
      scratch.block.length = 0;
      scratch.device.fwVersionHigh = r.address == 0xFF ? 0x23 : 0x24;
      Require(AppendRecord(scratch, r.command, r.data) == r.length &&
                  std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + r.length),
                             scratch.block.bytes.begin()),
              "a record read whole is what AppendRecord writes");
    }
    if (r.command == kEndCommand) {
      walk.whole = r.address == walk.address;
      return walk;
    }
    if (r.address != walk.address) return walk;
    walk.records.push_back(r);
    at += r.length;
  }
}

// Image bytes the records may change, in a logger of `layout`.
std::vector<bool> Destinations(const Walk& walk, RecordLayout layout, std::size_t size) {
  std::vector<bool> mine(size, false);
  auto mark = [&](int offset, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) mine.at(static_cast<std::size_t>(offset) + i) = true;
  };
  for (const RecordView& r : walk.records) {
    const RecordRow* row = FindRow(layout, r.command);
    if (!row) continue;
    const int offset = ImageOffsetOf(row->source);
    if (offset >= 0) mark(offset, row->width);
    if (row->source == RecordSource::TimeZone) {
      mark(img::TzHours, 1);
      mark(img::TzMinutes, 1);
    }
    if (row->source == RecordSource::AlarmEnabled || row->source == RecordSource::OutputCsv)
      mark(img::OptionBits, 1);
  }
  return mine;
}

bool LooksLikeUpgrade(const Walk& walk) {
  bool firmware = false;
  for (const RecordView& r : walk.records) {
    if (r.command == kFirmwareCommand) firmware = true;
    else if (r.command != kClockCommand) return false;
  }
  return firmware;
}

bool WidthsFit(const Walk& walk, RecordLayout layout) {
  return std::all_of(walk.records.begin(), walk.records.end(), [&](const RecordView& r) {
    const RecordRow* row = FindRow(layout, r.command);
    return !row || row->width == r.data.size();
  });
}

void DriveLogger(std::span<const uint8_t> bytes, const Walk& walk) {
  ScratchDir dir;
  VirtualDriveLogger logger(dir.path());
  // The logger whose address byte the block carries.
  logger.setU8(img::FwVersionHigh, walk.address == 0xFF ? 0x23 : 0x24);
  logger.reenumeratePolls = 0;
  Require(logger.plugIn(), "the logger plugs in");
  const std::vector<uint8_t> before = logger.image();
  const LoggerClock clockBefore = logger.lastClock();

  const std::vector<uint8_t> block(bytes.begin(), bytes.end());
  WriteFile(LoggerFilePath(dir.path(), kConfigFile), block);
  WriteFile(LoggerFilePath(dir.path(), kConfirmFile), Bytes{'O', 'K'});
  logger.poll();
  Require(logger.receivedBlocks() == 1, "a confirmed block is looked at");

  const RecordLayout layout = LayoutFor(before[img::FwVersionHigh]);
  switch (logger.lastOutcome()) {
    case VirtualDriveLogger::Outcome::Refused: {
      Require(logger.image() == before, "a refused block leaves the logger's image as it was");
      const LoggerClock c = logger.lastClock();
      Require(c.year == clockBefore.year && c.month == clockBefore.month &&
                  c.day == clockBefore.day && c.hour == clockBefore.hour &&
                  c.minute == clockBefore.minute && c.second == clockBefore.second,
              "a refused block leaves the logger's clock as it was");
      Require(!(walk.whole && WidthsFit(walk, layout) && !LooksLikeUpgrade(walk) &&
                walk.address == RecordAddressByte(before[img::FwVersionHigh])),
              "a whole block addressed to the logger, every record of its width, is taken");
      return;
    }
    case VirtualDriveLogger::Outcome::Applied:
      break;
    default:
      Require(false, "without APP.BIN a block is applied or refused");
  }
  Require(walk.whole, "only a block of whole records up to the end record is taken");
  const std::vector<uint8_t>& after = logger.image();
  Require(after.size() == before.size(), "taking a block keeps the image's length");
  const std::vector<bool> mine = Destinations(walk, layout, before.size());
  for (std::size_t i = 0; i + 4 < before.size(); ++i)  // the check word is sealed anew
    Require(mine[i] || after[i] == before[i], "a block changes only what its records carry");

  // The logger is back at once with its new image, which the tool accepts.
  Require(logger.plugged(), "the logger comes back");
  const Bytes file = ReadFile(LoggerFilePath(dir.path(), kImageFile));
  auto image = std::make_unique<LoggerImage>();
  Require(file.size() <= kImageCapacity, "DAT.SRC fits the image buffer");
  std::copy(file.begin(), file.end(), image->bytes.begin());
  image->length = static_cast<uint32_t>(file.size());
  Require(CheckDriveImage(*image) == ImageCheck::Accepted, "the new DAT.SRC passes acceptance");
}

// The HID family's layout, through the same apply step: all or nothing.
void HidLayout(const Walk& walk, uint8_t rules) {
  std::vector<uint8_t> image = DefaultLoggerImage(0x40, 0x94);
  const std::vector<uint8_t> before = image;
  std::vector<ReceivedRecord> records;
  for (const RecordView& r : walk.records) records.push_back({r.command, r.data});
  LoggerClock clock;
  if (!ApplyRecords(image, records, ApplyRules{(rules & 1) != 0, (rules & 2) != 0}, clock))
    Require(image == before, "records refused leave the image as it was");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kBlockCapacity * 2) return 0;
  const std::span<const uint8_t> bytes(data, size);
  auto scratch = std::make_unique<ToolState>();
  const Walk walk = ReadBlock(bytes, *scratch);
  // A read at any offset stays within the bytes.
  if (size > 0) {
    const RecordView r = ReadRecord(bytes, data[size - 1] % (size + 2));
    Require(r.data.empty() || (r.data.data() >= data && r.data.data() + r.data.size() <= data + size),
            "a record read anywhere lies within the bytes");
  }
  DriveLogger(bytes, walk);
  HidLayout(walk, size > 0 ? data[0] : 0);
  return 0;
}
