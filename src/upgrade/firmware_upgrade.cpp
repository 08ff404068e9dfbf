#include "upgrade/firmware_upgrade.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/control_ids.h"
#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/config_block.h"
#include "formats/record_layout.h"
#include "hid/hid_transactions.h"
#include "upgrade/firmware_images.h"

namespace {

constexpr uint8_t kUpgradeEnd = 0x7F;
constexpr uint32_t kDriveBlock = 256;
constexpr uint32_t kFrameData = 56;
constexpr std::size_t kReadBackCapacity = 131072;
constexpr uint8_t kFirmwareRecordCommand = 0x64;
constexpr uint8_t kClockRecordCommand = 0x03;

uint32_t Percent(uint32_t sent, uint32_t length) { return sent * 99u / length; }

void SetCaption(FormPort& form, const char* caption) {
  form.setText(ctl::Configure, caption);
  form.refresh(ctl::Configure);
}

void ShowProgress(FormPort& form, uint32_t percent) {
  char caption[32];
  std::snprintf(caption, sizeof caption, "升级中(%02u%%)", percent);
  SetCaption(form, caption);
}

void ClearJob(UpgradeJob& job) {
  job.image.store(nullptr, std::memory_order_release);
  job.length.store(0, std::memory_order_release);
  job.sent.store(0, std::memory_order_release);
  job.checksum.store(0, std::memory_order_release);
}

uint32_t Checksum(std::span<const uint8_t> image) {
  uint32_t sum = 0;
  for (std::size_t at = 0; at + 4 <= image.size(); at += 4)
    sum += static_cast<uint32_t>(image[at]) | static_cast<uint32_t>(image[at + 1]) << 8 |
           static_cast<uint32_t>(image[at + 2]) << 16 | static_cast<uint32_t>(image[at + 3]) << 24;
  return sum;
}

std::string FirmwarePath(const ToolState& state) {
  const std::string& root = state.drives.loggerDriveRoots[0];
  return root.empty() ? std::string() : LoggerFilePath(root, kFirmwareFile);
}

void DriveRouteFailed(ToolState& state) {
  UpgradeJob& job = state.upgradeJob;
  if (job.file >= 0) AbandonVolumeFile(job.file);
  job.file = -1;
  FormPort& form = state.form();
  form.setText(ctl::Configure, kUpgradeFailedCaption);
  ClearJob(job);
  state.poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
  form.refresh(ctl::Configure);
  form.setEnabled(ctl::Configure, false);
  state.messages().show(kUpgradeFailedMessage);
}

// The file reached the device whole and reads back equal. A file that
// cannot be opened again is taken as it was flushed.
bool FirmwareFileVerified(const std::string& path) {
  std::vector<uint8_t> readBack(kReadBackCapacity);
  const std::optional<std::size_t> count = ReadVolumeFile(path, readBack.data(), readBack.size());
  if (!count) return true;
  const std::span<const uint8_t> image = AppImageStm32();
  return *count == image.size() && std::equal(image.begin(), image.end(), readBack.begin());
}

bool AppendFirmwareRecords(ToolState& state) {
  static constexpr std::array<uint8_t, 6> kZeroClock{};
  static constexpr std::array<uint8_t, 8> kFileName{'A', 'P', 'P', '.', 'B', 'I', 'N', 0};
  return AppendRecord(state, kClockRecordCommand, kZeroClock) != 0 &&
         AppendRecord(state, kFirmwareRecordCommand, kFileName) != 0 &&
         AppendRecord(state, kEndCommand, nullptr, 0) != 0;
}

// A stand-in is no firmware: sent to a real logger it would leave the logger
// unable to run, so it goes to virtual loggers only, and a real one is
// configured as it is.
bool StandInRefused(ToolState& state) {
  if (!FirmwareImagesAreStandIns() || state.virtualLoggersOnly) return false;
  ClearJob(state.upgradeJob);
  if (!state.standInRefusalShown) {
    state.standInRefusalShown = true;
    state.messages().show(kStandInRefusalMessage);
  }
  return true;
}

bool StartDriveRoute(ToolState& state) {
  const DeviceInfo& device = state.device;
  if (device.fwVersion >= kAppImageStm32Version) return false;
  UpgradeJob& job = state.upgradeJob;
  const std::span<const uint8_t> image = AppImageStm32();
  job.image.store(image.data(), std::memory_order_release);
  job.length.store(static_cast<uint32_t>(image.size()), std::memory_order_release);
  if (state.poll.driveCount > 1) {
    state.messages().show("Make sure there is only one device inserted in USB!");
    return false;
  }
  if (StandInRefused(state)) return false;
  state.form().setEnabled(ctl::Configure, false);
  state.poll.upgradeState.store(upgrade::DriveWriting, std::memory_order_release);
  return true;
}

bool StartHidRoute(ToolState& state) {
  const DeviceInfo& device = state.device;
  if (device.sensorKind != 1 || (device.capabilityFlags & 0x04) == 0 ||
      (device.capabilityFlags & 0x08) == 0)
    return false;
  if (device.fwVersion >= kAppImageKl26Version) return false;
  UpgradeJob& job = state.upgradeJob;
  const std::span<const uint8_t> image = AppImageKl26();
  job.image.store(image.data(), std::memory_order_release);
  job.length.store(static_cast<uint32_t>(image.size()), std::memory_order_release);
  if (device.productIdHigh != 0 || device.productIdLow != 0x82) {
    ClearJob(job);
    state.messages().show("FW PID/VID Don't match!");
    return false;
  }
  if (state.hid.deviceCount.load(std::memory_order_acquire) > 1) {
    state.messages().show("Failed,make sure there is only one device inserted in USB!");
    return true;
  }
  if (StandInRefused(state)) return false;
  state.form().setEnabled(ctl::Configure, false);
  job.checksum.store(Checksum(image), std::memory_order_release);
  state.poll.upgradeState.store(upgrade::HidSending, std::memory_order_release);
  SendUpgradeFrame(state, false);
  return true;
}

// Builds the next report; false when there is nothing more to send.
bool BuildNextFrame(ToolState& state) {
  UpgradeJob& job = state.upgradeJob;
  HidReport& out = state.hid.outputReport;
  const uint32_t length = job.length.load(std::memory_order_acquire);
  if (length == 0) return false;  // rejected, or the checksum did not match
  const uint32_t sent = job.sent.load(std::memory_order_acquire);
  if (sent < length) {
    const uint32_t before = Percent(sent, length);
    const uint32_t n = std::min(length - sent, kFrameData);
    BuildHidRequest(out, kUpgradeDataCommand, static_cast<uint8_t>(n + 6), sent);
    std::memcpy(out.data() + 6, job.image.load(std::memory_order_acquire) + sent, n);
    job.sent.store(sent + n, std::memory_order_release);
    const uint32_t after = Percent(sent + n, length);
    if (after != before) ShowProgress(state.form(), after);
    return true;
  }
  if (out[1] != kUpgradeDataCommand) return false;
  if (out[2] > 6) {
    // The last data frame went: the final, empty frame asks for the checksum.
    BuildHidRequest(out, kUpgradeDataCommand, 6, sent);
    return true;
  }
  // The final frame's checksum matched.
  BuildHidRequest(out, kUpgradeEnd, 6, 0);
  ClearJob(job);
  state.poll.upgradeState.store(upgrade::HidDone, std::memory_order_release);
  SetCaption(state.form(), kUpgradeDeliveredCaption);
  return true;
}

}  // namespace

