#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/state.h"

// What every virtual logger shares, whatever its family: the image it starts
// with, writing fields into it, and taking received records into it through
// the same record table the tool's encoder uses.

// A logger measuring both channels in either unit, with the extended
// parameter set, under the given firmware version; 640 bytes, not sealed.
std::vector<uint8_t> DefaultLoggerImage(uint8_t fwVersionHigh, uint8_t fwVersionLow);

// Little-endian fields; the offset and size must lie inside the image.
void PutU8(std::vector<uint8_t>& image, int offset, uint8_t v);
void PutU16(std::vector<uint8_t>& image, int offset, uint16_t v);
void PutU32(std::vector<uint8_t>& image, int offset, uint32_t v);
// A text field, cut to `size` and zero-filled (bytes stored as given).
void PutText(std::vector<uint8_t>& image, int offset, int size, std::string_view bytes);

// One record as it reached the logger: its command and data.
struct ReceivedRecord {
  uint8_t command = 0;
  std::span<const uint8_t> data;
};

struct ApplyRules {
  bool refuseUnknown = false;   // a record without a row refuses the whole set
  bool requireEveryRow = false; // every header and layout row must be there (start time optional)
};

// Takes `records` (the end record not among them) into `image` in the layout
// of the image's firmware: every record is checked first, then all are
// applied, or none and false. The clock record's time goes to `clock`.
bool ApplyRecords(std::vector<uint8_t>& image, std::span<const ReceivedRecord> records,
                  ApplyRules rules, LoggerClock& clock);

// Appends "applied" or "refused" and the bytes in hex as one line to the file
// at `path`; nothing when the path is empty.
void AppendReceivedLog(const std::string& path, bool applied, std::span<const uint8_t> bytes);

// "DAT.SRC" in a folder a person may share with a virtual logger. The logger
// replaces or removes only the file it last wrote itself; any other file found
// there is first copied aside as "DAT.SRC.orig" (".orig.1", ".orig.2", ... when
// that name is taken by different bytes), so no one's image is lost.
class ImageFile {
 public:
  explicit ImageFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  // The file's bytes as they are; nullopt when there is none.
  std::optional<std::vector<uint8_t>> read() const;
  // A file is there that this logger did not write, or that changed since.
  bool foreign() const;
  // Writes `bytes` in place of the file, copying a foreign one aside first.
  // False when nothing was written (a foreign file then stays as it was).
  bool write(std::span<const uint8_t> bytes);
  // Removes the file when it is the one this logger wrote; leaves any other.
  void removeOwn();

 private:
  std::string path_;
  std::optional<std::vector<uint8_t>> written_;  // what this logger last wrote
};
