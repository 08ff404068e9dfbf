#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/state.h"

// Records the tool writes to a logger: 0x55, record length n + 5, address
// byte, command, n data bytes, 8-bit sum of everything before it.

uint8_t Sum8(const uint8_t* bytes, std::size_t count);

// Address byte of every record for the logger's firmware family.
uint8_t RecordAddressByte(uint8_t fwVersionHigh);

// Appends one record at the end of the block and returns its length n + 5.
// Returns 0 and leaves the block unchanged when n exceeds 250 or the record
// would not fit in the 2048-byte block.
uint8_t AppendRecord(ToolState& state, uint8_t command, const uint8_t* data, std::size_t n);
inline uint8_t AppendRecord(ToolState& state, uint8_t command, std::span<const uint8_t> data) {
  return AppendRecord(state, command, data.data(), data.size());
}

// Encodes LoggerSettings and the logger clock into a fresh block in the
// record layout of the logger's family. False, changing nothing, while an
// earlier block is still waiting.
bool BuildConfigBlock(ToolState& state);

// Reading records back, for the HID transfer and the virtual logger. Nothing
// outside the given bytes is ever read.
enum class RecordStatus : uint8_t {
  Ok,
  Exhausted,  // no bytes left at the offset
  Truncated,  // the record runs past the end of the bytes
  BadStart,   // no 0x55 at the offset
  BadLength,  // length byte below 5
  BadCheck,   // complete, but the check byte does not match; fields are filled
};

struct RecordView {
  RecordStatus status = RecordStatus::Exhausted;
  std::size_t offset = 0;
  uint8_t length = 0;  // whole record, n + 5
  uint8_t address = 0;
  uint8_t command = 0;
  std::span<const uint8_t> data;
};

RecordView ReadRecord(std::span<const uint8_t> bytes, std::size_t offset);

// The records of a block: ReadRecord(BlockBytes(block), offset), then
// offset += length while the status is Ok.
inline std::span<const uint8_t> BlockBytes(const ConfigBlock& block) {
  return {block.bytes.data(), block.length < kBlockCapacity ? block.length : kBlockCapacity};
}
