#include "drive/udisks_mounter.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// A child process that is stopped and reaped when it goes out of scope.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }

  // Starts `argv` with `env` added to the environment; with `out`, its
  // standard output comes back through a pipe.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             int* out = nullptr) {
    int fds[2] = {-1, -1};
    if (out && ::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out)
      posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    else  // the stand-in logs every call; the test's output stays readable
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> envText(env);
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    int r = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (out) {
      ::close(fds[1]);
      *out = fds[0];
    }
    if (r != 0) pid_ = -1;
    return r == 0;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// A private bus with, on request, a stand-in UDisks2 on it.
class UDisksMounterTest : public ::testing::Test {
 protected:
  Child daemon_;
  Child mock_;
  std::string address_;

  void SetUp() override {
    int out = -1;
    ASSERT_TRUE(daemon_.Start({THLOGGER_DBUS_DAEMON, "--session", "--nofork", "--print-address=1"},
                              {}, &out));
    char buffer[512];
    std::string line;
    ssize_t n;
    while (line.find('\n') == std::string::npos && (n = ::read(out, buffer, sizeof buffer)) > 0)
      line.append(buffer, static_cast<std::size_t>(n));
    ::close(out);
    address_ = line.substr(0, line.find('\n'));
    ASSERT_FALSE(address_.empty());
  }

  // Starts the stand-in and waits until it owns its name on the bus.
  void StartUDisks(const std::string& parameters = "{}") {
    ASSERT_TRUE(mock_.Start({THLOGGER_PYTHON3, "-m", "dbusmock", "-t", UDISKS_TEMPLATE, "-p",
                             parameters},
                            {"DBUS_SYSTEM_BUS_ADDRESS=" + address_,
                             "DBUS_SESSION_BUS_ADDRESS=" + address_}));
    sd_bus* bus = nullptr;
    ASSERT_GE(sd_bus_new(&bus), 0);
    sd_bus_set_address(bus, address_.c_str());
    sd_bus_set_bus_client(bus, 1);
    ASSERT_GE(sd_bus_start(bus), 0);
    bool owned = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!owned && std::chrono::steady_clock::now() < end) {
      sd_bus_message* reply = nullptr;
      int has = 0;
      if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                             "org.freedesktop.UDisks2") >= 0 &&
          sd_bus_message_read(reply, "b", &has) >= 0)
        owned = has != 0;
      sd_bus_message_unref(reply);
      if (!owned) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sd_bus_flush_close_unref(bus);
    ASSERT_TRUE(owned) << "the UDisks2 stand-in did not start";
  }

  MountResult Mount(const std::string& device) {
    UDisksMounter mounter(address_);
    return mounter.mount(device, mountPoint_, error_);
  }

  std::string mountPoint_ = "stale";
  std::string error_ = "stale";
};

TEST_F(UDisksMounterTest, MountsTheResolvedBlockDevice) {
  StartUDisks();
  EXPECT_EQ(Mount("/dev/sdb1"), MountResult::Mounted);
  EXPECT_EQ(mountPoint_, "/media/ann/LOGGER");
  EXPECT_EQ(error_, "");
  // A device UDisks2 does not know is refused, not an unavailable service.
  EXPECT_EQ(Mount("/dev/sdc1"), MountResult::Refused);
  EXPECT_EQ(error_, "UDisks2 does not know /dev/sdc1");
  EXPECT_EQ(mountPoint_, "");
}

TEST_F(UDisksMounterTest, NotAuthorisedIsRefusedWithTheServicesText) {
  StartUDisks(R"({"mount_error": "org.freedesktop.UDisks2.Error.NotAuthorized"})");
  EXPECT_EQ(Mount("/dev/sdb1"), MountResult::Refused);
  EXPECT_EQ(error_, "Not authorized to perform operation");
  EXPECT_EQ(mountPoint_, "");
}

TEST_F(UDisksMounterTest, AlreadyMountedCountsAsMounted) {
  StartUDisks(R"({"mount_error": "org.freedesktop.UDisks2.Error.AlreadyMounted"})");
  EXPECT_EQ(Mount("/dev/sdb1"), MountResult::Mounted);
}

TEST_F(UDisksMounterTest, NoServiceOrNoBusIsUnavailable) {
  EXPECT_EQ(Mount("/dev/sdb1"), MountResult::Unavailable);
  EXPECT_NE(error_, "");
  UDisksMounter nowhere("unix:path=/nonexistent/bus");
  EXPECT_EQ(nowhere.mount("/dev/sdb1", mountPoint_, error_), MountResult::Unavailable);
}

}  // namespace
