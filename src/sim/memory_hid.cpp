#include "sim/memory_hid.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using Device = MemoryHidPort::Device;

// A limit below zero waits for as long as it takes.
std::optional<Clock::time_point> Deadline(int limitMs) {
  if (limitMs < 0) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(limitMs);
}

// Waits for a change, at most until `until` when there is one.
void WaitFor(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
             std::optional<Clock::time_point> until) {
  if (until)
    changed.wait_until(lock, *until);
  else
    changed.wait(lock);
}

// A fresh connection to the logger: what plug() does.
void Connect(Device& d) {
  d.returnAt.reset();
  d.logger->plugIn();
  ++d.connection;
  d.answers.clear();
  d.changed.notify_all();
}

// Pulled out: what unplug() does.
void Disconnect(Device& d) {
  d.returnAt.reset();
  d.logger->unplug();
  d.answers.clear();
  d.changed.notify_all();
}

// Follows the unplug switch, then brings a logger back from re-enumerating
// once its absence is over; under the device's lock.
void ReturnIfDue(Device& d) {
  if (!d.logger) return;
  if (!d.unplugSwitch.empty()) {
    std::error_code ec;
    const bool out = std::filesystem::exists(d.unplugSwitch, ec);
    if (out != d.pulledOut) {
      d.pulledOut = out;
      if (out)
        Disconnect(d);
      else
        Connect(d);
    }
  }
  if (d.returnAt && Clock::now() >= *d.returnAt) Connect(d);
}

class MemoryHidChannel : public HidChannel {
 public:
  MemoryHidChannel(std::shared_ptr<Device> device, uint64_t connection, HidAccess access)
      : device_(std::move(device)), connection_(connection), access_(access) {}

  HidRead read(HidReport& report, int limitMs) override {
    if (access_ != HidAccess::Read) return HidRead::Failed;
    const std::optional<Clock::time_point> deadline = Deadline(limitMs);
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    for (;;) {
      if (!d.connected(connection_)) return HidRead::Gone;
      const Clock::time_point now = Clock::now();
      if (!d.answers.empty() && d.answers.front().due <= now) {
        report = d.answers.front().report;
        d.answers.pop_front();
        return HidRead::Report;
      }
      if (deadline && now >= *deadline) return HidRead::TimedOut;
      std::optional<Clock::time_point> until = deadline;
      if (!d.answers.empty())
        until = until ? std::min(*until, d.answers.front().due) : d.answers.front().due;
      WaitFor(d.changed, lock, until);
    }
  }

  HidWriteResult write(const HidReport& report, int limitMs) override {
    if (access_ != HidAccess::Write) return {HidWrite::Failed, 0};
    const std::optional<Clock::time_point> deadline = Deadline(limitMs);
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    for (;;) {
      if (!d.connected(connection_)) return {HidWrite::Gone, 0};
      if (!d.faults.holdWrites) break;
      if (deadline && Clock::now() >= *deadline) return {HidWrite::TimedOut, 0};
      WaitFor(d.changed, lock, deadline);
    }
    // Part of a report is no report to the logger.
    if (d.faults.shortCount > 0 && d.faults.shortCount < kHidReportSize)
      return {HidWrite::Written, d.faults.shortCount};

    const std::optional<HidReport> answer = d.logger->handle(report);
    if (d.logger->takeReenumeration()) {
      // Gone as the report arrived, back after a while as a fresh connection.
      d.logger->unplug();
      if (!d.logger->faults.goneAfterUpgrade)
        d.returnAt = Clock::now() + d.logger->reenumerateAbsence;
    }
    if (!d.logger->plugged()) {
      // Pulled out as the report arrived: it was taken, but nothing follows.
      d.answers.clear();
      d.changed.notify_all();
      return {HidWrite::Written, kHidReportSize};
    }
    if (answer) {
      // Answers leave in the order their requests came, whatever the latency did since.
      Clock::time_point due = Clock::now() + d.logger->latency;
      if (!d.answers.empty()) due = std::max(due, d.answers.back().due);
      d.answers.push_back({due, *answer});
      d.changed.notify_all();
    }
    return {HidWrite::Written, kHidReportSize};
  }

 private:
  std::shared_ptr<Device> device_;
  uint64_t connection_;
  HidAccess access_;
};

}  // namespace

MemoryHidPort::~MemoryHidPort() {
  for (const std::shared_ptr<Device>& device : devices_) {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->logger = nullptr;
    device->answers.clear();
    device->changed.notify_all();
  }
}

std::string MemoryHidPort::Path(std::size_t index) { return "/dev/vhidraw" + std::to_string(index); }

std::size_t MemoryHidPort::add(VirtualHidLogger& logger, uint16_t release, uint16_t productId,
                               uint16_t vendorId) {
  auto device = std::make_shared<Device>();
  device->logger = &logger;
  device->id = {vendorId, productId, release, Path(devices_.size())};
  device->connection = 1;
  devices_.push_back(std::move(device));
  return devices_.size() - 1;
}

void MemoryHidPort::plug(std::size_t index) {
  Device& d = *devices_.at(index);
  std::lock_guard<std::mutex> lock(d.mutex);
  if (d.logger) Connect(d);
}

void MemoryHidPort::unplug(std::size_t index) {
  Device& d = *devices_.at(index);
  std::lock_guard<std::mutex> lock(d.mutex);
  if (d.logger) Disconnect(d);
}

void MemoryHidPort::setUnplugSwitch(std::size_t index, std::string path) {
  Device& d = *devices_.at(index);
  std::lock_guard<std::mutex> lock(d.mutex);
  d.unplugSwitch = std::move(path);
  d.pulledOut = false;
}

void MemoryHidPort::setLinkFaults(std::size_t index, LinkFaults faults) {
  Device& d = *devices_.at(index);
  std::lock_guard<std::mutex> lock(d.mutex);
  d.faults = faults;
  d.changed.notify_all();  // a held write goes on once the fault is lifted
}

std::vector<HidInterface> MemoryHidPort::enumerate() {
  std::vector<HidInterface> found;
  for (const std::shared_ptr<Device>& device : devices_) {
    std::lock_guard<std::mutex> lock(device->mutex);
    ReturnIfDue(*device);
    if (device->logger && device->logger->plugged()) found.push_back(device->id);
  }
  return found;
}

std::shared_ptr<HidChannel> MemoryHidPort::open(const std::string& path, HidAccess access,
                                                HidOpen& result) {
  for (const std::shared_ptr<Device>& device : devices_) {
    if (device->id.path != path) continue;
    std::lock_guard<std::mutex> lock(device->mutex);
    ReturnIfDue(*device);
    if (!device->logger || !device->logger->plugged()) break;
    result = HidOpen::Opened;
    return std::make_shared<MemoryHidChannel>(device, device->connection, access);
  }
  result = HidOpen::Gone;
  return nullptr;
}

bool MemoryHidPort::present(const std::string& path) {
  for (const std::shared_ptr<Device>& device : devices_) {
    if (device->id.path != path) continue;
    std::lock_guard<std::mutex> lock(device->mutex);
    ReturnIfDue(*device);
    return device->logger && device->logger->plugged();
  }
  return false;
}
