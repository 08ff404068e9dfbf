// The window's look: background, entry colours, the About box.

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

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
  RunEventsFor(2000, [&] { return window->text(ctl::Configure) == "Plug Device"; });
  window->setText(ctl::DeviceId, "A1B2C3");  // disabled: drawn over the background
  window->setText(ctl::DeviceName, "冷库 温度记录仪");
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

}  // namespace
