#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

// One line per configured logger in a CSV file, so a batch can be audited
// afterwards: when, which logger, what it ran before and after, which
// profile, a fingerprint of the settings sent and whether they took.

struct ProvisionEntry {
  std::chrono::system_clock::time_point when;  // written in UTC
  std::string zone;                            // the zone written to the logger, "UTC+08:00"
  std::string deviceId;
  std::string firmwareBefore;
  std::string firmwareAfter;
  std::string profileName;
  std::string settingsSha256;  // SettingsDigest of the block sent
  std::string result;          // "verified", or "failed: <reason>"
};

// SHA-256 (hex) of a configuration block's records without the clock
// records, so two loggers given the same settings at different moments get
// the same fingerprint. Bytes after a malformed record are hashed as they are.
std::string SettingsDigest(std::span<const uint8_t> block);

// The file's first line.
std::string ProvisionHeader();
// One entry as a CSV line ending in "\n"; fields quoted where CSV needs it.
std::string ProvisionLine(const ProvisionEntry& entry);

struct RecordWrite {
  bool ok = false;
  std::string message;  // why not, when not ok
};

// Appends the entry to the file at `path` (created with its header when new
// or empty) in a single write, and has it on disk before returning. A write
// that cannot be completed is taken back, so the file never keeps half a line.
RecordWrite AppendProvisionRecord(const std::string& path, const ProvisionEntry& entry);
