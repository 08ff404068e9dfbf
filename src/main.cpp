#include <QApplication>
#include <QStringList>
#include <clocale>
#include <cstdio>
#include <memory>

#include "app/instance_guard.h"
#include "app/state.h"
#include "app/system_clock.h"
#include "drive/drive_discovery.h"
#include "ui/main_window.h"
#include "ui/qt_messages.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  // Qt adopts the user's locale; numbers the logger and the form exchange
  // always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("thlogger-config"));
  if (QApplication::arguments().size() > 1) {
    std::fputs("usage: thlogger-config\n", stderr);
    return 2;
  }

  QtMessages messages;
  InstanceGuard guard;
  switch (guard.acquire()) {
    case GuardResult::ToolRunning:
      messages.show(InstanceGuard::ToolRunningMessage());
      return 0;
    case GuardResult::CalibrationRunning:
      messages.show(InstanceGuard::CalibrationRunningMessage());
      return 0;
    case GuardResult::Acquired: break;
  }

  auto state = std::make_unique<ToolState>();
  SystemClock clock;
  SysfsDrives drives;
  state->ports.messages = &messages;
  state->ports.clock = &clock;
  state->ports.drives = &drives;

  CUSBDlg window(*state);
  messages.setDialogParent(&window);
  window.exec();
  return 0;
}
