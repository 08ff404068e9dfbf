#pragma once

#include <string>

// Keeps one copy of the tool per user, and none while the companion
// calibration tool runs. The locks are advisory file locks, so they vanish
// with the process however it ends.
enum class GuardResult { Acquired, ToolRunning, CalibrationRunning };

class InstanceGuard {
 public:
  // `lockDir` empty: $XDG_RUNTIME_DIR, else a private per-user directory under /tmp.
  explicit InstanceGuard(std::string lockDir = {});
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  GuardResult acquire();

  static const char* ToolRunningMessage();         // "配置工具已经运行!..."
  static const char* CalibrationRunningMessage();  // "校准工具已经运行!..."

 private:
  std::string dir_;
  int configurationFd_ = -1;
};
