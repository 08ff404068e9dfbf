#pragma once

// An HID logger whose answers are the fuzzer's bytes, behind the real receive
// thread. Each request the tool writes earns one answer; a frame the receive
// thread refuses (a length byte outside 6..64) earns nothing, so the next
// frame follows at once. Nothing here waits on a clock: once the bytes run
// out the logger is pulled out, and the tool's waits end by that. Every write
// and every frame handed out is logged in order, so a target can check what
// the tool made of each answer.
//
// One answer in the input: a control byte, then for a frame its length byte
// and the payload that length asks for (at most 58 bytes).
//   control & 0x0F == 0x0F: a short read instead of a frame; bit 4 says
//                           whether the logger is still there afterwards
//   (control >> 4) & 3:     0 and 3 answer with the request's command,
//                           1 with Status (0x90), 2 with the next input byte
//   control & 0x40 with 0x93 to a final upgrade frame: the payload is the
//                           sum of what the logger received (an honest logger)

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ports.h"
#include "fuzz_support.h"

struct HidEvent {
  enum Kind { Write, Answer, Refused, Short } kind;
  HidReport report{};  // the report written, or the frame handed out
};

class ScriptedLogger : public HidPort {
 public:
  // `endWhenIdle`: only the receive thread writes (an upgrade), so a read with
  // no request open means nothing more can happen, and the logger leaves.
  ScriptedLogger(FuzzInput& in, bool endWhenIdle) : in_(in), endWhenIdle_(endWhenIdle) {}

  std::shared_ptr<HidChannel> reader() { return std::make_shared<Channel>(*this, true); }
  std::shared_ptr<HidChannel> writer() { return std::make_shared<Channel>(*this, false); }

  // The tool is done: the logger is pulled out.
  void finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    changed_.notify_all();
  }
  std::vector<HidEvent> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  std::vector<HidInterface> enumerate() override { return {}; }
  std::shared_ptr<HidChannel> open(const std::string&, HidAccess, HidOpen& result) override {
    result = HidOpen::Gone;
    return nullptr;
  }
  bool present(const std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return !gone_;
  }

 private:
  class Channel : public HidChannel {
   public:
    Channel(ScriptedLogger& logger, bool reads) : logger_(logger), reads_(reads) {}
    HidRead read(HidReport& report, int) override {
      return reads_ ? logger_.read(report) : HidRead::Failed;
    }
    HidWriteResult write(const HidReport& report, int) override {
      if (reads_) return {HidWrite::Failed, 0};
      return logger_.write(report);
    }

   private:
    ScriptedLogger& logger_;
    bool reads_;
  };

  static bool NoAnswer(uint8_t command) { return command == 0x94 || command == 0x7F; }

  HidWriteResult write(const HidReport& report) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_) return {HidWrite::Gone, 0};
    events_.push_back({HidEvent::Write, report});
    if (!NoAnswer(report[1])) ++owed_;
    last_ = report;
    if (report[1] == 0x93 && report[2] > 6 && report[2] <= kHidReportSize) {
      // Kept at its offset, as the logger's flash keeps it: a frame sent again lands on itself.
      const std::size_t offset = static_cast<std::size_t>(report[3] | report[4] << 8 | report[5] << 16);
      const std::size_t n = report[2] - 6u;
      if (received_.size() < offset + n) received_.resize(offset + n);
      std::copy_n(report.begin() + 6, n, received_.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    changed_.notify_all();
    return {HidWrite::Written, kHidReportSize};
  }

  HidRead read(HidReport& report) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (endWhenIdle_ && owed_ == 0) gone_ = true;
    changed_.wait(lock, [this] { return gone_ || owed_ > 0; });
    if (gone_ || in_.empty()) {
      gone_ = true;
      return HidRead::Gone;
    }
    const uint8_t control = in_.byte();
    if ((control & 0x0F) == 0x0F) {
      events_.push_back({HidEvent::Short, {}});
      gone_ = (control & 0x10) == 0;
      return HidRead::Short;
    }
    HidReport frame{};
    frame[0] = 0x01;
    switch ((control >> 4) & 3) {
      case 1: frame[1] = 0x90; break;
      case 2: frame[1] = in_.byte(); break;
      default: frame[1] = last_[1]; break;
    }
    frame[2] = in_.byte();
    frame[3] = last_[3];
    frame[4] = last_[4];
    frame[5] = last_[5];
    const bool wellFormed = frame[2] >= 6 && frame[2] <= kHidReportSize;
    if ((control & 0x40) && frame[1] == 0x93 && last_[1] == 0x93 && last_[2] == 6) {
      // The sum of the words received, as the logger computes it.
      uint32_t sum = 0;
      for (std::size_t at = 0; at + 4 <= received_.size(); at += 4)
        sum += static_cast<uint32_t>(received_[at]) | static_cast<uint32_t>(received_[at + 1]) << 8 |
               static_cast<uint32_t>(received_[at + 2]) << 16 |
               static_cast<uint32_t>(received_[at + 3]) << 24;
      if (frame[2] < 10 || !wellFormed) frame[2] = 10;
      for (int i = 0; i < 4; ++i) frame[static_cast<std::size_t>(6 + i)] = static_cast<uint8_t>(sum >> (8 * i));
    } else if (wellFormed) {
      const std::string_view payload = in_.bytes(frame[2] - 6u);
      std::copy(payload.begin(), payload.end(), frame.begin() + 6);
    }
    if (frame[2] >= 6 && frame[2] <= kHidReportSize) {
      --owed_;
      events_.push_back({HidEvent::Answer, frame});
    } else {
      events_.push_back({HidEvent::Refused, frame});
    }
    report = frame;
    return HidRead::Report;
  }

  FuzzInput& in_;
  const bool endWhenIdle_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<HidEvent> events_;
  int owed_ = 0;       // requests written and not yet answered
  bool gone_ = false;  // pulled out: every read and write says so from now on
  HidReport last_{};   // the last report written
  std::vector<uint8_t> received_;  // firmware bytes of the data frames, at their offsets
};

// The link as the receive thread has it just after opening the logger.
inline void OpenLink(ToolState& state, ScriptedLogger& logger) {
  HidLink& hid = state.hid;
  hid.devicePath = "/dev/hidraw-scripted";
  hid.readChannel = logger.reader();
  hid.setWriteChannel(logger.writer());
  hid.storeRxState(RxIdle);
  hid.deviceCount.store(1);
}

// Waits until the receive thread has seen the logger go. A report held for
// nobody is released, as the next exchange would release it, or the thread
// would never read again to find the logger gone.
inline void AwaitRemoval(ToolState& state) {
  HidLink& hid = state.hid;
  for (;;) {
    const uint32_t token = hid.changed.token();
    if (hid.linkEvent.load(std::memory_order_acquire) == 2) return;
    if (hid.rxState.load(std::memory_order_acquire) >= 0) {
      hid.storeRxState(RxIdle);
      continue;
    }
    hid.changed.wait(token, std::chrono::milliseconds(50));
  }
}
