#include "delivery/transfer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/control_ids.h"
#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/record_layout.h"
#include "hid/hid_transactions.h"

namespace {

constexpr uint8_t kSingleUseCapability = 0x10;
constexpr std::string_view kConnectedWell = "Make sure the device is connected well ";
constexpr std::string_view kSingleUse = "Make sure the single use device can be configured";
constexpr std::string_view kConfigurationFailed = "Configuration failed ";
constexpr std::array<uint8_t, 2> kConfirmBytes{'O', 'K'};

// Every ending, successful or not, drops the block and its round count.
void EndDelivery(ToolState& state) {
  state.poll.transferState = TransferIdle;
  state.block.length = 0;
  state.poll.transferAttempts = 0;
}

// The answer report belongs to this thread only while rxState holds a count;
// after a command that awaits no answer the receive thread may own it.
void ReleaseAnswer(HidLink& hid) {
  if (hid.rxState.load(std::memory_order_acquire) >= 0)
    hid.storeRxState(RxIdle);
}

// A delivery that failed while the logger stays connected leaves nothing to
// re-read it, so without this the button would say "Configuring..." and stay
// disabled until the logger is pulled out. It may be tried again at once.
void OfferConfigureAgain(ToolState& state) {
  if (!state.hid.writeChannel.open()) return;  // removal resets the form instead
  FormPort& form = state.form();
  form.setText(ctl::Configure, "Configure");
  form.refresh(ctl::Configure);
  form.setEnabled(ctl::Configure, true);
}

void HidRoute(ToolState& state) {
  MessagePort& messages = state.messages();
  if (AppendRecord(state, kTransferEndCommand, nullptr, 0) == 0) {
    // Without its end record the logger would not know the delivery is over.
    EndDelivery(state);
    messages.show(kConfigurationFailed);
    OfferConfigureAgain(state);
    return;
  }
  bool failed = false;
  const HidWalk walk = WalkHidChunks(BlockBytes(state.block), [&](const HidChunk& chunk) {
    const int32_t result =
        SendHidCommand(state, chunk.command, chunk.length, chunk.offset, chunk.data.data());
    if (result != HidSent) {
      failed = true;
      messages.show(kConfigurationFailed);
      return false;
    }
    if (chunk.command == kTransferEndCommand || chunk.command == kUpgradeEndCommand) return false;
    const uint8_t answerCommand = state.hid.inputReport[1];
    const uint8_t code = state.hid.inputReport[6];
    // Released before any message, so the receive thread is not held up
    // while the box is open.
    ReleaseAnswer(state.hid);
    switch (JudgeHidAnswer(chunk.command, answerCommand, code)) {
      case HidAnswer::CommandError:
        failed = true;
        messages.show("Command Error!");
        return false;
      case HidAnswer::EndRecordFailed:
        failed = true;
        messages.show(kConfigurationFailed);
        return true;
      case HidAnswer::Accepted:
        return true;
    }
    return true;
  });
  // A malformed record would make the walk loop or read past it: nothing
  // more is sent and the block is dropped.
  if (walk == HidWalk::BadRecord) {
    failed = true;
    messages.show("HID CMD Error!");
  }
  ReleaseAnswer(state.hid);
  EndDelivery(state);
  if (failed) OfferConfigureAgain(state);
}

// Path of a file on the first logger volume; empty when no volume is known,
// so that nothing is ever written to the filesystem root instead.
std::string VolumeFile(const ToolState& state, const char* name) {
  const std::string& root = state.drives.loggerDriveRoots[0];
  return root.empty() ? std::string() : LoggerFilePath(root, name);
}

void RefuseConfigure(ToolState& state, std::string_view message) {
  EndDelivery(state);
  FormPort& form = state.form();
  form.setText(ctl::Configure, "Failed ");
  form.refresh(ctl::Configure);
  form.setEnabled(ctl::Configure, false);
  state.messages().show(message);
}

// A round whose bytes did not reach the volume intact: write again next pass,
// unless the rounds are used up.
void RoundFailed(ToolState& state) {
  if (state.poll.transferAttempts >= kMaxConfigWrites) {
    RefuseConfigure(state, kConnectedWell);
    return;
  }
  state.poll.transferState = TransferWrite;
}

void WriteConfigFile(ToolState& state) {
  if (state.poll.transferAttempts < UINT8_MAX) ++state.poll.transferAttempts;
  const std::string path = VolumeFile(state, kConfigFile);
  const std::span<const uint8_t> block = BlockBytes(state.block);
  const VolumeWrite written =
      path.empty() ? VolumeWrite::NotCreated
                   : WriteVolumeFileChecked(path, block.data(), block.size());
  switch (written) {
    case VolumeWrite::Written:
      state.poll.transferState = TransferVerify;
      return;
    case VolumeWrite::Incomplete:
      // A read-back could be served what never reached the device.
      RoundFailed(state);
      return;
    case VolumeWrite::NotCreated:
      RefuseConfigure(state, (state.device.capabilityFlags & kSingleUseCapability) != 0
                                 ? kSingleUse
                                 : kConnectedWell);
      return;
  }
}

void VerifyConfigFile(ToolState& state) {
  const std::string path = VolumeFile(state, kConfigFile);
  if (path.empty()) return;
  std::array<uint8_t, kBlockCapacity> readBack{};
  const std::optional<std::size_t> count = ReadVolumeFile(path, readBack.data(), readBack.size());
  if (!count) {
    // Tried again next pass, but a file that never opens again must not keep
    // the delivery waiting forever without a word: it spends a round.
    if (state.poll.transferAttempts < UINT8_MAX) ++state.poll.transferAttempts;
    if (state.poll.transferAttempts > kMaxConfigWrites) RefuseConfigure(state, kConnectedWell);
    return;
  }
  const std::span<const uint8_t> block = BlockBytes(state.block);
  if (*count == block.size() && std::equal(block.begin(), block.end(), readBack.begin())) {
    state.poll.transferState = TransferConfirm;
    return;
  }
  RoundFailed(state);
}

void ConfirmConfigFile(ToolState& state) {
  const std::string path = VolumeFile(state, kConfirmFile);
  const VolumeWrite written =
      path.empty() ? VolumeWrite::NotCreated
                   : WriteVolumeFileChecked(path, kConfirmBytes.data(), kConfirmBytes.size());
  if (written == VolumeWrite::Written) {
    EndDelivery(state);
    return;
  }
  // As when "CONFIG.CFG" cannot be created: the logger stays plugged in
  // without a confirmation, so nothing would ever move the button on.
  RefuseConfigure(state, kConnectedWell);
}

}  // namespace

HidAnswer JudgeHidAnswer(uint8_t sentCommand, uint8_t answerCommand, uint8_t code) {
  if (answerCommand == kStatusAnswer && code >= 2 && code <= 5) return HidAnswer::CommandError;
  if (sentCommand == kEndCommand && code == 1) return HidAnswer::EndRecordFailed;
  return HidAnswer::Accepted;
}

void ConfigurationTransfer(ToolState& state) {
  const uint8_t step = state.poll.transferState;
  if (step == TransferIdle) return;
  if (state.hid.deviceCount.load(std::memory_order_acquire) != 0) {
    HidRoute(state);
    return;
  }
  if (state.poll.driveCount == 0) return;  // the block waits for a logger
  switch (step) {
    case TransferWrite:
      WriteConfigFile(state);
      break;
    case TransferVerify:
      VerifyConfigFile(state);
      break;
    case TransferConfirm:
      ConfirmConfigFile(state);
      break;
    default:
      break;
  }
}
