#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/poll_pass.h"
#include "support/test_tool.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kTold =
    "The logger's disk /dev/sdb1 is plugged in but not mounted. The tool is mounting it now.";
const std::string kAdvice =
    "Mount /dev/sdb1 with your file manager, or run: udisksctl mount -b /dev/sdb1";

class UnmountedDrive : public ::testing::Test {
 protected:
  TestTool tool;
  TempDir volume;
  MemoryMounter mounter;

  void SetUp() override {
    tool.state->ports.mounter = &mounter;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());  // the first pass only resets the form
  }
  void PlugUnmounted() { tool.drives.unmounted = {"/dev/sdb1"}; }
  void Unplug() {
    tool.drives.unmounted.clear();
    tool.drives.drives.clear();
  }
  void Passes(int n) {
    for (int i = 0; i < n; ++i) RunPollPass(tool.s());
  }
  Texts Shown() { return tool.messages.texts(); }
};

TEST_F(UnmountedDrive, ToldOnceAndMountedVolumeIsFoundOnTheNextPass) {
  PlugUnmounted();
  Passes(1);
  EXPECT_EQ(Shown(), Texts{kTold});
  EXPECT_EQ(tool.messages.shown.back().icon, MessageIcon::None);
  EXPECT_EQ(mounter.asked, Texts{"/dev/sdb1"});
  // The system mounted it: the next discovery sees a mounted volume.
  tool.drives.unmounted.clear();
  tool.drives.drives.push_back({"/dev/sdb", volume.path()});
  Passes(3);
  EXPECT_EQ(tool.state->poll.currentDrivePath, "/dev/sdb");
  EXPECT_EQ(Shown(), Texts{kTold});
  EXPECT_EQ(mounter.asked.size(), 1u);
  // Pulled out and plugged in again, still without an automounter: told again.
  Unplug();
  Passes(2);
  EXPECT_EQ(tool.form.text(ctl::Configure), "Plug Device");
  PlugUnmounted();
  Passes(2);
  EXPECT_EQ(Shown(), (Texts{kTold, kTold}));
  EXPECT_EQ(mounter.asked.size(), 2u);
}

TEST_F(UnmountedDrive, RefusedMountSaysOnceWhatToDoInstead) {
  mounter.result = MountResult::Refused;
  mounter.error = "Not authorized to perform operation";
  PlugUnmounted();
  Passes(5);
  EXPECT_EQ(Shown(), (Texts{kTold, "The logger's disk /dev/sdb1 could not be mounted "
                                   "(Not authorized to perform operation).\n" + kAdvice}));
  EXPECT_EQ(tool.messages.shown.back().icon, MessageIcon::Warning);
  EXPECT_EQ(mounter.asked.size(), 1u);  // not asked again while the volume stays
  EXPECT_EQ(tool.form.text(ctl::Configure), "Plug Device");
  Unplug();
  Passes(1);
  PlugUnmounted();
  Passes(1);
  EXPECT_EQ(Shown().size(), 4u);
}

TEST_F(UnmountedDrive, NoUDisksSaysHowToMountByHand) {
  mounter.result = MountResult::Unavailable;
  PlugUnmounted();
  Passes(3);
  EXPECT_EQ(Shown(), (Texts{kTold,
                            "The logger's disk /dev/sdb1 could not be mounted: this system has "
                            "no UDisks2 service.\nMount /dev/sdb1 with your file manager, or as "
                            "root run: mount /dev/sdb1 /mnt"}));
}

TEST_F(UnmountedDrive, WithoutAMounterTheAdviceComesOnce) {
  tool.state->ports.mounter = nullptr;
  PlugUnmounted();
  Passes(3);
  EXPECT_EQ(Shown(), Texts{"The logger's disk /dev/sdb1 is plugged in but not mounted, so its "
                           "settings cannot be read.\n" + kAdvice});
  EXPECT_TRUE(mounter.asked.empty());
}

TEST_F(UnmountedDrive, AMountedLoggerComesFirstAndIsNotInterrupted) {
  tool.drives.drives.push_back({"/dev/sdb", volume.path()});
  tool.drives.unmounted = {"/dev/sdc1"};  // a second logger, not mounted
  Passes(3);
  EXPECT_EQ(tool.state->poll.currentDrivePath, "/dev/sdb");
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(mounter.asked.empty());
}

}  // namespace
