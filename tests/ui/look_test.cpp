// The window's look: background, entry colours, the About box.

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>

#include "core/control_ids.h"
#include "ui/about_dialog.h"
#include "upgrade/firmware_images.h"
#include "window_fixture.h"

namespace {

const QColor kBackground(114, 152, 210);

// Where pictures of the window go: $THLOGGER_ARTIFACTS, else "artifacts"
// beside the build's test directory.
QString ArtifactsDir() {
  QString dir = qEnvironmentVariable("THLOGGER_ARTIFACTS");
  if (dir.isEmpty()) dir = QApplication::applicationDirPath() + "/../artifacts";
  QDir().mkpath(dir);
  return QDir(dir).absolutePath();
}

bool Reddish(QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; }

int CountPixels(const QImage& image, QRect area, bool (*match)(QColor)) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) count += match(image.pixelColor(x, y));
  return count;
}

using Look = WindowTest;

TEST_F(Look, BackgroundShowsBehindTextsAndEntriesAreRedOnWhite) {
  window->show();
  RunEventsFor(2000, [&] { return window->form().text(ctl::Configure) == "Plug Device"; });
  window->form().setText(ctl::DeviceId, "A1B2C3");  // disabled: drawn over the background
  window->form().setText(ctl::DeviceName, "冷库 温度记录仪");
  RunEventsFor(50);
  QImage image = window->grab().toImage();
  ASSERT_FALSE(image.isNull());
  const QString path = ArtifactsDir() + "/main_window.png";
  EXPECT_TRUE(image.save(path)) << path.toStdString();

  // Open background, and the background between the letters of a label.
  EXPECT_EQ(image.pixelColor(3, 3), kBackground);
  EXPECT_EQ(image.pixelColor(image.width() - 3, image.height() - 3), kBackground);
  QRect label = row<QLabel>(9)->geometry();
  EXPECT_EQ(image.pixelColor(label.topLeft()), kBackground);
  QRect deviceId = widget(ctl::DeviceId)->geometry();
  EXPECT_EQ(image.pixelColor(deviceId.right() - 3, deviceId.center().y()), kBackground);

  QRect name = widget(ctl::DeviceName)->geometry();
  EXPECT_EQ(image.pixelColor(name.right() - 3, name.center().y()), QColor(Qt::white));
  EXPECT_GT(CountPixels(image, name, Reddish), 10);
  QRect zone = widget(ctl::TimeZone)->geometry();
  EXPECT_GT(CountPixels(image, zone, Reddish), 10);
  window->close();
}

TEST_F(Look, F1AndTheContextMenuOpenTheAboutBox) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->show();
  QStringList texts;
  QString title;
  ModalCloser closer([&](QWidget* modal) {
    auto* about = qobject_cast<CAboutDlg*>(modal);
    ASSERT_NE(about, nullptr);
    title = about->windowTitle();
    const QRect ok = about->findChild<QPushButton*>("ok")->geometry();
    for (QLabel* label : about->findChildren<QLabel*>()) {
      if (label->text().trimmed().isEmpty()) continue;
      texts << label->text();
      // Each line whole in its box, none under the OK button.
      SCOPED_TRACE(label->text().toStdString());
      EXPECT_LE(label->sizeHint().width(), label->width());
      EXPECT_TRUE(about->rect().contains(label->geometry()));
      EXPECT_FALSE(label->geometry().intersects(ok));
    }
    const QString picture = ArtifactsDir() + "/about_box.png";
    about->grab().save(picture);
    about->findChild<QPushButton*>("ok")->click();
  });

  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(window->findChild<QWidget*>("c2406"), &f1);
  EXPECT_EQ(closer.handled(), 1);
  EXPECT_EQ(title, "About FW");
  EXPECT_TRUE(texts.contains("MKL26Z128VFT4 V4.094-6B"));
  EXPECT_TRUE(texts.contains("STM32F072CBT6 V2.403-42"));
  EXPECT_TRUE(texts.contains("Config Tool V3.35"));
  // Which images the build embedded: stand-ins unless THLOGGER_FIRMWARE_DIR.
  EXPECT_TRUE(texts.contains(FirmwareImagesAreStandIns() ? "Stand-in firmware" : "Vendor firmware"));
  EXPECT_TRUE(window->isVisible());  // OK closed the box, not the window

  // The context menu's single item, picked with Enter.
  QString item;
  QTimer menuPicker;
  QObject::connect(&menuPicker, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    menuPicker.stop();
    item = menu->actions().value(0)->text();
    menu->setActiveAction(menu->actions().value(0));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(menu, &enter);
  });
  menuPicker.start(10);
  QPoint inside(5, 5);
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, inside, window->mapToGlobal(inside));
  QApplication::sendEvent(window.get(), &menuEvent);
  EXPECT_EQ(item, QString::fromUtf8("关于 FW(&A)..."));
  EXPECT_EQ(closer.handled(), 2);
  window->close();
}

