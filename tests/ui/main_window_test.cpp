#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <thread>

#include "core/control_ids.h"
#include "app/form_template.h"
#include "window_fixture.h"

namespace {

void Press(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
}

// A left click as the window system delivers it: to the window, which picks
// the widget under the pointer.
void ClickAt(QWidget* window, QPoint at) {
  const QPointF local(at);
  const QPointF global(window->mapToGlobal(at));
  QMouseEvent press(QEvent::MouseButtonPress, local, local, global, Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window->windowHandle(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(window->windowHandle(), &release);
}

QStringList Entries(const QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
  return entries;
}

using MainWindow = WindowTest;

TEST_F(MainWindow, OpensAsTheFixedSizeFormWithTheTemplateCaptions) {
  EXPECT_EQ(window->windowTitle(),
            QString::fromUtf8(" Temperature & Humidity Datalogger Configuration Tool V3.35"));
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(window->minimumSize(), window->maximumSize());

  auto* configure = widget<QPushButton>(ctl::Configure);
  ASSERT_NE(configure, nullptr);
  EXPECT_EQ(configure->text(), "Plug Logger");
  EXPECT_FALSE(configure->isEnabled());
  EXPECT_FALSE(configure->autoDefault());
  EXPECT_FALSE(widget(ctl::DeviceId)->isEnabled());

  // The template's own spellings, which the first pass later corrects.
  EXPECT_EQ(widget<QLabel>(ctl::RecordingTime)->text(), "Longest Recording TIme:");
  EXPECT_EQ(widget<QLabel>(ctl::FwVersion)->text(), "Fw Version:");

  for (int id : {ctl::PowerSave, ctl::SetupLock, ctl::EnableAlarm, ctl::OutputCsv})
    EXPECT_TRUE(widget<QCheckBox>(id)->text().isEmpty()) << id;
  EXPECT_EQ(widget<QCheckBox>(ctl::StartOnTime)->text(), "Start On Time:");

  EXPECT_TRUE(widget<QLineEdit>(ctl::LowTempAlarm)->alignment() & Qt::AlignHCenter);
  auto* picker = widget<QDateTimeEdit>(ctl::StartPicker);
  ASSERT_NE(picker, nullptr);
  EXPECT_TRUE(picker->calendarPopup());
}

TEST_F(MainWindow, DropDownListsHoldTheirEntriesInOrder) {
  QStringList zones = Entries(widget<QComboBox>(ctl::TimeZone));
  ASSERT_EQ(zones.size(), 49);
  EXPECT_EQ(zones.first(), "UTC+12:00");
  EXPECT_EQ(zones[24], "UTC+00:00");
  EXPECT_EQ(zones.last(), "UTC-12:00");
  EXPECT_EQ(Entries(widget<QComboBox>(ctl::DateFormat)),
            QStringList({QString::fromUtf8("日/月/年"), QString::fromUtf8("月/日/年"),
                         QString::fromUtf8("年/月/日")}));
  EXPECT_EQ(Entries(widget<QComboBox>(ctl::PdfLanguage)), QStringList({"English", "Chinese"}));
  EXPECT_EQ(Entries(widget<QComboBox>(ctl::TempUnit)),
            QStringList({QString::fromUtf8("℃"), QString::fromUtf8("℉")}));
  EXPECT_EQ(Entries(widget<QComboBox>(ctl::Channel)),
            QStringList({"Temperature", "Humidity", "Temp.+ Hum."}));
}

// Every caption must fit its template rectangle in the chosen font, or the
// dialog-unit conversion is off.
TEST_F(MainWindow, CaptionsFitTheirRectanglesInsideTheClientArea) {
  const QRect client = window->rect();
  for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isHidden()) continue;
    SCOPED_TRACE(child->objectName().toStdString());
    EXPECT_TRUE(client.contains(child->geometry()));
    if (auto* label = qobject_cast<QLabel*>(child)) {
      EXPECT_LE(label->sizeHint().width(), label->width());
      EXPECT_LE(label->fontMetrics().height(), label->height());
    }
  }
  auto* startOnTime = widget<QCheckBox>(ctl::StartOnTime);
  EXPECT_LE(startOnTime->sizeHint().width(), startOnTime->width());
}

TEST_F(MainWindow, TabOrderFollowsTheTemplate) {
  std::vector<QWidget*> expected;
  for (const ControlTemplate& t : MainFormTemplate())
    if (t.kind != ControlKind::Text) expected.push_back(widget(t.id));
  std::vector<QWidget*> chain;
  QWidget* walk = expected.front();
  do {
    if (std::find(expected.begin(), expected.end(), walk) != expected.end()) chain.push_back(walk);
    walk = walk->nextInFocusChain();
  } while (walk != expected.front());
  EXPECT_EQ(chain, expected);
}

TEST_F(MainWindow, HiddenRowsAreNeverShown) {
  window->show();
  RunEventsFor(120);
  const std::vector<QWidget*> neverShown = {row(17),
                                            widget(ctl::KeyDelete),
                                            widget(ctl::AutoConfigure),
                                            row(60),
                                            widget(ctl::SupplyVoltage),
                                            widget(ctl::PreciseSync)};
  for (QWidget* w : neverShown) {
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  }
  EXPECT_TRUE(widget(ctl::Configure)->isVisible());
  window->close();
}

// A click on the text beside a caption-less check box lands on the box: the
// texts take no clicks and the box's whole rectangle answers.
TEST_F(MainWindow, LabelsBesideCheckBoxesPassClicksToThem) {
  struct Pair {
    int labelRow, box;
  };
  for (Pair p : {Pair{66, ctl::PowerSave}, Pair{27, ctl::SetupLock}, Pair{59, ctl::EnableAlarm},
                 Pair{68, ctl::OutputCsv}}) {
    QRect label = row(p.labelRow)->geometry();
    EXPECT_EQ(window->childAt(label.left() + 2, label.center().y()), widget(p.box)) << p.box;
  }
}

// The words beside a box answer a click as the box does, over their whole
// width, raising the box's own flag; a disabled box stays as it is.
TEST_F(MainWindow, ClickingTheWordsBesideACheckBoxTogglesIt) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->show();
  RunEventsFor(50);
  struct Pair {
    int textRow, box;
    uint32_t flag;
  };
  for (Pair p : {Pair{27, ctl::SetupLock, flag::SetupLockToggled},
                 Pair{59, ctl::EnableAlarm, flag::ChannelChanged}, Pair{66, ctl::PowerSave, 0},
                 Pair{68, ctl::OutputCsv, 0}}) {
    SCOPED_TRACE(p.box);
    auto* box = widget<QCheckBox>(p.box);
    const QRect words = row(p.textRow)->geometry();
    flags() = 0;
    ClickAt(window.get(), QPoint(words.right() - 2, words.center().y()));  // the last letter
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(flags(), p.flag);
    ClickAt(window.get(), words.center());
    EXPECT_FALSE(box->isChecked());
  }

