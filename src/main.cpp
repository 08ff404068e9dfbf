#include <QApplication>
#include <QStringList>
#include <clocale>
#include <cstdio>
#include <memory>

#include "app/instance_guard.h"
#include "core/state.h"
#include "app/system_clock.h"
#include "drive/drive_discovery.h"
#include "hid/hidraw_port.h"
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
    std::fputs(kUsage, stderr);
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
  HidrawPort hidraw;  // before the window, whose receive thread uses it
  std::unique_ptr<DriveDemo> driveDemo;
  std::unique_ptr<HidDemo> hidDemo;
  state->ports.messages = &messages;
  state->ports.clock = &clock;
  state->ports.drives = &drives;
  state->ports.hid = &hidraw;
  if (args == ArgsResult::Demo) {
    // The virtual logger is the only one the tool sees.
    state->virtualLoggersOnly = true;
    std::string error;
    if (demoRequest.kind == DemoKind::Hid) {
      hidDemo = std::make_unique<HidDemo>(demoRequest, error);
      state->ports.hid = &hidDemo->port();
      state->ports.drives = nullptr;
    } else {
      driveDemo = std::make_unique<DriveDemo>(demoRequest, error);
      state->ports.drives = &driveDemo->drives();
      state->ports.hid = nullptr;
    }
    if (!error.empty()) {
      std::fprintf(stderr, "thlogger-config: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "thlogger-config: virtual %s logger in %s\n",
                 hidDemo ? "HID" : "drive", hidDemo ? hidDemo->folder().c_str()
                                                    : driveDemo->folder().c_str());
  }

  CUSBDlg window(*state);
  messages.setDialogParent(&window);
  window.exec();
  return 0;
}
