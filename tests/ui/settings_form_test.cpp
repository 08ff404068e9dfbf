#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "core/control_ids.h"
#include "window_fixture.h"

namespace {

void Type(QLineEdit* box, const QString& text) {
  box->setFocus();
  box->selectAll();
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(box, &press);
  }
}

// The settings form with its poll timer running, as a user meets it.
class SettingsForm : public WindowTest {
 protected:
  SettingsForm() {
    window->show();
    window->activateWindow();
    RunEventsFor(2000, [&] { return widget(ctl::Configure)->property("text") == "Plug Device"; });
    state->device.capabilityFlags = 0xE0;
  }
  // Waits for the passes that serve the flags the edits raised.
  void Settle() {
    RunEventsFor(2000, [&] { return flags() == 0; });
    RunEventsFor(120);
  }
  QString Text(int id) { return widget<QLineEdit>(id)->text(); }
};

TEST_F(SettingsForm, TypedAlarmsKeepOneDecimalAndReachTheSettings) {
  Type(widget<QLineEdit>(ctl::LowTempAlarm), "25.55");
  EXPECT_EQ(Text(ctl::LowTempAlarm), "25.5");
  Type(widget<QLineEdit>(ctl::HighHumidityAlarm), "77.77");
  EXPECT_EQ(Text(ctl::HighHumidityAlarm), "77.7");
  Settle();
  EXPECT_DOUBLE_EQ(state->settings.tempAlarmLowC, 25.5);
  EXPECT_NEAR(state->settings.tempAlarmLowF, 77.9, 1e-9);
}

TEST_F(SettingsForm, UnitRoundTripShowsTheSameAlarms) {
  auto* unit = widget<QComboBox>(ctl::TempUnit);
  unit->setCurrentIndex(1);
  emit unit->activated(1);
  Settle();
  EXPECT_EQ(Text(ctl::LowTempAlarm), "35.6");
  EXPECT_EQ(Text(ctl::HighTempAlarm), "46.4");
  EXPECT_EQ(widget<QLabel>(ctl::LowTempUnitSign)->text(), QString::fromUtf8("℉"));

  Type(widget<QLineEdit>(ctl::HighTempAlarm), "100.0");
  Settle();
  EXPECT_NEAR(state->settings.tempAlarmHighC, 37.80001, 1e-9);

  unit->setCurrentIndex(0);
  emit unit->activated(0);
  Settle();
  EXPECT_EQ(Text(ctl::LowTempAlarm), "2.0");
  EXPECT_EQ(Text(ctl::HighTempAlarm), "37.8");
  EXPECT_EQ(widget<QLabel>(ctl::HighTempUnitSign)->text(), QString::fromUtf8("℃"));
  EXPECT_TRUE(messages.shown.empty()) << messages.last();
}

TEST_F(SettingsForm, FailedValidationNamesTheFieldAndPutsTheCaretThere) {
  Type(widget<QLineEdit>(ctl::Interval), "0");
  widget<QLineEdit>(ctl::StartDelay)->setFocus();
  // As after reading a logger whose firmware is current.
  state->device.fwVersionHigh = 0x24;
  state->device.fwVersion = 0x2410;
  window->form().setEnabled(ctl::Configure, true);
  widget<QAbstractButton>(ctl::Configure)->click();
  Settle();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.last(), "Sampling Interval Error: 数值必须在1至86400之内!");
  auto* interval = widget<QLineEdit>(ctl::Interval);
  EXPECT_EQ(window->focusWidget(), interval);
  EXPECT_EQ(interval->cursorPosition(), interval->text().size());
  EXPECT_EQ(widget<QAbstractButton>(ctl::Configure)->text(), "Configure");
  EXPECT_TRUE(widget(ctl::Configure)->isEnabled());
  EXPECT_EQ(state->block.length, 0);
}

}  // namespace