  window->form().setEnabled(ctl::SetupLock, false);
  flags() = 0;
  ClickAt(window.get(), row(27)->geometry().center());
  EXPECT_FALSE(widget<QCheckBox>(ctl::SetupLock)->isChecked());
  EXPECT_EQ(flags(), 0u);

  // "Start On Time:" carries its own caption, and switches the picker.
  window->form().setEnabled(ctl::StartOnTime, true);
  const QRect startOnTime = widget(ctl::StartOnTime)->geometry();
  ClickAt(window.get(), QPoint(startOnTime.right() - 4, startOnTime.center().y()));
  EXPECT_TRUE(widget<QCheckBox>(ctl::StartOnTime)->isChecked());
  EXPECT_TRUE(widget(ctl::StartPicker)->isEnabled());
  window->close();
}

TEST_F(MainWindow, InitialisationFillsTheWidgets) {
  EXPECT_EQ(widget<QComboBox>(ctl::TimeZone)->currentText(), "UTC+08:00");
  EXPECT_EQ(widget<QComboBox>(ctl::DateFormat)->currentIndex(), 1);
  EXPECT_EQ(widget<QComboBox>(ctl::Channel)->currentText(), "Temperature");
  EXPECT_EQ(widget<QLineEdit>(ctl::Trademark)->text(), "KELM");
  EXPECT_EQ(widget<QLineEdit>(ctl::StartDelay)->text(), "30");
  EXPECT_FALSE(widget(ctl::StartOnTime)->isEnabled());
  EXPECT_FALSE(widget(ctl::StartPicker)->isEnabled());
  EXPECT_EQ(flags(), 0u);
}

