#pragma once

// Checks shared by the targets that make the tool build a configuration
// block: what it built must read back as whole records a logger takes.

#include <cstdint>
#include <vector>

#include "formats/config_block.h"
#include "formats/record_layout.h"
#include "fuzz_support.h"
#include "sim/logger_parameters.h"

// Every record of the block is whole, carries the logger's address byte and
// a command of its layout with that command's width, and the end record
// closes the block exactly. Returns the records before the end record.
inline std::vector<ReceivedRecord> RequireWellFormedBlock(const ToolState& state) {
  const std::span<const uint8_t> bytes = BlockBytes(state.block);
  const uint8_t address = RecordAddressByte(state.device.fwVersionHigh);
  const RecordLayout layout = LayoutFor(state.device.fwVersionHigh);
  std::vector<ReceivedRecord> records;
  for (std::size_t at = 0;;) {
    const RecordView r = ReadRecord(bytes, at);
    Require(r.status == RecordStatus::Ok, "a built block reads back as whole records");
    Require(r.address == address, "every record carries the logger's address byte");
    if (r.command == kEndCommand) {
      Require(r.data.empty() && at + r.length == bytes.size(),
              "the end record closes the block");
      return records;
    }
    const RecordRow* row = FindRow(layout, r.command);
    Require(row != nullptr && row->width == r.data.size(),
            "every record is one of the layout's, with its width");
    records.push_back({r.command, r.data});
    at += r.length;
  }
}

// A logger of the block's family takes the records whole.
inline void RequireLoggerTakes(std::vector<uint8_t>& image,
                               const std::vector<ReceivedRecord>& records) {
  LoggerClock clock;
  Require(ApplyRecords(image, records, ApplyRules{true, true}, clock),
          "a logger takes every record of a built block");
}
