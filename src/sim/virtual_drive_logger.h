#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/state.h"
#include "formats/image_layout.h"
#include "sim/logger_parameters.h"

// A drive-family logger that lives in a directory, its "volume". It behaves
// as a logger does towards the tool: it offers its parameters in a sealed
// "DAT.SRC", and once "OK.DAT" confirms a "CONFIG.CFG" it applies the
// records, clears the files and re-enumerates with a fresh "DAT.SRC". A
// confirmed upgrade block (the clock record with zeros, the firmware record
// naming "APP.BIN", the end record) takes "APP.BIN" as its firmware instead,
// and it comes back at the version the tool carries.
// A "DAT.SRC" the logger did not write is handed to the tool exactly as it
// is, broken or not, and never removed; only an image the logger changed by
// a configuration or an upgrade replaces it, after a copy (see ImageFile).
// The demo, the tests and the benchmarks all use this one model.
class VirtualDriveLogger {
 public:
  // Faults a test or a demo can switch on at any time.
  struct Faults {
    bool readOnly = false;           // nothing can be created on the volume
    bool shortWrites = false;        // "CONFIG.CFG" loses its last byte
    bool differingReadBack = false;  // "CONFIG.CFG" reads back with a flipped byte
    bool removeAfterWrite = false;   // pulled out once "CONFIG.CFG" has arrived
    bool silent = false;             // never acts on "OK.DAT"
    // At the logger's first look at a new "APP.BIN": it loses its last byte,
    // and what the tool may still write lands in a file nobody sees.
    bool firmwareShortWrite = false;
    bool firmwareDifferingReadBack = false;  // ... it gets a flipped byte
    bool oldVersionAfterUpgrade = false;     // takes an upgrade, comes back at its old version
    bool goneAfterUpgrade = false;           // takes an upgrade and stays away until plugged in
    // Takes a configuration but keeps this record's parameter as it was, as
    // a logger with a firmware fault might: only reading it again shows it.
    int ignoredRecord = -1;  // a record's command; -1: none
  };

  enum class Outcome { None, Applied, Refused, Upgraded };

  // `volume` is the directory; `logPath`, when not empty, a file that gets
  // one line per received "CONFIG.CFG" (its bytes in hex and the outcome).
  explicit VirtualDriveLogger(std::string volume, std::string logPath = {});

  // Takes a valid "DAT.SRC" already in the volume as this logger's image.
  bool adoptExistingImage();

  // Creates the volume and writes "DAT.SRC", unless one it did not write is
  // there and it has no newer image of its own.
  bool plugIn();
  void unplug();  // removes the logger's files; a "DAT.SRC" it did not write stays
  bool plugged() const { return plugged_; }

  // While a file at `path` exists the logger is pulled out; once it is gone
  // the logger is plugged in afresh. Looked at on every poll; empty: never.
  void setUnplugSwitch(std::string path) { unplugSwitch_ = std::move(path); }

  // Advances the model by one step: acts on a confirmed configuration or
  // upgrade, applies the faults, counts down a re-enumeration.
  void poll();

  Faults faults;
  int reenumeratePolls = 1;  // polls the logger stays away after configuring

  const std::string& volume() const { return volume_; }
  const std::vector<uint8_t>& image() const { return image_; }
  std::vector<uint8_t>& image() { return image_; }
  int receivedBlocks() const { return receivedBlocks_; }  // upgrade blocks included
  int upgrades() const { return upgrades_; }              // upgrade blocks taken
  // "APP.BIN" as the last upgrade taken found it.
  const std::vector<uint8_t>& firmwareReceived() const { return firmwareReceived_; }
  const std::vector<uint8_t>& lastBlock() const { return lastBlock_; }
  Outcome lastOutcome() const { return lastOutcome_; }
  const LoggerClock& lastClock() const { return lastClock_; }
  int8_t zoneHours() const { return static_cast<int8_t>(image_[img::TzHours]); }
  int8_t zoneMinutes() const { return static_cast<int8_t>(image_[img::TzMinutes]); }

  // Sets a text parameter, cut to its field and zero-filled (UTF-8 is stored
  // as given; pass GBK bytes for Chinese texts).
  void setText(int offset, int size, const std::string& bytes);
  void setU8(int offset, uint8_t v);
  void setU16(int offset, uint16_t v);
  void setU32(int offset, uint32_t v);

 private:
  std::string file(const char* name) const;
  bool writeImage();
  void applyConfirmed();
  bool applyBlock(const std::vector<uint8_t>& block);
  bool upgradeRequested(const std::vector<uint8_t>& block) const;
  bool takeUpgrade(const std::vector<uint8_t>& block);
  void spoilConfigFile();
  void spoilFirmwareFile();
  void log(const std::vector<uint8_t>& block, Outcome outcome) const;

  std::string volume_;
  std::string logPath_;
  std::vector<uint8_t> image_;
  ImageFile imageFile_;
  bool imageChanged_ = false;  // applied or upgraded since "DAT.SRC" was written
  std::string unplugSwitch_;
  bool pulledOut_ = false;     // by the switch
  bool plugged_ = false;
  int awayPolls_ = 0;
  int receivedBlocks_ = 0;
  std::vector<uint8_t> lastBlock_;
  std::vector<uint8_t> spoiled_;          // what a fault last left in "CONFIG.CFG"
  std::vector<uint8_t> spoiledFirmware_;  // ... and in "APP.BIN"
  int upgrades_ = 0;
  std::vector<uint8_t> firmwareReceived_;
  Outcome lastOutcome_ = Outcome::None;
  LoggerClock lastClock_;
};