TEST_F(MainWindow, FirstPassTurnsTheButtonIntoPlugDevice) {
  auto* timer = window->findChild<QTimer*>("pollTimer");
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isSingleShot());
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 50);

  auto* configure = widget<QPushButton>(ctl::Configure);
  RunEventsFor(2000, [&] { return configure->text() == "Plug Device"; });
  EXPECT_EQ(configure->text(), "Plug Device");
  EXPECT_FALSE(configure->isEnabled());
  EXPECT_EQ(widget<QDateTimeEdit>(ctl::StartPicker)->displayFormat(), "yyyy/MM/dd HH:mm");
  EXPECT_TRUE(timer->isActive());  // re-armed for the next pass
}

TEST_F(MainWindow, EachHandlerRaisesOnlyItsFlag) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->form().setEnabled(ctl::Configure, true);
  struct Click {
    int id;
    uint32_t flag;
  };
  for (Click c : {Click{ctl::Configure, flag::ConfigureRequested},
                  Click{ctl::SetupLock, flag::SetupLockToggled},
                  Click{ctl::EnableAlarm, flag::ChannelChanged}, Click{ctl::PowerSave, 0},
                  Click{ctl::OutputCsv, 0}}) {
    flags() = 0;
    widget<QAbstractButton>(c.id)->click();
    EXPECT_EQ(flags(), c.flag) << c.id;
  }
  for (Click pick : {Click{ctl::TimeZone, flag::TimeZoneChanged},
                     Click{ctl::DateFormat, flag::DateDisplayStale},
                     Click{ctl::Channel, flag::ChannelChanged},
                     Click{ctl::PdfLanguage, flag::PdfLanguageChanged},
                     Click{ctl::TempUnit, flag::TempUnitChanged}}) {
    auto* list = widget<QComboBox>(pick.id);
    flags() = 0;
    list->setCurrentIndex(1);  // the program's own selection tells nobody
    window->form().setSelection(pick.id, 0);
    EXPECT_EQ(flags(), 0u) << pick.id;
    emit list->activated(1);  // what a user's pick sends
    EXPECT_EQ(flags(), pick.flag) << pick.id;
  }
  flags() = 0;
  window->form().setChecked(ctl::SetupLock, true);
  EXPECT_EQ(flags(), 0u);
}

TEST_F(MainWindow, ProgramWritesNotifyLikeTyping) {
  window->findChild<QTimer*>("pollTimer")->stop();
  auto* low = widget<QLineEdit>(ctl::LowTempAlarm);

  flags() = 0;
  low->selectAll();
  Press(low, Qt::Key_3, "3");
  EXPECT_EQ(low->text(), "3");
  EXPECT_EQ(flags(), flag::LowTempAlarmEdited);

  flags() = 0;
  window->form().setText(ctl::LowTempAlarm, "4.0");
  EXPECT_EQ(flags(), flag::LowTempAlarmEdited);

  // A write that leaves the text as it was still consumes the suppression
  // meant for it, so the user's next edit is not swallowed.
  flags() = 0;
  state->alarmEdit.suppressLowTempEdit = true;
  window->form().setText(ctl::LowTempAlarm, "4.0");
  EXPECT_FALSE(state->alarmEdit.suppressLowTempEdit);
  EXPECT_EQ(flags(), 0u);
  window->form().setText(ctl::LowTempAlarm, "5.0");
  EXPECT_EQ(flags(), flag::LowTempAlarmEdited);

  auto* interval = widget<QLineEdit>(ctl::Interval);
  flags() = 0;
  Press(interval, Qt::Key_2, "2");
  EXPECT_EQ(flags(), 0u);  // no logger: nothing to recompute
  state->poll.driveCount = 1;
  Press(interval, Qt::Key_5, "5");
  EXPECT_EQ(flags(), flag::IntervalChanged);
}