// What a user meets on a laptop screen: every entry of an opened list whole,
// the longest value each numeric box accepts whole, and disabled lists and
// buttons drawn as disabled.
TEST_F(Look, ListsAndBoxesShowTheirLongestValuesWhole) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->show();
  for (int id : {ctl::TimeZone, ctl::DateFormat, ctl::PdfLanguage, ctl::TempUnit, ctl::Channel}) {
    auto* list = widget<QComboBox>(id);
    list->showPopup();
    QAbstractItemView* view = list->view();
    RunEventsFor(50, [&] { return view->isVisible(); });
    ASSERT_TRUE(view->isVisible()) << id;
    const int room = view->viewport()->width();
    for (int i = 0; i < list->count(); ++i) {
      SCOPED_TRACE(list->itemText(i).toStdString());
      EXPECT_LT(view->fontMetrics().horizontalAdvance(list->itemText(i)), room);
      EXPECT_LE(view->sizeHintForIndex(view->model()->index(i, 0)).width(), room);
    }
    if (id == ctl::TimeZone) view->window()->grab().save(ArtifactsDir() + "/time_zone_list.png");
    list->hidePopup();
  }

  // The ranges validation accepts; a temperature alarm lies within the
  // sensor's range (-200.0 to 200.0 ℃ until a logger says otherwise), in ℃ or ℉.
  const QStringList temperatures = {"-200.0", "-328.0", "392.0", "200.0", "185.0", "365.0", "-40.0"};
  const struct {
    int id;
    QStringList longest;
  } kBoxes[] = {
      {ctl::Interval, {"86400"}},
      {ctl::StartDelay, {"1440"}},
      {ctl::LowTempAlarm, temperatures},
      {ctl::HighTempAlarm, temperatures},
      {ctl::LowHumidityAlarm, {"100.0"}},
      {ctl::HighHumidityAlarm, {"100.0"}},
      {ctl::RecordLedFlash, {"60"}},
      {ctl::AlarmLedFlash, {"60"}},
  };
  for (const auto& box : kBoxes) {
    auto* edit = widget<QLineEdit>(box.id);
    // The text area as the line edit lays it out: the style's contents rect
    // less the edit's own 2-pixel margins and its text margins.
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.rect = edit->contentsRect();
    frame.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit);
    QRect area = edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit);
    area = area.marginsRemoved(edit->textMargins());
    const int room = area.width() - 2 * 2;
    for (const QString& value : box.longest) {
      SCOPED_TRACE(value.toStdString());
      // The edit scrolls its text once text and caret need more than the room.
      EXPECT_LE(edit->fontMetrics().horizontalAdvance(value) + 1, room) << box.id;
    }
  }
  window->form().setText(ctl::Interval, "86400");
  window->form().setText(ctl::LowTempAlarm, "-200.0");
  window->form().setText(ctl::HighHumidityAlarm, "100.0");
  window->form().setText(ctl::StartDelay, "1440");
  RunEventsFor(50);
  window->grab().save(ArtifactsDir() + "/longest_values.png");
  window->close();
}

TEST_F(Look, DisabledListsAndButtonLookDisabled) {
  window->findChild<QTimer*>("pollTimer")->stop();
  window->show();
  window->form().setEnabled(ctl::Configure, true);
  window->form().setText(ctl::Configure, "Configure");
  RunEventsFor(50);
  const QImage enabled = window->grab().toImage();
  // As under Setup Lock, and with no logger to configure.
  for (int id : {ctl::TimeZone, ctl::DateFormat, ctl::Channel, ctl::TempUnit, ctl::PdfLanguage,
                 ctl::Configure})
    window->form().setEnabled(id, false);
  RunEventsFor(50);
  const QImage disabled = window->grab().toImage();
  disabled.save(ArtifactsDir() + "/disabled_lists.png");

  auto white = [](QColor c) { return c == QColor(Qt::white); };
  for (int id : {ctl::TimeZone, ctl::Channel, ctl::PdfLanguage, ctl::Configure}) {
    SCOPED_TRACE(id);
    const QRect area = widget(id)->geometry();
    const int enabledWhite = CountPixels(enabled, area, +white);
    EXPECT_GT(CountPixels(enabled, area, Reddish), 10);
    EXPECT_GT(enabledWhite, 100);
    EXPECT_EQ(CountPixels(disabled, area, Reddish), 0);
    // Drawn in the palette's disabled colours, not on the entries' white.
    EXPECT_LT(CountPixels(disabled, area, +white), enabledWhite / 4);
    EXPECT_NE(widget(id)->palette().color(QPalette::Disabled, QPalette::ButtonText),
              QColor(255, 0, 0));
  }
  window->close();
}

}  // namespace
