#include "hid/hid_transactions.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kTransferEnd = 0x94;
constexpr uint8_t kUpgradeEnd = 0x7F;
constexpr std::size_t kMaxPayload = kHidReportSize - 6;
constexpr milliseconds kPoll{1};
// Everything the decoders read lies below this many image bytes.
constexpr uint32_t kImageHeadBytes = 516;

enum class Request { Written, Gone, ShortCount, WaitFailed };
enum class Answer { Held, Gone, None };

// A report left over from an earlier exchange is released.
void ReleaseHeld(HidLink& hid) {
  if (hid.rxState.load(std::memory_order_acquire) >= 0) hid.storeRxState(RxIdle);
}

// Writes outputReport once the receive thread has a read outstanding, so the
// answer cannot be missed; a write the device does not take within its limit
// is written again for as long as the link is open.
Request WriteRequest(ToolState& state) {
  HidLink& hid = state.hid;
  for (;;) {
    for (;;) {
      const uint32_t token = hid.changed.token();
      if (!hid.writeChannel.open()) return Request::Gone;
      const int32_t rx = hid.rxState.load(std::memory_order_acquire);
      if (rx == RxPending) break;
      if (rx >= 0) {
        hid.storeRxState(RxIdle);  // arrived unasked: not the answer
        continue;
      }
      hid.changed.wait(token, kPoll);
    }
    const std::shared_ptr<HidChannel> channel = hid.writeChannel.get();
    if (!channel) return Request::Gone;
    const HidWriteResult written = channel->write(hid.outputReport, kHidWriteLimitMs);
    switch (written.status) {
      case HidWrite::Written:
        return written.count == kHidReportSize ? Request::Written : Request::ShortCount;
      case HidWrite::Busy:
        std::this_thread::sleep_for(kPoll);  // not taken at all: try again shortly
        continue;
      case HidWrite::TimedOut:
        continue;
      case HidWrite::Gone:
        return Request::Gone;
      case HidWrite::Failed:
        state.messages().show("HID发送未知错误!");
        return Request::WaitFailed;
    }
  }
}

// Waits up to the link's answer limit (3000 ms) for the receive thread to
// hold an answer, waking as soon as anything on the link changes.
Answer AwaitAnswer(HidLink& hid) {
  const Clock::time_point deadline = Clock::now() + hid.answerLimit;
  for (;;) {
    const uint32_t token = hid.changed.token();
    if (!hid.writeChannel.open()) return Answer::Gone;
    if (hid.rxState.load(std::memory_order_acquire) >= 0) return Answer::Held;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return Answer::None;
    hid.changed.wait(token, deadline - now);
  }
}

}  // namespace

void BuildHidRequest(HidReport& report, uint8_t command, uint8_t length, uint32_t offset) {
  report.fill(0);
  report[0] = kReportId;
  report[1] = command;
  report[2] = length;
  report[3] = static_cast<uint8_t>(offset);
  report[4] = static_cast<uint8_t>(offset >> 8);
  report[5] = static_cast<uint8_t>(offset >> 16);
}

bool ReadImageOverHid(ToolState& state) {
  HidLink& hid = state.hid;
  uint32_t received = 0;
  int wrong = 0;
  for (;;) {
    if (!hid.writeChannel.open()) return false;
    ReleaseHeld(hid);
    BuildHidRequest(hid.outputReport, kReadImageCommand, 6, received);
    if (WriteRequest(state) != Request::Written) return false;
    if (AwaitAnswer(hid) != Answer::Held) return false;

    if (hid.inputReport[1] == kReadImageCommand) {
      // The receive thread holds only reports whose length byte is 6..64.
      const uint32_t n = static_cast<uint32_t>(hid.inputReport[2] - 6);
      std::memcpy(state.image.bytes.data() + received, hid.inputReport.data() + 6, n);
      received += n;
      state.image.length = received;
      hid.storeRxState(RxIdle);
      if (n == 0) return true;
    } else if (++wrong > 10) {
      return false;  // the held report is released by the next exchange
    }
    if (received >= kImageHeadBytes) return true;
  }
}

int32_t SendHidCommand(ToolState& state, uint8_t command, uint8_t length, uint32_t offset,
                       const uint8_t* data) {
  HidLink& hid = state.hid;
  const bool noAnswer = command == kTransferEnd || command == kUpgradeEnd;
  if (!hid.writeChannel.open()) return noAnswer ? HidSent : HidDeviceGone;
  ReleaseHeld(hid);

  BuildHidRequest(hid.outputReport, command, length, offset);
  const std::size_t payload = static_cast<uint8_t>(length - 6);
  if (payload > kMaxPayload)
    state.messages().show("HID命令非法:PL错误!");
  else if (payload > 0)
    std::memcpy(hid.outputReport.data() + 6, data, payload);

  switch (WriteRequest(state)) {
    case Request::Written:
      break;
    case Request::Gone:
      return noAnswer ? HidSent : HidDeviceGone;
    case Request::ShortCount:
      return HidShortWrite;
    case Request::WaitFailed:
      return HidWaitFailed;
  }
  if (noAnswer) {
    std::this_thread::sleep_for(kPoll);
    return HidSent;
  }
  switch (AwaitAnswer(hid)) {
    case Answer::Held:
      return HidSent;
    case Answer::Gone:
      return HidDeviceGone;
    case Answer::None:
      break;
  }
  return hid.writeChannel.open() ? HidNoAnswer : HidDeviceGone;
}