TEST_F(MainWindow, StartOnTimeSwitchesThePickerAtOnce) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->form().setEnabled(ctl::StartOnTime, true);
  auto* startOnTime = widget<QCheckBox>(ctl::StartOnTime);
  startOnTime->click();
  EXPECT_TRUE(widget(ctl::StartPicker)->isEnabled());
  startOnTime->click();
  EXPECT_FALSE(widget(ctl::StartPicker)->isEnabled());
}

TEST_F(MainWindow, FormPortReachesTheWidgets) {
  FormPort& form = window->form();
  EXPECT_EQ(state->ports.form, &form);

  EXPECT_EQ(form.findEntry(ctl::TimeZone, "utc-05"), 34);
  EXPECT_EQ(form.findEntry(ctl::TimeZone, "GMT"), -1);
  EXPECT_EQ(form.findEntry(ctl::Channel, "temp.+"), 2);
  form.setSelection(ctl::TimeZone, 34);
  EXPECT_EQ(form.text(ctl::TimeZone), "UTC-05:00");
  form.setSelection(ctl::TimeZone, -1);
  EXPECT_EQ(form.selection(ctl::TimeZone), -1);
  EXPECT_EQ(form.text(ctl::TimeZone), "");
  form.setSelection(ctl::TempUnit, 2);
  EXPECT_EQ(form.selection(ctl::TempUnit), -1);

  form.setText(ctl::FwVersion, "FW Version:V2.403");
  EXPECT_EQ(form.text(ctl::FwVersion), "FW Version:V2.403");
  form.setText(ctl::DeviceName, "冷库 A");
  EXPECT_EQ(form.text(ctl::DeviceName), "冷库 A");
  form.setText(ctl::Configure, "Configure");
  EXPECT_EQ(form.text(ctl::Configure), "Configure");

  form.setChecked(ctl::OutputCsv, true);
  EXPECT_TRUE(form.checked(ctl::OutputCsv));
  form.setEnabled(ctl::Trademark, false);
  EXPECT_FALSE(form.enabled(ctl::Trademark));

  auto* name = widget<QLineEdit>(ctl::DeviceName);
  name->setSelection(0, 2);
  form.focusAtEnd(ctl::DeviceName);
  EXPECT_EQ(window->focusWidget(), name);
  EXPECT_FALSE(name->hasSelectedText());
  EXPECT_EQ(name->cursorPosition(), name->text().size());

  widget<QDateTimeEdit>(ctl::StartPicker)->setDateTime(QDateTime(QDate(2025, 3, 9), QTime(7, 45)));
  LocalTime t = form.dateTime(ctl::StartPicker);
  EXPECT_EQ(t.year, 2025);
  EXPECT_EQ(t.month, 3);
  EXPECT_EQ(t.day, 9);
  EXPECT_EQ(t.hour, 7);
  EXPECT_EQ(t.minute, 45);
}

TEST_F(MainWindow, WritesFromAnotherThreadLandOnTheGuiThreadInOrder) {
  window->findChild<QTimer*>("pollTimer")->stop();
  std::thread worker([&] {
    window->form().setEnabled(ctl::Configure, true);
    window->form().setText(ctl::Configure, "Upgrading 10%");
    window->form().setText(ctl::Configure, "Upgrading 20%");
  });
  worker.join();
  auto* configure = widget<QPushButton>(ctl::Configure);
  RunEventsFor(1000, [&] { return configure->text() == "Upgrading 20%"; });
  EXPECT_EQ(configure->text(), "Upgrading 20%");
  EXPECT_TRUE(configure->isEnabled());
}

