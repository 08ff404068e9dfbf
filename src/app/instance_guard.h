#pragma once

#include <string>

// Keeps one copy of the tool per user, and none while the companion
// calibration tool runs. The locks are advisory file locks, so they vanish
// with the process however it ends.
enum class GuardResult { Acquired, ToolRunning, CalibrationRunning };

// Where a user's locks live. Both come from the user id alone, never from the
// environment, so every copy the user starts finds the same locks.
struct UserLockRoots {
  std::string runtime = "/run/user";  // <runtime>/<uid>, when it is the user's own, mode 0700
  std::string fallback = "/tmp";      // else <fallback>/thlogger-config-<uid>, made private
};

class InstanceGuard {
 public:
  // The running tool: the locks in the user's own place.
  InstanceGuard() : InstanceGuard(UserLockRoots{}) {}
  // The same rule under other roots (tests use scratch folders).
  explicit InstanceGuard(UserLockRoots roots);
  // Exactly `lockDir`, made private if it is missing.
  explicit InstanceGuard(std::string lockDir);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  GuardResult acquire();

  static const char* ToolRunningMessage();         // "配置工具已经运行!..."
  static const char* CalibrationRunningMessage();  // "校准工具已经运行!..."

 private:
  UserLockRoots roots_;
  std::string dir_;  // empty: derived from roots_
  int configurationFd_ = -1;
};
