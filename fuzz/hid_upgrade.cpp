// A logger's answers to firmware frames over HID, judged by the real receive
// thread, which sends each next frame through the tool's upgrade hook.
//
// Holds: the data frames carry the image in order, each byte once, and the
// final frame asks at the image's length; after an answer that rejects a
// frame nothing more is sent and the upgrade is over; UpgradeEnd goes out
// only after an answer to the final frame with the right checksum, as the
// last report, and then the upgrade is done; a wrong checksum is told and
// leaves no UpgradeEnd to follow.

#include <memory>
#include <vector>

#include "app/hid_link.h"
#include "fuzz_support.h"
#include "hid/hid_transactions.h"
#include "scripted_hid.h"
#include "upgrade/firmware_upgrade.h"

namespace {

constexpr uint8_t kUpgradeData = 0x93;
constexpr uint8_t kUpgradeEnd = 0x7F;

uint32_t Offset(const HidReport& r) { return static_cast<uint32_t>(r[3] | r[4] << 8 | r[5] << 16); }

uint32_t WordSum(const std::vector<uint8_t>& image) {
  uint32_t sum = 0;
  for (std::size_t at = 0; at + 4 <= image.size(); at += 4)
    sum += static_cast<uint32_t>(image[at]) | static_cast<uint32_t>(image[at + 1]) << 8 |
           static_cast<uint32_t>(image[at + 2]) << 16 | static_cast<uint32_t>(image[at + 3]) << 24;
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  FuzzInput in(data, size);
  // A short image keeps each run quick; its length is a multiple of 4, as both images are.
  const uint8_t shape = in.byte();
  std::vector<uint8_t> image(4u * (1u + shape % 64u));
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + shape);
  const uint32_t checksum = WordSum(image);

  ScriptedLogger logger(in, true);
  auto tool = std::make_unique<TestTool>();
  ToolState& s = tool->s();
  OpenLink(s, logger);
  UpgradeJob& job = s.upgradeJob;
  job.image.store(image.data());
  job.length.store(static_cast<uint32_t>(image.size()));
  job.sent.store(0);
  job.checksum.store(checksum);
  s.poll.upgradeState.store(upgrade::HidSending);
  // As StartFirmwareUpgrade does: the first frame from the user-interface thread.
  SendUpgradeFrame(s, false);
  std::unique_ptr<HidReceiveThread> receiver = StartHidReceiveThread(s, logger);
  AwaitRemoval(s);
  receiver.reset();

  const std::vector<HidEvent> events = logger.events();
  HidReport last{};            // the last report written
  uint32_t expectedOffset = 0;  // of the next new data frame
  bool rejected = false;
  bool mismatched = false;
  std::size_t mismatches = 0;  // answers to the final frame, sent again or not, with a wrong sum
  bool matched = false;         // the final frame's answer carried the right checksum
  bool ended = false;
  for (const HidEvent& e : events) {
    if (e.kind == HidEvent::Write) {
      const HidReport& w = e.report;
      Require(!rejected, "nothing is sent after a rejection");
      Require(!ended, "UpgradeEnd is the last report");
      if (w == last) continue;  // sent again after silence
      if (w[1] == kUpgradeData && w[2] > 6) {
        const uint32_t n = w[2] - 6u;
        Require(Offset(w) == expectedOffset && n <= 56 && expectedOffset + n <= image.size() &&
                    std::equal(w.begin() + 6, w.begin() + 6 + n, image.begin() + expectedOffset),
                "the data frames carry the image in order, each byte once");
        expectedOffset += n;
      } else if (w[1] == kUpgradeData) {
        Require(expectedOffset == image.size() && Offset(w) == image.size(),
                "the final frame follows the whole image and asks at its length");
      } else {
        Require(w[1] == kUpgradeEnd && w[2] == 6, "only upgrade frames are sent");
        Require(matched && !mismatched, "UpgradeEnd follows only a matching checksum");
        ended = true;
      }
      last = w;
      continue;
    }
    if (e.kind != HidEvent::Answer || rejected || ended) continue;
    if (last[1] != kUpgradeData) continue;
    if (e.report[1] != kUpgradeData) {
      rejected = true;
      continue;
    }
    if (last[2] == 6) {
      const uint32_t told = static_cast<uint32_t>(e.report[6] | e.report[7] << 8 |
                                                  e.report[8] << 16) |
                            static_cast<uint32_t>(e.report[9]) << 24;
      if (told != checksum) {
        mismatched = true;
        ++mismatches;
      } else if (!mismatched) {
        matched = true;  // after a mismatch the job is gone: no UpgradeEnd follows
      }
    }
  }

  const uint8_t state = s.poll.upgradeState.load();
  auto told = [&](const char* text) {
    std::size_t n = 0;
    for (const std::string& m : tool->messages.texts()) n += m == text;
    return n;
  };
  if (rejected) {
    Require(state == upgrade::Idle && job.length.load() == 0, "a rejection ends the upgrade");
    Require(told("Upgrade was Rejected") == 1, "a rejection is told once");
  } else {
    Require(told("Upgrade was Rejected") == 0, "no rejection, none told");
  }
  Require(told("Failed to upgrade: Checksum Error!") == mismatches,
          "every answer with a wrong checksum is told");
  Require((state == upgrade::HidDone) == ended, "the upgrade is done exactly when UpgradeEnd went");
  if (!rejected && !ended) Require(state == upgrade::HidSending, "an unfinished upgrade goes on");
  return 0;
}
