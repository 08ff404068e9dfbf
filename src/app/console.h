#pragma once

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "core/ports.h"

// The commands without a window: what the window would show in a message box
// goes to standard error as lines, in the same words. The receive thread may
// raise messages too, so lines are written whole under a lock.
class ConsoleMessages : public MessagePort {
 public:
  // A null `out` keeps the messages to itself (shown() and last() still tell).
  explicit ConsoleMessages(std::FILE* out = stderr) : out_(out) {}
  void show(std::string_view text, MessageIcon icon = MessageIcon::Warning) override;
  // A line of progress or a summary, kept apart from other threads' lines.
  void line(std::string_view text);

  // Warnings shown so far, and the last one: a command tells a failure by
  // them. A box without the warning icon (a disk being mounted) is news only.
  std::size_t shown() const;
  std::string last() const;

 private:
  std::FILE* out_;
  mutable std::mutex mutex_;
  std::size_t shown_ = 0;
  std::string last_;
};

// Ctrl+C, SIGTERM and SIGHUP become a request to stop that the command reads
// between its passes. The signals are blocked in the creating thread and in
// every thread it starts afterwards, and taken through a signalfd, so no
// handler and no process-wide flag is needed. Create it before any thread.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // True once one of the signals has come; it stays true.
  bool requested();

 private:
  int fd_ = -1;
  bool requested_ = false;
  sigset_t previous_{};
};
