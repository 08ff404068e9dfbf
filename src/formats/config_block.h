#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "app/state.h"

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
