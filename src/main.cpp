#include <QApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/instance_guard.h"
#include "core/state.h"
#include "app/system_clock.h"
#include "core/codepage.h"
#include "drive/drive_discovery.h"
#include "drive/udisks_mounter.h"
#include "hid/hidraw_port.h"
#include "sim/drive_demo.h"
#include "ui/main_window.h"
#include "ui/qt_messages.h"

namespace {

// The write end of the socket pair from the signal handler to the event loop.
// A handler can reach no object, so this descriptor is the one static it
// needs; it is set before the handlers are installed and never changes after.
volatile std::sig_atomic_t signalWriteFd = -1;

extern "C" void ForwardSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(signalWriteFd, &byte, 1);
  errno = saved;
}

// Ends the event loop on Ctrl+C, SIGTERM or SIGHUP, so the window closes and
// the destructors run as they do when it is closed by hand: the HID receive
// thread is joined and a scratch demo folder removed. The handler only writes
// a byte; the event loop reads it and quits. A second signal, once the first
// has been seen, ends the process at once, should closing hang.
class QuitOnSignals {
 public:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

  QuitOnSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
      fds_[0] = fds_[1] = -1;
      return;  // no clean ending on signals, but the tool still runs
    }
    signalWriteFd = fds_[0];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      char bytes[16];
      while (::read(fds_[1], bytes, sizeof bytes) > 0) {
      }
      for (int s : kSignals) std::signal(s, SIG_DFL);
      QCoreApplication::exit(0);  // every running event loop, a message box's too
    });
    struct sigaction action {};
    action.sa_handler = ForwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals) ::sigaction(s, &action, nullptr);
  }

  ~QuitOnSignals() {
    for (int s : kSignals) std::signal(s, SIG_DFL);
    notifier_.reset();
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }

  QuitOnSignals(const QuitOnSignals&) = delete;
  QuitOnSignals& operator=(const QuitOnSignals&) = delete;

 private:
  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

// Answers --help and --version on standard output; false for other options.
bool PrintInfoOption(ArgsResult args) {
  if (args == ArgsResult::Help) std::fputs(kHelp, stdout);
  else if (args == ArgsResult::Version) std::puts("thlogger-config " THLOGGER_VERSION);
  else return false;
  return true;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Qt's own options (-platform, -style, ...) take one dash; only they need
// QApplication to take them out before the arguments are judged.
bool HasQtStyleOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] == '-' && argv[i][1] != '-' && argv[i][1] != '\0') return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version first: they must work without a display, which
  // QApplication needs. Checked again once Qt has taken its own options out.
  DemoRequest demoRequest;
  const ArgsResult early = ParseArgs(argc, argv, demoRequest);
  if (PrintInfoOption(early)) return 0;
  if (early == ArgsResult::Invalid && !HasQtStyleOption(argc, argv)) return Usage();
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QuitOnSignals quitOnSignals;
  // Qt adopts the user's locale; numbers the logger and the form exchange
  // always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("thlogger-config"));
  const ArgsResult args = ParseArgs(argc, argv, demoRequest);
  if (PrintInfoOption(args)) return 0;
  if (args == ArgsResult::Invalid) return Usage();

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
  UDisksMounter mounter;  // mounts a logger disk no automounter mounted
  HidrawPort hidraw;  // before the window, whose receive thread uses it
  std::unique_ptr<DriveDemo> driveDemo;
  std::unique_ptr<HidDemo> hidDemo;
  state->ports.messages = &messages;
  state->ports.clock = &clock;
  state->ports.drives = &drives;
  state->ports.mounter = &mounter;
  state->ports.hid = &hidraw;
  if (args == ArgsResult::Demo) {
    // The virtual logger is the only one the tool sees.
    state->virtualLoggersOnly = true;
    state->ports.mounter = nullptr;
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
    const std::string& folder = hidDemo ? hidDemo->folder() : driveDemo->folder();
    std::fprintf(stderr,
                 "thlogger-config: virtual %s logger in %s\n"
                 "thlogger-config: to unplug it: touch '%s/%s'; to plug it in again: rm '%s/%s'\n",
                 hidDemo ? "HID" : "drive", folder.c_str(), folder.c_str(), kUnplugSwitchName,
                 folder.c_str(), kUnplugSwitchName);
  }

  CUSBDlg window(*state);
  messages.setDialogParent(&window);
  // Without the GBK converter every Chinese text turns into '?': said once,
  // over the window, rather than left for the person to find out.
  if (!CodePageAvailable())
    QTimer::singleShot(0, &window, [&messages] { messages.show(NoCodePageMessage()); });
  window.exec();
  return 0;
}
