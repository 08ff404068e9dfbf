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

#include "app/command.h"
#include "app/command_line.h"
#include "app/instance_guard.h"
#include "app/tool_ports.h"
#include "core/state.h"
#include "core/codepage.h"
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

int Usage(const std::string& error) {
  if (!error.empty()) std::fprintf(stderr, "thlogger-config: %s\n", error.c_str());
  std::fputs(kUsage, stderr);
  return exit_status::Usage;
}

// --help and --version, on standard output; false for anything else.
bool AnswerInfo(const CommandLine& line) {
  if (line.command == Command::Help)
    std::fputs(kHelp, stdout);
  else if (line.command == Command::Version)
    std::puts("thlogger-config " THLOGGER_VERSION);
  else
    return false;
  return true;
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
  // --help, --version, a usage error and the commands without a window must
  // all work without a display, which QApplication needs. Checked again once
  // Qt has taken its own options out.
  CommandLine line = ParseCommandLine(argc, argv);
  if (AnswerInfo(line)) return exit_status::Ok;
  if (line.command == Command::Apply || line.command == Command::Read)
    return RunCommandWithoutWindow(line);
  if (line.command == Command::Invalid && !HasQtStyleOption(argc, argv)) return Usage(line.error);
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QuitOnSignals quitOnSignals;
  // Qt adopts the user's locale; numbers the logger and the form exchange
  // always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("thlogger-config"));
  line = ParseCommandLine(argc, argv);
  if (AnswerInfo(line)) return exit_status::Ok;
  if (line.command != Command::Window) return Usage(line.error);

  QtMessages messages;
  InstanceGuard guard;
  switch (guard.acquire()) {
    case GuardResult::ToolRunning:
      messages.show(InstanceGuard::ToolRunningMessage());
      return exit_status::Ok;
    case GuardResult::CalibrationRunning:
      messages.show(InstanceGuard::CalibrationRunningMessage());
      return exit_status::Ok;
    case GuardResult::Acquired: break;
  }

  auto state = std::make_unique<ToolState>();
  std::string error;
  ToolPorts ports(*state, line.demo, error);  // before the window, whose receive thread uses them
  if (!error.empty()) {
    std::fprintf(stderr, "thlogger-config: %s\n", error.c_str());
    return 1;
  }
  state->ports.messages = &messages;
  for (const std::string& notice : ports.demoNotice())
    std::fprintf(stderr, "thlogger-config: %s\n", notice.c_str());

  CUSBDlg window(*state);
  messages.setDialogParent(&window);
  // Without the GBK converter every Chinese text turns into '?': said once,
  // over the window, rather than left for the person to find out.
  if (!CodePageAvailable())
    QTimer::singleShot(0, &window, [&messages] { messages.show(NoCodePageMessage()); });
  window.exec();
  return exit_status::Ok;
}
