#include "ui/about_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "upgrade/firmware_images.h"
#include "ui/dialog_units.h"
#include "ui/window_icon.h"

namespace {

constexpr int kWidthDu = 170;
constexpr int kHeightDu = 62;

struct AboutText {
  const char* text;
  int x, y, width, height;
};

// The line beside the OK button says which images the build carries: a
// logger upgraded with a stand-in is left without working firmware, so whoever
// hands a build on can see at a glance which kind it is. The tool's version
// takes the otherwise empty first line.
const char* ImagesText() {
  return FirmwareImagesAreStandIns() ? "Stand-in firmware" : "Vendor firmware";
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("CAboutDlg"));
  setWindowTitle(QStringLiteral("About FW"));
  // The desktop's dialog font, not the main window's, which a child inherits.
  setFont(QApplication::font());
  DialogUnits units(font());
  setFixedSize(units.size(kWidthDu, kHeightDu));

  auto* icon = new QLabel(this);
  icon->setPixmap(ToolIconPixmap(32));
  icon->setGeometry(QRect(units.rect(14, 14, 0, 0).topLeft(), QSize(32, 32)));

  const AboutText texts[] = {
      {"Config Tool V3.35", 42, 6, 114, 8},
      {"MKL26Z128VFT4 V4.094-6B", 42, 14, 114, 8},
      {"STM32F072CBT6 V2.403-42", 42, 26, 114, 8},
      {ImagesText(), 42, 38, 68, 8},
  };
  for (const AboutText& t : texts) {
    auto* label = new QLabel(QString::fromUtf8(t.text), this);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(units.rect(t.x, t.y, t.width, t.height));
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  ok->setGeometry(units.rect(112, 40, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
