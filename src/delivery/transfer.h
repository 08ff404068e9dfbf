#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/state.h"
#include "formats/config_block.h"

// Delivers a waiting configuration block to the logger: over HID in one call,
// or through the logger's volume one file step per call.
void ConfigurationTransfer(ToolState& state);

// Write/read-back rounds of "CONFIG.CFG" before the delivery is given up; a
// volume that never holds what was written would otherwise be rewritten on
// every pass for as long as it stays plugged in.
inline constexpr uint8_t kMaxConfigWrites = 5;

// ---- HID route, exposed so that the cutting of records can be checked -------

inline constexpr uint8_t kTransferEndCommand = 0x94;
inline constexpr uint8_t kUpgradeEndCommand = 0x7F;
inline constexpr uint8_t kStatusAnswer = 0x90;
inline constexpr std::size_t kHidChunkMax = 58;  // payload bytes of one report

// One report's worth of one record: only the command and the data travel.
struct HidChunk {
  uint8_t command = 0;
  uint8_t length = 0;   // 6 + data.size()
  uint32_t offset = 0;  // position of the chunk within the record's data
  std::span<const uint8_t> data;
};

enum class HidWalk : uint8_t {
  Finished,   // every record was handed over
  Stopped,    // the visitor asked to stop
  BadRecord,  // a record that cannot be cut (length byte below 5, or cut off)
};

// Hands the records of `bytes`, in order, to `send` as chunks of at most 58
// data bytes; a record without data is one empty chunk. `send` returns false
// to stop. Records before a bad one have been handed over when it is met.
template <typename Send>
HidWalk WalkHidChunks(std::span<const uint8_t> bytes, Send&& send) {
  std::size_t offset = 0;
  for (;;) {
    RecordView record = ReadRecord(bytes, offset);
    if (record.status == RecordStatus::Exhausted) return HidWalk::Finished;
    // The check byte stays behind, so a wrong one does not stop the record.
    if (record.status != RecordStatus::Ok && record.status != RecordStatus::BadCheck)
      return HidWalk::BadRecord;
    const std::size_t n = record.data.size();
    std::size_t pos = 0;
    do {
      const std::size_t size = n - pos < kHidChunkMax ? n - pos : kHidChunkMax;
      HidChunk chunk{record.command, static_cast<uint8_t>(size + 6), static_cast<uint32_t>(pos),
                     record.data.subspan(pos, size)};
      if (!send(chunk)) return HidWalk::Stopped;
      pos += size;
    } while (pos < n);
    offset += record.length;
  }
}

// What the logger's answer to one chunk means for the delivery.
enum class HidAnswer : uint8_t {
  Accepted,
  CommandError,    // a Status answer with code 2 to 5: the delivery ends
  EndRecordFailed, // the end record answered with code 1: reported, delivery goes on
};

HidAnswer JudgeHidAnswer(uint8_t sentCommand, uint8_t answerCommand, uint8_t code);
