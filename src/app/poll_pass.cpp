#include "app/poll_pass.h"

#include <optional>
#include <string>
#include <vector>

#include "core/control_ids.h"
#include "delivery/configure_flow.h"
#include "delivery/transfer.h"
#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/image_decoder.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "hid/hid_transactions.h"
#include "settings/clock.h"
#include "upgrade/firmware_upgrade.h"

namespace {

constexpr int32_t LinkArrived = 1;
constexpr int32_t LinkRemoved = 2;

void SetCaption(FormPort& form, int id, const char* text) {
  form.setText(id, text);
  form.refresh(id);
}

// A logger back from the upgrade that a Configure click started is read as
// under Setup Lock: only its ID and version reach the form, so the settings
// the user was configuring are the ones that follow, not the logger's old ones.
bool SetupUnlocked(ToolState& state, uint8_t doneState) {
  if (state.poll.upgradeState.load(std::memory_order_acquire) == doneState) return false;
  return !state.form().checked(ctl::SetupLock);
}

// After a logger has been decoded: an upgrade that just finished asks for the
// configuration to follow at once; otherwise the logger may be configured.
void AfterDecode(ToolState& state, uint8_t doneState) {
  if (state.poll.upgradeState.load(std::memory_order_acquire) == doneState) {
    state.poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
    if (!FirmwareIsCurrent(state.device)) {
      // Back at its old version, the upgrade did not take. Configuring now
      // would start the same upgrade again, and again: it fails here instead.
      FormPort& form = state.form();
      SetCaption(form, ctl::Configure, kUpgradeFailedCaption);
      form.setEnabled(ctl::Configure, false);
      state.messages().show(kUpgradeFailedMessage);
      return;
    }
    state.poll.changeFlags |= flag::ConfigureRequested;
    return;
  }
  FormPort& form = state.form();
  form.setEnabled(ctl::Configure, true);
  SetCaption(form, ctl::Configure, "Configure");
}

}  // namespace

void ReadHidLogger(ToolState& state) {
  bool unlocked = SetupUnlocked(state, upgrade::HidDone);
  if (!ReadImageOverHid(state)) return;
  ExtractHeader(state.image, state.device);
  if (state.device.productIdLow != img::LoggerProductIdLow) return;
  if (!DecodeHidImage(state, unlocked)) return;
  AfterDecode(state, upgrade::HidDone);
}

