#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/ports.h"
#include "sim/virtual_hid_logger.h"

// The HID port in memory: virtual HID loggers as hidraw-like interfaces
// ("/dev/vhidrawN"). A write hands the report to the logger model; its answer
// becomes readable once the logger's latency has passed. The tool reads on
// its receive thread and writes on its user-interface thread, so every call
// is safe from any thread; the port's lock is the device's, never the tool's.
// A logger that asks to re-enumerate is unplugged at once and plugged in
// again by the first enumerate(), open() or present() after its absence, so
// the tool's searches bring it back without a thread of the port's own.
class MemoryHidPort : public HidPort {
 public:
  // Faults of the link itself rather than of the logger.
  struct LinkFaults {
    bool holdWrites = false;     // writes are not taken: TimedOut after their limit
    std::size_t shortCount = 0;  // 1..63: writes report this count and never reach the logger
  };

  static constexpr uint16_t kVendorId = 0x2017;
  static constexpr uint16_t kProductId = 0x0003;
  static constexpr uint16_t kRelease = 0x0400;

  MemoryHidPort() = default;
  // Every channel still held by someone answers Gone from now on.
  ~MemoryHidPort() override;
  MemoryHidPort(const MemoryHidPort&) = delete;
  MemoryHidPort& operator=(const MemoryHidPort&) = delete;

  // Adds a logger (plugged in or not, as it is) and returns its index; its
  // path is Path(index). Loggers are added before the tool uses the port.
  std::size_t add(VirtualHidLogger& logger, uint16_t release = kRelease,
                  uint16_t productId = kProductId, uint16_t vendorId = kVendorId);
  static std::string Path(std::size_t index);

  // A fresh connection: channels opened before stay Gone.
  void plug(std::size_t index);
  // Blocked and later reads and writes of its channels return Gone at once.
  // A logger away to re-enumerate then stays away.
  void unplug(std::size_t index);
  void setLinkFaults(std::size_t index, LinkFaults faults);
  // While a file at `path` exists the logger is pulled out; once it is gone
  // it is plugged in afresh. Looked at by every enumerate(), open() and
  // present(), so the tool's own searches notice it; empty: never.
  void setUnplugSwitch(std::size_t index, std::string path);

  // Runs `edit` on the logger under the device's lock, so faults and
  // parameters can be changed while the tool's threads use the link.
  template <typename Edit>
  void edit(std::size_t index, Edit&& edit);

  std::vector<HidInterface> enumerate() override;
  std::shared_ptr<HidChannel> open(const std::string& path, HidAccess access,
                                   HidOpen& result) override;
  bool present(const std::string& path) override;

  struct Device;  // shared with the channels, which may outlive the port

 private:
  std::vector<std::shared_ptr<Device>> devices_;
};

// Shared by the port and its channels; in the header for edit() only.
struct MemoryHidPort::Device {
  struct Answer {
    std::chrono::steady_clock::time_point due;
    HidReport report;
  };

  std::mutex mutex;
  std::condition_variable changed;  // an answer queued, a fault lifted, a plug or unplug
  VirtualHidLogger* logger = nullptr;  // null once the port is gone
  HidInterface id;
  uint64_t connection = 0;  // counts plug-ins; a channel belongs to one
  std::deque<Answer> answers;
  LinkFaults faults;
  std::optional<std::chrono::steady_clock::time_point> returnAt;  // away to re-enumerate
  std::string unplugSwitch;
  bool pulledOut = false;  // by the switch

  bool connected(uint64_t channelConnection) const {
    return logger && logger->plugged() && connection == channelConnection;
  }
};

template <typename Edit>
void MemoryHidPort::edit(std::size_t index, Edit&& edit) {
  Device& device = *devices_.at(index);
  std::lock_guard<std::mutex> lock(device.mutex);
  if (device.logger) edit(*device.logger);
}
