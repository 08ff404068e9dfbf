#include "app/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

constexpr const char* kConfigurationLock = "_Configuration_";
constexpr const char* kCalibrationLock = "_Calibrate_";

// Opens a directory that only this user can reach: a real directory (not a
// symlink someone planted), owned by us, mode 0700. With `create` a missing
// directory is made so. Returns -1 when the directory cannot be trusted.
int OpenPrivateDirectory(const std::string& path, bool create) {
  bool made = false;
  if (create) {
    if (::mkdir(path.c_str(), 0700) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      return -1;
    }
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return -1;
  }
  mode_t mode = st.st_mode & 07777;
  // The umask may have taken bits off a directory we just made.
  if (made && mode != 0700 && ::fchmod(fd, 0700) == 0) mode = 0700;
  if (mode != 0700) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int OpenLockDirectory(const std::string& explicitDir, const UserLockRoots& roots) {
  if (!explicitDir.empty()) return OpenPrivateDirectory(explicitDir, true);
  const std::string uid = std::to_string(::geteuid());
  // The session's runtime directory is taken only when it is a real
  // directory of ours with mode 0700; it is never made here.
  int fd = OpenPrivateDirectory(roots.runtime + "/" + uid, false);
  if (fd >= 0) return fd;
  return OpenPrivateDirectory(roots.fallback + "/thlogger-config-" + uid, true);
}

enum class LockOutcome { Locked, HeldElsewhere, Unavailable };

// Opens the lock file `name` in `dirFd` and tries to lock it without waiting.
// On Locked, `fd` holds the lock; otherwise nothing is kept open.
LockOutcome TryLock(int dirFd, const char* name, int& fd) {
  fd = -1;
  // O_NONBLOCK keeps a FIFO in place of the file from stalling the open.
  int f = ::openat(dirFd, name, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (f < 0) return LockOutcome::Unavailable;
  struct stat st {};
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(f);
    return LockOutcome::Unavailable;
  }
  int rc;
  do {
    rc = ::flock(f, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    fd = f;
    return LockOutcome::Locked;
  }
  int error = errno;
  ::close(f);
  return error == EWOULDBLOCK ? LockOutcome::HeldElsewhere : LockOutcome::Unavailable;
}

void Release(int fd) {
  // Unlock explicitly: a forked child may share the open file description,
  // and closing our descriptor alone would leave the lock with it.
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

}  // namespace

InstanceGuard::InstanceGuard(UserLockRoots roots) : roots_(std::move(roots)) {}

InstanceGuard::InstanceGuard(std::string lockDir) : dir_(std::move(lockDir)) {}

InstanceGuard::~InstanceGuard() {
  if (configurationFd_ >= 0) Release(configurationFd_);
}

GuardResult InstanceGuard::acquire() {
  int dirFd = OpenLockDirectory(dir_, roots_);
  // No trustworthy place for the locks: run without the guard.
  if (dirFd < 0) return GuardResult::Acquired;

  // Our own lock first, so that a second copy is reported as such even
  // while the calibration tool runs too.
  if (configurationFd_ < 0) {
    int fd = -1;
    if (TryLock(dirFd, kConfigurationLock, fd) == LockOutcome::HeldElsewhere) {
      ::close(dirFd);
      return GuardResult::ToolRunning;
    }
    configurationFd_ = fd;  // -1 when the lock could not be made: no guard
  }

  // The calibration tool's lock is only looked at, never kept: a calibration
  // tool started after us must be able to take it.
  int probe = -1;
  LockOutcome calibration = TryLock(dirFd, kCalibrationLock, probe);
  ::close(dirFd);
  if (probe >= 0) Release(probe);
  // Our configuration lock stays held until this object goes, so a third
  // copy started meanwhile is told that the tool is running.
  return calibration == LockOutcome::HeldElsewhere ? GuardResult::CalibrationRunning
                                                   : GuardResult::Acquired;
}

const char* InstanceGuard::ToolRunningMessage() { return "配置工具已经运行!\n请勿重复运行!"; }

const char* InstanceGuard::CalibrationRunningMessage() {
  return "校准工具已经运行!\n如果想运行配置工具,请关闭校准工具!";
}