namespace {

void HidBranch(ToolState& state) {
  int32_t event = state.hid.linkEvent.load(std::memory_order_acquire);
  if (event == LinkArrived) {
    state.hid.storeLinkEvent(0);
    ReadHidLogger(state);
  } else if (event == LinkRemoved) {
    state.hid.storeLinkEvent(0);
    ResetForm(state);
  }
}

// Reads "DAT.SRC" of the current logger volume, judges it and decodes it.
void ReadDriveImage(ToolState& state) {
  const std::string& root = state.drives.loggerDriveRoots[0];
  if (root.empty()) return;  // never the filesystem root's "DAT.SRC"
  std::string path = LoggerFilePath(root, kImageFile);
  const std::optional<std::size_t> count =
      ReadVolumeFile(path, state.image.bytes.data(), state.image.bytes.size());
  if (!count) return;
  state.image.length = static_cast<uint32_t>(*count);

  ImageCheck check = CheckDriveImage(state.image);
  if (check != ImageCheck::Accepted) {
    state.messages().show(ImageCheckMessage(check), check == ImageCheck::ChecksumError
                                                        ? MessageIcon::None
                                                        : MessageIcon::Warning);
    return;
  }
  bool unlocked = SetupUnlocked(state, upgrade::DriveDone);
  ExtractHeader(state.image, state.device);
  if (state.device.productIdLow != img::LoggerProductIdLow) return;
  if (state.device.fwVersionHigh >= 0x30) {
    state.messages().show("Device is unsupported!");
    return;
  }
  if (!DecodeDriveImage(state, unlocked)) return;
  AfterDecode(state, upgrade::DriveDone);
}

std::string MountAdvice(const std::string& device) {
  return "Mount " + device + " with your file manager, or run: udisksctl mount -b " + device;
}

// Without an automounter a plugged-in logger has no mounted volume, and the
// person would see "Plug Device" with the logger in the socket. They are told
// once per appearance of the volume; a mount that works shows up as a found
// drive on the next pass.
void OfferMount(ToolState& state, DrivePort& drives) {
  PollState& poll = state.poll;
  std::vector<std::string> unmounted = drives.unmountedLoggerVolumes();
  if (unmounted.empty()) {
    poll.unmountedReported.clear();
    return;
  }
  const std::string& device = unmounted.front();
  if (poll.unmountedReported == device) return;
  poll.unmountedReported = device;

  const std::string disk = "The logger's disk " + device;
  VolumeMounter* mounter = state.ports.mounter;
  if (!mounter) {
    state.messages().show(disk + " is plugged in but not mounted, so its settings cannot be read.\n" +
                          MountAdvice(device));
    return;
  }
  state.messages().show(
      disk + " is plugged in but not mounted. The tool is mounting it now.", MessageIcon::None);
  std::string mountPoint;
  std::string error;
  MountResult result = mounter->mount(device, mountPoint, error);
  if (result == MountResult::Mounted) return;
  if (result == MountResult::Unavailable) {
    state.messages().show(disk + " could not be mounted: this system has no UDisks2 service.\n" +
                          "Mount " + device + " with your file manager, or as root run: mount " +
                          device + " /mnt");
    return;
  }
  state.messages().show(disk + " could not be mounted" + (error.empty() ? "" : " (" + error + ")") +
                        ".\n" + MountAdvice(device));
}

void DriveBranch(ToolState& state) {
  PollState& poll = state.poll;
  DrivePort* drives = state.ports.drives;
  if (poll.driveState == Scan) {
    int found = drives ? drives->findLoggerDrives(state.drives) : 0;
    poll.driveCount = static_cast<uint8_t>(found < 0 ? 0 : found);
    if (poll.driveCount > 0) poll.unmountedReported.clear();
    if (poll.currentDrivePath.empty()) {
      if (poll.driveCount > 0) {
        poll.currentDriveRoot = state.drives.loggerDriveRoots[0];
        poll.currentDrivePath = state.drives.loggerDiskPaths[0];
        poll.driveState = Found;
      } else if (drives) {
        OfferMount(state, *drives);
      }
    } else if (!drives || !drives->diskPresent(poll.currentDrivePath)) {
      poll.currentDrivePath.clear();
      poll.currentDriveRoot.clear();
      poll.driveCount = 0;
      poll.driveState = Lost;
    }
  }
  if (poll.driveState == Found) ReadDriveImage(state);
  if (poll.driveState == Lost) ResetForm(state);
  poll.driveState = Scan;
}

}  // namespace