bool FirmwareIsCurrent(const DeviceInfo& device) {
  if (device.fwVersionHigh < 0x30) return device.fwVersion >= kAppImageStm32Version;
  if (device.fwVersionHigh == 0x40) return device.fwVersion >= kAppImageKl26Version;
  return true;
}

bool StartFirmwareUpgrade(ToolState& state) {
  if (state.poll.upgradeState.load(std::memory_order_acquire) != upgrade::Idle) return true;
  ClearJob(state.upgradeJob);
  const uint8_t family = state.device.fwVersionHigh;
  if (family < 0x30) return StartDriveRoute(state);
  if (family == 0x40) return StartHidRoute(state);
  return false;
}

void FirmwareUpgradeStep(ToolState& state) {
  UpgradeJob& job = state.upgradeJob;
  const uint32_t length = job.length.load(std::memory_order_acquire);
  if (length == 0) return;
  const std::string path = FirmwarePath(state);
  const uint8_t* image = job.image.load(std::memory_order_acquire);
  uint32_t sent = job.sent.load(std::memory_order_acquire);
  const uint32_t before = Percent(sent, length);
  if (sent == 0) {
    if (job.file >= 0) AbandonVolumeFile(job.file);
    job.file = path.empty() ? -1 : CreateVolumeFile(path);
    if (job.file < 0) {
      DriveRouteFailed(state);
      return;
    }
  }
  while (sent < length) {
    const uint32_t n = std::min(length - sent, kDriveBlock);
    if (!AppendVolumeFile(job.file, image + sent, n)) {
      DriveRouteFailed(state);
      return;
    }
    sent += n;
    job.sent.store(sent, std::memory_order_release);
    const uint32_t now = Percent(sent, length);
    if (now != before) {
      ShowProgress(state.form(), now);
      return;
    }
  }
  // Everything is written: it counts only once the device holds it and it
  // reads back equal, never on the strength of the page cache.
  const VolumeWrite flushed = FinishVolumeFile(job.file, path);
  job.file = -1;
  if (flushed != VolumeWrite::Written || !FirmwareFileVerified(path) ||
      !AppendFirmwareRecords(state)) {
    DriveRouteFailed(state);
    return;
  }
  SetCaption(state.form(), kUpgradeDeliveredCaption);
  ClearJob(job);
  state.poll.upgradeState.store(upgrade::DriveDone, std::memory_order_release);
  state.poll.transferState = TransferWrite;
}

void SendUpgradeFrame(ToolState& state, bool resend) {
  std::lock_guard<std::mutex> lock(state.upgradeJob.frameMutex);
  if (!resend && !BuildNextFrame(state)) return;
  const std::shared_ptr<HidChannel> channel = state.hid.writeChannel.get();
  // Not waited on beyond the write's own limit: the receive thread sees the
  // answer, or sends the frame again after a second of silence.
  if (channel) static_cast<void>(channel->write(state.hid.outputReport, kHidWriteLimitMs));
}
