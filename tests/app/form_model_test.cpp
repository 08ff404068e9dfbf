#include "app/form_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/poll_pass.h"
#include "support/test_tool.h"

namespace {

// Records what a window would be told, with the control's text at that moment.
struct RecordingView : FormView {
  const FormModel* model = nullptr;
  std::vector<std::pair<int, std::string>> changes;
  std::vector<std::pair<int, bool>> focuses;
  std::vector<int> refreshed;
  void controlChanged(int id) override { changes.emplace_back(id, model->text(id)); }
  void focus(int id, bool caretAtEnd) override { focuses.emplace_back(id, caretAtEnd); }
  void refresh(int id) override { refreshed.push_back(id); }
  std::vector<std::string> textsOf(int id) const {
    std::vector<std::string> texts;
    for (const auto& [changed, text] : changes)
      if (changed == id) texts.push_back(text);
    return texts;
  }
};

// The form without a window, initialised as the tool starts.
class FormModelTest : public ::testing::Test {
 protected:
  TestTool tool;
  FormModel model{tool.s()};
  RecordingView view;
  int wakes = 0;

  FormModelTest() {
    tool.s().ports.form = &model;
    view.model = &model;
    model.setView(&view);
    model.setWake([this] { ++wakes; });
    tool.clock.standardOffset = 480;
    InitialiseForm(tool.s());
    view.changes.clear();
  }
  uint32_t& flags() { return tool.s().poll.changeFlags; }
};

TEST_F(FormModelTest, ProgramWritesAndUserActionsReportAsTheWindowDoes) {
  EXPECT_EQ(flags(), 0u);
  EXPECT_EQ(model.text(ctl::Configure), "Plug Logger");
  EXPECT_FALSE(model.enabled(ctl::Configure));
  EXPECT_EQ(model.text(ctl::TimeZone), "UTC+08:00");

  // Every program write of an edit box notifies, also one that changes
  // nothing; the view hears only of a real change.
  model.setText(ctl::LowTempAlarm, "4.0");
  EXPECT_EQ(flags(), flag::LowTempAlarmEdited);
  flags() = 0;
  tool.s().alarmEdit.suppressLowTempEdit = true;
  const std::size_t changesBefore = view.changes.size();
  model.setText(ctl::LowTempAlarm, "4.0");
  EXPECT_FALSE(tool.s().alarmEdit.suppressLowTempEdit);  // consumed by the same-text write
  EXPECT_EQ(flags(), 0u);
  EXPECT_EQ(view.changes.size(), changesBefore);

  // The alarm box's rule runs through the notification: a second decimal
  // is cut, the caret goes to the end, and the view ends on the cut text.
  model.setText(ctl::LowTempAlarm, "25.55");
  EXPECT_EQ(model.text(ctl::LowTempAlarm), "25.5");
  EXPECT_EQ(view.textsOf(ctl::LowTempAlarm).back(), "25.5");
  EXPECT_EQ(model.focused(), ctl::LowTempAlarm);
  EXPECT_TRUE(model.caretAtEnd());
  ASSERT_FALSE(view.focuses.empty());
  EXPECT_EQ(view.focuses.back(), std::make_pair(ctl::LowTempAlarm, true));
  EXPECT_EQ(view.refreshed.back(), ctl::LowTempAlarm);

  // The user's typing notifies like a write.
  flags() = 0;
  EXPECT_TRUE(model.userEdits(ctl::HighTempAlarm, "30"));
  EXPECT_EQ(flags(), flag::HighTempAlarmEdited);
  flags() = 0;
  tool.s().poll.driveCount = 1;
  EXPECT_TRUE(model.userEdits(ctl::Interval, "120"));
  EXPECT_EQ(flags(), flag::IntervalChanged);

  // Program selections and checks tell nobody; the user's pick does.
  flags() = 0;
  model.setSelection(ctl::TimeZone, model.findEntry(ctl::TimeZone, "utc-05"));
  EXPECT_EQ(model.text(ctl::TimeZone), "UTC-05:00");
  model.setChecked(ctl::SetupLock, true);
  EXPECT_TRUE(model.checked(ctl::SetupLock));
  EXPECT_EQ(flags(), 0u);
  EXPECT_TRUE(model.userSelects(ctl::TimeZone, 24));
  EXPECT_EQ(model.text(ctl::TimeZone), "UTC+00:00");
  EXPECT_EQ(flags(), flag::TimeZoneChanged);
  flags() = 0;
  EXPECT_FALSE(model.userSelects(ctl::TempUnit, 2));  // past the last entry
  EXPECT_FALSE(model.userSelects(ctl::TempUnit, -1));
  model.setSelection(ctl::TempUnit, 2);
  EXPECT_EQ(model.selection(ctl::TempUnit), -1);
  EXPECT_EQ(model.text(ctl::TempUnit), "");
  EXPECT_EQ(flags(), 0u);
  EXPECT_EQ(model.findEntry(ctl::Channel, "TEMP.+"), 2);
  EXPECT_EQ(model.findEntry(ctl::TimeZone, "GMT"), -1);

  // A disabled control takes no user action and changes nothing.
  ASSERT_FALSE(model.enabled(ctl::StartOnTime));
  EXPECT_FALSE(model.userClicks(ctl::StartOnTime));
  EXPECT_FALSE(model.checked(ctl::StartOnTime));
  EXPECT_FALSE(model.userEdits(ctl::DeviceId, "A1"));
  EXPECT_EQ(model.text(ctl::DeviceId), "");
  EXPECT_FALSE(model.userClicks(ctl::Configure));
  model.setEnabled(ctl::Channel, false);
  EXPECT_FALSE(model.userSelects(ctl::Channel, 1));
  EXPECT_EQ(flags(), 0u);
  // Nor does a control that is never shown, nor one of another kind.
  EXPECT_FALSE(model.userClicks(ctl::AutoConfigure));
  EXPECT_FALSE(model.userEdits(ctl::TimeZone, "UTC"));
  EXPECT_FALSE(model.userClicks(ctl::DeviceName));

  // "Start On Time:" switches the picker at once, both ways.
  model.setEnabled(ctl::StartOnTime, true);
  EXPECT_TRUE(model.userClicks(ctl::StartOnTime));
  EXPECT_TRUE(model.checked(ctl::StartOnTime));
  EXPECT_TRUE(model.enabled(ctl::StartPicker));
  EXPECT_TRUE(model.userClicks(ctl::StartOnTime));
  EXPECT_FALSE(model.enabled(ctl::StartPicker));

  model.setEnabled(ctl::Configure, true);
  EXPECT_TRUE(model.userClicks(ctl::Configure));
  EXPECT_EQ(flags(), flag::ConfigureRequested);

  model.setDateTime(ctl::StartPicker, {2025, 3, 9, 7, 45, 30});
  model.setDateTimeFormat(ctl::StartPicker, "yyyy/MM/dd HH:mm");
  EXPECT_EQ(model.text(ctl::StartPicker), "2025/03/09 07:45");
  EXPECT_EQ(model.dateTime(ctl::StartPicker).second, 30);
}

// The receive thread writes the button's caption during an upgrade: nothing
// of it shows, and nothing reads it half-done, until the owner applies the
// queue; then every write lands, in the order made, notifications included.
TEST_F(FormModelTest, WritesFromAnotherThreadWaitForTheOwner) {
  flags() = 0;
  std::thread receiver([&] {
    model.setEnabled(ctl::Configure, true);
    model.setText(ctl::Configure, "升级中(10%)");
    model.setText(ctl::Configure, "升级中(20%)");
    model.refresh(ctl::Configure);
    model.setText(ctl::LowTempAlarm, "3.0");
  });
  receiver.join();
  EXPECT_EQ(wakes, 5);
  EXPECT_EQ(model.text(ctl::Configure), "Plug Logger");
  EXPECT_FALSE(model.enabled(ctl::Configure));
  EXPECT_TRUE(view.changes.empty());
  EXPECT_EQ(flags(), 0u);

  model.applyCarried();
  EXPECT_EQ(model.text(ctl::Configure), "升级中(20%)");
  EXPECT_TRUE(model.enabled(ctl::Configure));
  EXPECT_EQ(view.textsOf(ctl::Configure),
            (std::vector<std::string>{"Plug Logger", "升级中(10%)", "升级中(20%)"}));
  EXPECT_EQ(view.refreshed, std::vector<int>{ctl::Configure});
  EXPECT_EQ(flags(), flag::LowTempAlarmEdited);  // raised on the owner's thread

  view.changes.clear();
  model.applyCarried();  // drained: nothing applies twice
  EXPECT_TRUE(view.changes.empty());
}

}  // namespace