void InitialiseForm(ToolState& state) {
  FormPort& form = state.form();

  state.drives.loggerDiskPaths[0].clear();
  state.drives.loggerDriveRoots[0].clear();
  state.poll.currentDrivePath.clear();
  state.poll.currentDriveRoot.clear();
  state.poll.driveCount = 0;
  state.poll.driveState = Scan;

  state.hid.storeRxState(RxIdle);
  state.hid.deviceCount.store(0, std::memory_order_release);
  state.hid.storeLinkEvent(0);

  int zone = InitialTimeZoneIndex(-state.pcClock().standardOffsetMinutes());
  form.setSelection(ctl::TimeZone, zone >= 0 && zone < kTimeZoneEntries ? zone : -1);
  form.setSelection(ctl::DateFormat, 1);
  form.setSelection(ctl::Channel, 0);
  form.setSelection(ctl::TempUnit, 0);
  form.setSelection(ctl::PdfLanguage, 0);

  form.setChecked(ctl::PowerSave, false);
  form.setEnabled(ctl::StartPicker, false);
  form.setChecked(ctl::StartOnTime, false);
  form.setEnabled(ctl::StartOnTime, false);
  form.setChecked(ctl::SetupLock, false);
  form.setChecked(ctl::EnableAlarm, false);
  form.setChecked(ctl::OutputCsv, false);

  static constexpr struct {
    int id;
    const char* text;
  } kInitialTexts[] = {
      {ctl::StartDelay, "30"},      {ctl::Interval, "1"},
      {ctl::LowTempAlarm, "2.0"},   {ctl::HighTempAlarm, "8.0"},
      {ctl::LowHumidityAlarm, "20.0"}, {ctl::HighHumidityAlarm, "80.0"},
      {ctl::Trademark, "KELM"},     {ctl::DeviceName, ""},
      {ctl::UserInfo, ""},          {ctl::Website, ""},
      {ctl::DeviceId, ""},          {ctl::PdfPassword, ""},
      {ctl::RecordLedFlash, "0"},   {ctl::AlarmLedFlash, "0"},
  };
  for (const auto& t : kInitialTexts) form.setText(t.id, t.text);
  state.settings.tempAlarmLowC = 2.0;
  state.settings.tempAlarmLowF = 35.6;
  state.settings.tempAlarmHighC = 8.0;
  state.settings.tempAlarmHighF = 46.4;
  state.device.sensorTempMin = -2000;
  state.device.sensorTempMax = 2000;

  state.block.length = 0;
  state.poll.transferState = TransferIdle;
  state.poll.transferAttempts = 0;
  state.clock.loggerClock = LoggerClock{};
  state.poll.changeFlags = 0;
  state.poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
}

int RunPollPass(ToolState& state) {
  PollState& poll = state.poll;
  if (!poll.firstPassDone) {
    poll.firstPassDone = true;
    ResetForm(state);
    state.form().setDateTimeFormat(ctl::StartPicker, "yyyy/MM/dd HH:mm");
    return kPollPeriodMs;
  }

  uint8_t upgradeState = poll.upgradeState.load(std::memory_order_acquire);
  if (upgradeState == upgrade::DriveWriting) {
    FirmwareUpgradeStep(state);
    return kDriveUpgradePeriodMs;
  }
  if (upgradeState == upgrade::HidSending) {
    if (state.hid.writeChannel.open()) return kHidUpgradePeriodMs;
    // The logger went away while its firmware was being sent.
    state.upgradeJob.length.store(0, std::memory_order_release);
    state.upgradeJob.sent.store(0, std::memory_order_release);
    poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
    state.messages().show("Upgrade failed,Make sure the device is connected well");
  }

  if (state.hid.deviceCount.load(std::memory_order_acquire) != 0 ||
      state.hid.linkEvent.load(std::memory_order_acquire) != 0)
    HidBranch(state);
  else
    DriveBranch(state);

  ConfigureFlow(state);
  ConfigurationTransfer(state);
  return kPollPeriodMs;
}

void ResetForm(ToolState& state) {
  FormPort& form = state.form();
  if (state.poll.transferState != TransferIdle)
    state.messages().show("Configuration failed ,Make sure the device is connected well");
  state.poll.currentDrivePath.clear();
  state.poll.currentDriveRoot.clear();
  state.poll.transferState = TransferIdle;
  state.poll.transferAttempts = 0;
  state.block.length = 0;
  SetCaption(form, ctl::FwVersion, "FW Version:");
  SetCaption(form, ctl::RecordingTime, "Longest Recording Time:");
  if (state.poll.upgradeState.load(std::memory_order_acquire) != upgrade::Idle) return;
  SetCaption(form, ctl::Configure, "Plug Device");
  form.setEnabled(ctl::Configure, false);
}
