#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "app/poll_pass.h"
#include "app/profile.h"
#include "app/provision_record.h"
#include "core/control_ids.h"
#include "formats/config_block.h"
#include "settings/validation.h"
#include "sim/virtual_drives.h"
#include "support/test_tool.h"
#include "window_fixture.h"

namespace {

// A window with a virtual drive logger read into its form.
void ReadLogger(ToolState& state, FormModel& form, VirtualDrives& drives, VirtualDriveLogger& logger) {
  drives.add(logger);
  state.ports.drives = &drives;
  ASSERT_TRUE(logger.plugIn());
  for (int pass = 0; pass < 10 && form.text(ctl::Configure) != "Configure"; ++pass) RunPollPass(state);
  ASSERT_EQ(form.text(ctl::Configure), "Configure");
}

// The settings a Configure would send, clock aside.
std::string SettingsSent(ToolState& state) {
  if (!ValidateSettings(state) || !BuildConfigBlock(state)) return "refused";
  return SettingsDigest(BlockBytes(state.block));
}

// Save from one window, load into a fresh one: the same settings, typed
// and picked as a person would; a profile the form cannot take changes nothing.
TEST_F(WindowTest, AProfileCarriesTheFormToAFreshWindow) {
  TempDir dir;
  VirtualDrives drives;
  VirtualDriveLogger logger(dir.file("first"));
  ReadLogger(*state, window->form(), drives, logger);
  FormModel& form = window->form();
  ASSERT_TRUE(form.userEdits(ctl::DeviceName, "冷库 2"));
  ASSERT_TRUE(form.userEdits(ctl::Interval, "120"));
  ASSERT_TRUE(form.userEdits(ctl::LowTempAlarm, "-5.5"));
  ASSERT_TRUE(form.userSelects(ctl::DateFormat, 2));
  ASSERT_TRUE(form.userSelects(ctl::TimeZone, form.findEntry(ctl::TimeZone, "UTC-03:30")));
  RunPollPass(*state);
  ASSERT_TRUE(window->saveProfileTo(dir.file("room.json")));

  auto freshOwned = std::make_unique<ToolState>();
  ToolState& freshState = *freshOwned;
  freshState.ports.messages = &messages;
  freshState.ports.clock = &clock;
  freshState.virtualLoggersOnly = true;
  CUSBDlg fresh(freshState);
  VirtualDrives freshDrives;
  VirtualDriveLogger freshLogger(dir.file("second"));
  ReadLogger(freshState, fresh.form(), freshDrives, freshLogger);
  ASSERT_TRUE(fresh.loadProfileFrom(dir.file("room.json"))) << messages.last();
  RunPollPass(freshState);
  EXPECT_EQ(SaveProfile(fresh.form()), SaveProfile(form));
  EXPECT_EQ(SettingsSent(freshState), SettingsSent(*state)) << messages.last();

  const std::string before = SaveProfile(fresh.form());
  std::string text = SaveProfile(form);
  text.replace(text.find("\"120\""), 5, "\"sixty\"");
  std::ofstream(dir.file("bad.json")) << text;
  EXPECT_FALSE(fresh.loadProfileFrom(dir.file("bad.json")));
  EXPECT_NE(messages.last().find("\"intervalSeconds\""), std::string::npos) << messages.last();
  EXPECT_FALSE(fresh.loadProfileFrom(dir.file("missing.json")));
  EXPECT_EQ(SaveProfile(fresh.form()), before);
}

}  // namespace
