#include "app/console.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

void ConsoleMessages::show(std::string_view text, MessageIcon icon) {
  if (icon == MessageIcon::Warning) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++shown_;
    last_ = std::string(text);
  }
  line(text);
}

std::size_t ConsoleMessages::shown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

std::string ConsoleMessages::last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

void ConsoleMessages::line(std::string_view text) {
  if (!out_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

StopSignals::StopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
  pthread_sigmask(SIG_BLOCK, &stops, &previous_);
  fd_ = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
  // Without the descriptor the signals end the process as usual.
  if (fd_ < 0) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

StopSignals::~StopSignals() {
  if (fd_ >= 0) ::close(fd_);
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool StopSignals::requested() {
  if (requested_ || fd_ < 0) return requested_;
  signalfd_siginfo info{};
  ssize_t n;
  do n = ::read(fd_, &info, sizeof info);
  while (n < 0 && errno == EINTR);
  requested_ = n == static_cast<ssize_t>(sizeof info);
  return requested_;
}
