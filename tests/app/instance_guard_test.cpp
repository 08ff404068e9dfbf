#include "app/instance_guard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/test_tool.h"

// Every "other copy" here is a forked process, as a user meets it. The
// children only make system calls (or run the guard itself) and leave with
// _exit.

namespace {

// Whether a separate process could take the lock on `path` right now.
bool OtherProcessCanLock(const std::string& path) {
  const char* file = path.c_str();
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(file, O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) _exit(2);
    _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    ADD_FAILURE() << "probe process failed";
    return false;
  }
  EXPECT_NE(WEXITSTATUS(status), 2) << "probe could not open " << path;
  return WEXITSTATUS(status) == 0;
}

// A separate process that holds locks on some files until it is released or
// killed, standing in for another copy of the tool or the calibration tool.
class LockHolder {
 public:
  explicit LockHolder(const std::vector<std::string>& paths) {
    std::vector<const char*> files;
    for (const std::string& p : paths) files.push_back(p.c_str());
    int report[2];
    int release[2];
    if (pipe2(report, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(report[0]);
      close(release[1]);
      char ok = '1';
      for (const char* file : files) {
        int fd = open(file, O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) ok = '0';
      }
      if (write(report[1], &ok, 1) != 1) _exit(3);
      char byte;
      while (read(release[0], &byte, 1) > 0) {
      }
      _exit(0);
    }
    close(report[1]);
    close(release[0]);
    releaseFd_ = release[1];
    char ok = '0';
    locked_ = pid_ > 0 && read(report[0], &ok, 1) == 1 && ok == '1';
    close(report[0]);
  }
  ~LockHolder() {
    if (pid_ > 0) kill(SIGKILL);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool locked() const { return locked_; }

  // Lets the holder end normally and waits for it.
  void exitNormally() {
    close(releaseFd_);
    releaseFd_ = -1;
    reap();
  }
  void kill(int signal) {
    ::kill(pid_, signal);
    reap();
  }

 private:
  void reap() {
    if (releaseFd_ >= 0) close(releaseFd_);
    releaseFd_ = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int releaseFd_ = -1;
  bool locked_ = false;
};

struct GuardTest : ::testing::Test {
  TempDir tmp;
  std::string configuration = tmp.file("_Configuration_");
  std::string calibration = tmp.file("_Calibrate_");
};

// ---- Who is running ---------------------------------------------------------

TEST_F(GuardTest, FirstCopyHoldsItsOwnLockForItsLifetimeOnly) {
  {
    InstanceGuard guard(tmp.path());
    ASSERT_EQ(guard.acquire(), GuardResult::Acquired);
    EXPECT_FALSE(OtherProcessCanLock(configuration));
    // The calibration lock is only probed: a calibration tool started after
    // us can take it, and we do not notice.
    EXPECT_TRUE(OtherProcessCanLock(calibration));
    LockHolder lateCalibration({calibration});
    EXPECT_TRUE(lateCalibration.locked());
    EXPECT_FALSE(OtherProcessCanLock(configuration));

    struct stat st {};
    ASSERT_EQ(stat(configuration.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_TRUE(OtherProcessCanLock(configuration));
  InstanceGuard next(tmp.path());
  EXPECT_EQ(next.acquire(), GuardResult::Acquired);
}

TEST_F(GuardTest, SecondCopyIsToldTheToolRunsAndKeepsNothing) {
  LockHolder first({configuration});
  ASSERT_TRUE(first.locked());
  InstanceGuard second(tmp.path());
  EXPECT_EQ(second.acquire(), GuardResult::ToolRunning);

  // The refused copy holds nothing: once the first copy is gone, a third
  // starts normally even while the refused guard object still exists.
  first.exitNormally();
  EXPECT_TRUE(OtherProcessCanLock(configuration));
  InstanceGuard third(tmp.path());
  EXPECT_EQ(third.acquire(), GuardResult::Acquired);
}

TEST_F(GuardTest, RunningCopyIsReportedBeforeARunningCalibrationTool) {
  LockHolder first({configuration});
  LockHolder calibrationTool({calibration});
  ASSERT_TRUE(first.locked());
  ASSERT_TRUE(calibrationTool.locked());
  InstanceGuard guard(tmp.path());
  EXPECT_EQ(guard.acquire(), GuardResult::ToolRunning);
}

TEST_F(GuardTest, CalibrationToolRunningKeepsOurLockUntilTheGuardGoes) {
  LockHolder calibrationTool({calibration});
  ASSERT_TRUE(calibrationTool.locked());
  {
    InstanceGuard guard(tmp.path());
    EXPECT_EQ(guard.acquire(), GuardResult::CalibrationRunning);
    // While that message is open, another start is told the tool runs.
    EXPECT_FALSE(OtherProcessCanLock(configuration));
    InstanceGuard another(tmp.path());
    EXPECT_EQ(another.acquire(), GuardResult::ToolRunning);
  }
  EXPECT_TRUE(OtherProcessCanLock(configuration));
  // We never took the calibration tool's lock from it.
  EXPECT_FALSE(OtherProcessCanLock(calibration));
}

TEST_F(GuardTest, LockVanishesWithItsProcessHoweverItEnds) {
  {
    LockHolder first({configuration});
    ASSERT_TRUE(first.locked());
    first.exitNormally();
    InstanceGuard guard(tmp.path());
    EXPECT_EQ(guard.acquire(), GuardResult::Acquired);
  }
  {
    LockHolder first({configuration});
    ASSERT_TRUE(first.locked());
    first.kill(SIGKILL);
    InstanceGuard guard(tmp.path());
    EXPECT_EQ(guard.acquire(), GuardResult::Acquired);
  }
}

TEST_F(GuardTest, GuardReleasesEvenWhenAForkedChildSharesTheLockFile) {
  auto guard = std::make_unique<InstanceGuard>(tmp.path());
  ASSERT_EQ(guard->acquire(), GuardResult::Acquired);
  // The child inherits the guard's descriptor without ever exec'ing.
  LockHolder child({});
  guard.reset();
  EXPECT_TRUE(OtherProcessCanLock(configuration));
}

// ---- Where the locks live ---------------------------------------------------

TEST_F(GuardTest, MissingLockDirectoryIsCreatedPrivate) {
  std::string dir = tmp.file("locks");
  mode_t old = umask(0022);
  InstanceGuard guard(dir);
  EXPECT_EQ(guard.acquire(), GuardResult::Acquired);
  umask(old);
  struct stat st {};
  ASSERT_EQ(lstat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_FALSE(OtherProcessCanLock(dir + "/_Configuration_"));
}

TEST_F(GuardTest, UntrustedLockDirectoryMeansRunningWithoutGuard) {
  // A directory others can enter, and a symlink to a private one: the guard
  // uses neither, so it neither sees nor takes the locks inside.
  std::string open = tmp.file("open");
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(chmod(open.c_str(), 0755), 0);
  std::string target = tmp.file("target");
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  std::string link = tmp.file("link");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

  for (const std::string& dir : {open, link}) {
    std::string realDir = dir == link ? target : dir;
    LockHolder other({realDir + "/_Configuration_"});
    ASSERT_TRUE(other.locked());
    InstanceGuard guard(dir);
    EXPECT_EQ(guard.acquire(), GuardResult::Acquired) << dir;
  }
  InstanceGuard guard(link);
  EXPECT_EQ(guard.acquire(), GuardResult::Acquired);
  EXPECT_TRUE(OtherProcessCanLock(target + "/_Configuration_"));
}

TEST_F(GuardTest, PlantedSymlinkIsNotFollowedButCalibrationIsStillProbed) {
  std::string victim = tmp.file("victim");
  ASSERT_EQ(symlink(victim.c_str(), configuration.c_str()), 0);
  LockHolder calibrationTool({calibration});
  ASSERT_TRUE(calibrationTool.locked());
  InstanceGuard guard(tmp.path());
  EXPECT_EQ(guard.acquire(), GuardResult::CalibrationRunning);
  struct stat st {};
  EXPECT_NE(lstat(victim.c_str(), &st), 0) << "lock opened through the symlink";
}

// ---- Whose locks: the user's, whatever the environment says ---------------

// Another copy of the tool for the same user: a separate process that runs
// the guard under `roots` with XDG_RUNTIME_DIR set to `runtimeDir` (unset
// when null), and keeps what it got until it is released or killed.
class ToolCopy {
 public:
  ToolCopy(const UserLockRoots& roots, const char* runtimeDir) {
    int report[2];
    int release[2];
    if (pipe2(report, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(report[0]);
      close(release[1]);
      if (runtimeDir != nullptr)
        setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
      else
        unsetenv("XDG_RUNTIME_DIR");
      InstanceGuard guard(roots);
      const char result = static_cast<char>('0' + static_cast<int>(guard.acquire()));
      if (write(report[1], &result, 1) != 1) _exit(3);
      char byte;
      while (read(release[0], &byte, 1) > 0) {
      }
      _exit(0);
    }
    close(report[1]);
    close(release[0]);
    releaseFd_ = release[1];
    char result = 0;
    if (pid_ > 0 && read(report[0], &result, 1) == 1)
      result_ = static_cast<GuardResult>(result - '0');
    close(report[0]);
  }
  ~ToolCopy() {
    if (releaseFd_ >= 0) close(releaseFd_);
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  ToolCopy(const ToolCopy&) = delete;
  ToolCopy& operator=(const ToolCopy&) = delete;

  // Nothing when the copy never reported.
  std::optional<GuardResult> result() const { return result_; }

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
  std::optional<GuardResult> result_;
};

struct UserScopeTest : GuardTest {
  std::string uid = std::to_string(geteuid());
  UserLockRoots roots{tmp.file("run"), tmp.file("tmp")};
  std::string runtime = roots.runtime + "/" + uid;
  std::string fallback = roots.fallback + "/thlogger-config-" + uid;
  // Private folders another copy's XDG_RUNTIME_DIR may name.
  std::string sessionA = tmp.file("sessionA");
  std::string sessionB = tmp.file("sessionB");

  void SetUp() override {
    for (const std::string& dir : {roots.runtime, roots.fallback, sessionA, sessionB})
      ASSERT_EQ(mkdir(dir.c_str(), 0700), 0) << dir;
    ASSERT_EQ(chmod(roots.runtime.c_str(), 0755), 0);
  }
};

TEST_F(UserScopeTest, SecondCopyIsRefusedWhateverItsRuntimeDirectory) {
  // The runtime folder of the user when it is private; otherwise (missing,
  // open to others, a symlink) the private fallback folder.
  enum class Runtime { Private, Missing, OpenToOthers, Symlink };
  for (Runtime kind : {Runtime::Private, Runtime::Missing, Runtime::OpenToOthers,
                       Runtime::Symlink}) {
    SCOPED_TRACE(static_cast<int>(kind));
    std::filesystem::remove_all(runtime);
    std::filesystem::remove_all(fallback);
    if (kind == Runtime::Private || kind == Runtime::OpenToOthers) {
      ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
      if (kind == Runtime::OpenToOthers) {
        ASSERT_EQ(chmod(runtime.c_str(), 0755), 0);
      }
    } else if (kind == Runtime::Symlink) {
      ASSERT_EQ(symlink(sessionA.c_str(), runtime.c_str()), 0);
    }
    const std::string lockDir = kind == Runtime::Private ? runtime : fallback;

    ToolCopy first(roots, sessionA.c_str());
    ASSERT_EQ(first.result(), GuardResult::Acquired);
    EXPECT_FALSE(OtherProcessCanLock(lockDir + "/_Configuration_"));
    {
      ToolCopy second(roots, sessionB.c_str());
      EXPECT_EQ(second.result(), GuardResult::ToolRunning);
      ToolCopy third(roots, nullptr);
      EXPECT_EQ(third.result(), GuardResult::ToolRunning);
    }
    // Nothing was locked where the environment pointed.
    EXPECT_TRUE(OtherProcessCanLock(sessionA + "/_Configuration_"));
    EXPECT_TRUE(OtherProcessCanLock(sessionB + "/_Configuration_"));
  }
}

// Formerly the runtime directory came from XDG_RUNTIME_DIR; now the variable
// is ignored and the user's own runtime folder holds the lock.
TEST_F(UserScopeTest, DefaultDirectoryIsTheUsersRuntimeDirectory) {
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  const char* saved = getenv("XDG_RUNTIME_DIR");
  std::string previous = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", tmp.path().c_str(), 1);
  {
    InstanceGuard guard(roots);
    EXPECT_EQ(guard.acquire(), GuardResult::Acquired);
    EXPECT_FALSE(OtherProcessCanLock(runtime + "/_Configuration_"));
    EXPECT_TRUE(OtherProcessCanLock(configuration));
  }
  if (saved) {
    setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

}  // namespace
