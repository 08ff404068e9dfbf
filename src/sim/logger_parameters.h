#pragma once

#include <cstdint>
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
