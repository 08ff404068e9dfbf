#include "app/command.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include <nlohmann/json.hpp>

#include "app/console.h"
#include "app/form_model.h"
#include "app/headless.h"
#include "app/hid_link.h"
#include "app/instance_guard.h"
#include "app/poll_pass.h"
#include "app/profile.h"
#include "app/provision_record.h"
#include "app/tool_ports.h"
#include "core/codepage.h"
#include "core/control_ids.h"
#include "formats/config_block.h"

namespace {

std::string FirmwareText(uint16_t version) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", version);
  return text;
}

std::string ZoneText(int32_t minutes) {
  char text[16];
  const int32_t magnitude = minutes < 0 ? -minutes : minutes;
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

}  // namespace

int RunCommandWithoutWindow(const CommandLine& line) {
  StopSignals stop;  // first: every thread started later has the signals blocked
  ConsoleMessages console;

  std::string profileText;
  std::string error;
  if (line.command == Command::Apply) {
    std::optional<std::string> text = ReadProfileFile(line.profile, error);
    if (!text) {
      console.show(error);
      return exit_status::ProfileInvalid;
    }
    profileText = std::move(*text);
  }

  InstanceGuard guard;
  switch (guard.acquire()) {
    case GuardResult::ToolRunning:
      console.show(InstanceGuard::ToolRunningMessage());
      return exit_status::ToolRunning;
    case GuardResult::CalibrationRunning:
      console.show(InstanceGuard::CalibrationRunningMessage());
      return exit_status::ToolRunning;
    case GuardResult::Acquired: break;
  }

  auto state = std::make_unique<ToolState>();
  ToolPorts ports(*state, line.demo, error);
  if (!error.empty()) {
    console.line("thlogger-config: " + error);
    return 1;
  }
  for (const std::string& notice : ports.demoNotice()) console.line("thlogger-config: " + notice);
  state->ports.messages = &console;
  FormModel form(*state);
  state->ports.form = &form;
  InitialiseForm(*state);
  // The window's picker starts at the PC's clock; so does this one.
  form.setDateTime(ctl::StartPicker, state->ports.clock->now().local);

  // A profile the form cannot take is said before any logger is waited for:
  // loaded into a scratch form that nobody sees.
  if (line.command == Command::Apply) {
    auto scratch = std::make_unique<ToolState>();  // large: not on the stack
    ConsoleMessages quiet(nullptr);
    FormModel scratchForm(*scratch);
    scratch->ports.form = &scratchForm;
    scratch->ports.messages = &quiet;
    scratch->ports.clock = state->ports.clock;
    InitialiseForm(*scratch);
    const ProfileLoad checked = LoadProfile(*scratch, profileText);
    if (!checked.ok) {
      console.show(checked.message);
      return exit_status::ProfileInvalid;
    }
  }
  if (!CodePageAvailable()) console.show(NoCodePageMessage());

  HeadlessHooks hooks;
  hooks.beforePass = [&form] { form.applyCarried(); };
  hooks.loadProfile = [&form, &profileText](ToolState& s) -> std::optional<std::string> {
    const ProfileLoad loaded = LoadProfile(s, profileText);
    if (!loaded.ok) return loaded.message;
    form.setDateTime(ctl::StartPicker, loaded.startTime);
    return std::nullopt;
  };
  const std::string profileName = std::filesystem::path(line.profile).stem().string();
  hooks.recordLogger = [&](const ProvisionedLogger& logger) {
    if (line.record.empty()) return true;
    ProvisionEntry entry;
    entry.when = std::chrono::system_clock::now();
    entry.zone = logger.sent.length != 0 ? ZoneText(logger.zoneMinutes) : "";
    entry.deviceId = logger.deviceId;
    entry.firmwareBefore = FirmwareText(logger.firmwareBefore);
    entry.firmwareAfter = logger.firmwareAfter ? FirmwareText(logger.firmwareAfter) : "";
    entry.profileName = profileName;
    entry.settingsSha256 = logger.sent.length != 0 ? SettingsDigest(BlockBytes(logger.sent)) : "";
    entry.result = logger.verified ? "verified" : "failed: " + logger.failure;
    const RecordWrite written = AppendProvisionRecord(line.record, entry);
    if (!written.ok) console.show(written.message);
    return written.ok;
  };
  // The profile's fields, then what a profile leaves out: which logger it is.
  hooks.describeJson = [](ToolState& s) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(SaveProfile(s.form()), nullptr, false);
    doc["deviceId"] = s.form().text(ctl::DeviceId);
    doc["firmwareVersion"] = FirmwareText(static_cast<uint16_t>(s.device.fwVersionHigh << 8 | s.device.fwVersionLow));
    return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  };

  // Last: stopped and joined before the form and the state it uses go.
  std::unique_ptr<HidReceiveThread> receiver;
  if (state->ports.hid) receiver = StartHidReceiveThread(*state, *state->ports.hid);

  HeadlessRun run(*state, console, &stop, std::move(hooks));
  const int status = line.command == Command::Apply ? run.apply(line.each, line.timeoutSeconds)
                                                    : run.read(line.json, line.timeoutSeconds);
  if (receiver) receiver->stop();
  return status;
}
