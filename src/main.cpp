#include <QApplication>
#include <QStringList>
#include <clocale>
#include <cstdio>
#include <memory>

#include "app/instance_guard.h"
#include "core/state.h"
#include "app/system_clock.h"
#include "drive/drive_discovery.h"
#include "sim/drive_demo.h"
#include "ui/main_window.h"
#include "ui/qt_messages.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  // Qt adopts the user's locale; numbers the logger and the form exchange
  // always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("thlogger-config"));
  DemoRequest demoRequest;
  const ArgsResult args = ParseArgs(argc, argv, demoRequest);
  if (args == ArgsResult::Invalid) {
    std::fputs("usage: thlogger-config [--demo=drive[:DIR]]\n", stderr);
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
  std::unique_ptr<DriveDemo> demo;
  if (args == ArgsResult::Demo) {
    std::string error;
    demo = std::make_unique<DriveDemo>(demoRequest, error);
    if (!error.empty()) {
      std::fprintf(stderr, "thlogger-config: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "thlogger-config: virtual drive logger in %s\n", demo->folder().c_str());
  }
  state->ports.messages = &messages;
  state->ports.clock = &clock;
  state->ports.drives = demo ? &demo->drives() : static_cast<DrivePort*>(&drives);

  CUSBDlg window(*state);
  messages.setDialogParent(&window);
  window.exec();
  return 0;
}