// Enter used to be the dialog's OK and closed the window, losing the edit.
TEST_F(MainWindow, EnterInAnEditLeavesTheWindowOpen) {
  window->show();
  auto* name = widget<QLineEdit>(ctl::DeviceName);
  name->setFocus();
  Press(name, Qt::Key_A, "A");
  Press(name, Qt::Key_Return);
  Press(widget(ctl::Website), Qt::Key_Enter);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(name->text(), "A");
  EXPECT_TRUE(window->findChild<QTimer*>("pollTimer")->isActive());
  window->close();
}

// Closing in the middle of a delivery or an upgrade asks first, and the
// answer a stray Enter gives keeps the tool open.
TEST_F(MainWindow, ClosingWhileSomethingIsInFlightAsksFirst) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->show();
  state->poll.transferState = TransferWrite;
  QString question;
  {
    ModalCloser enter([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      question = box->text();
      Press(box, Qt::Key_Return);
    });
    Press(widget(ctl::TimeZone), Qt::Key_Escape);
    RunEventsFor(100);
    EXPECT_EQ(enter.handled(), 1);
    EXPECT_TRUE(question.contains("configuration is being sent")) << question.toStdString();
    EXPECT_TRUE(window->isVisible());
    window->close();   // the close box
    window->reject();  // the window manager
    EXPECT_EQ(enter.handled(), 3);
    EXPECT_TRUE(window->isVisible());
  }

  state->poll.transferState = TransferIdle;
  state->poll.upgradeState.store(upgrade::DriveWriting);
  ModalCloser closeAnyway([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    question = box->text();
    box->findChild<QPushButton*>("closeAnyway")->click();
  });
  window->close();
  EXPECT_TRUE(question.contains("without working firmware")) << question.toStdString();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(closeAnyway.handled(), 1);
  EXPECT_FALSE(window->findChild<QTimer*>("pollTimer")->isActive());
}

TEST_F(MainWindow, EscClosesTheWindow) {
  window->show();
  ModalCloser noQuestion([](QWidget*) { ADD_FAILURE() << "nothing in flight, nothing to ask"; });
  Press(widget(ctl::TimeZone), Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_F(MainWindow, EnterOnTheFocusedConfigureButtonClicksIt) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->show();
  window->form().setEnabled(ctl::Configure, true);
  window->form().focus(ctl::Configure);
  flags() = 0;
  Press(widget(ctl::Configure), Qt::Key_Return);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(flags(), flag::ConfigureRequested);
  window->close();
}

// The first pass may hold a box open (an unsupported logger at start-up); the
// form behind it already shows the PC's clock and zone.
TEST_F(MainWindow, AFirstPassBoxSeesTheLiveClock) {
  struct FormAtBox : MessagePort {
    CUSBDlg* window = nullptr;
    std::vector<std::string> seen;
    void show(std::string_view, MessageIcon) override {
      FormPort& form = window->form();
      seen.push_back(form.text(ctl::DateText) + " " + form.text(ctl::TimeText) + " " +
                     form.text(ctl::TimeZone));
    }
  } boxes;
  boxes.window = window.get();
  state->ports.messages = &boxes;
  // A firmware upload whose logger has gone: the pass says so before anything else.
  state->poll.upgradeState.store(upgrade::HidSending);
  RunEventsFor(2000, [&] { return !boxes.seen.empty(); });
  ASSERT_FALSE(boxes.seen.empty());
  EXPECT_EQ(boxes.seen.front(), "05/14/2024 09:30:00 UTC+08:00");
  state->ports.messages = &messages;
}

}  // namespace
