#include "app/provision_record.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "formats/config_block.h"
#include "support/file_room.h"
#include "support/test_tool.h"

namespace {

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

ProvisionEntry Entry(std::string deviceId, std::string result) {
  ProvisionEntry e;
  e.when = std::chrono::system_clock::time_point(std::chrono::seconds(1733817600));  // 2024-12-10 08:00 UTC
  e.zone = "UTC+08:00";
  e.deviceId = std::move(deviceId);
  e.firmwareBefore = "0x4060";
  e.firmwareAfter = "0x4061";
  e.profileName = "cold-room";
  e.settingsSha256 = std::string(64, 'a');
  e.result = std::move(result);
  return e;
}

// A block as the Configure step builds it for a layout B logger.
std::vector<uint8_t> Block(uint8_t second, int32_t intervalSeconds) {
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = 0x40;
  state->settings.intervalSeconds = intervalSeconds;
  state->settings.startOnTime = 1;
  state->settings.startMinute = 30;  // the start time is a setting, not the clock
  state->clock.loggerClock = {24, 5, 17, 13, 45, second};
  EXPECT_TRUE(BuildConfigBlock(*state));
  const auto bytes = BlockBytes(state->block);
  return {bytes.begin(), bytes.end()};
}

TEST(ProvisionRecord, DigestLeavesOutOnlyTheClock) {
  const std::string base = SettingsDigest(Block(30, 60));
  EXPECT_EQ(base.size(), 64u);
  EXPECT_EQ(SettingsDigest(Block(31, 60)), base);
  EXPECT_NE(SettingsDigest(Block(30, 61)), base);

  // Layout A carries the clock in the same record, six bytes long.
  auto a = std::make_unique<ToolState>();
  a->device.fwVersionHigh = 0x21;
  a->clock.loggerClock = {24, 5, 17, 13, 45, 30};
  ASSERT_TRUE(BuildConfigBlock(*a));
  const auto first = BlockBytes(a->block);
  const std::string digestA = SettingsDigest(first);
  a->block.length = 0;
  a->clock.loggerClock.minute = 46;
  ASSERT_TRUE(BuildConfigBlock(*a));
  EXPECT_EQ(SettingsDigest(BlockBytes(a->block)), digestA);
  EXPECT_NE(digestA, base);
}

// Lines go in whole, the header once, and fields that CSV would split are
// quoted, doubled quotes and line breaks included; UTF-8 passes unchanged.
TEST(ProvisionRecord, AppendsWholeQuotedLinesUnderOneHeader) {
  TempDir dir;
  const std::string path = dir.file("provision.csv");

  ASSERT_TRUE(AppendProvisionRecord(path, Entry("A0001", "verified")).ok);
  ProvisionEntry odd = Entry("冷库,2号", "failed: logger said \"no\"\nthen left");
  odd.profileName = "";
  const RecordWrite w = AppendProvisionRecord(path, odd);
  ASSERT_TRUE(w.ok) << w.message;

  const std::string expected =
      ProvisionHeader() +
      "2024-12-10T08:00:00Z,UTC+08:00,A0001,0x4060,0x4061,cold-room," + std::string(64, 'a') +
      ",verified\n"
      "2024-12-10T08:00:00Z,UTC+08:00,\"冷库,2号\",0x4060,0x4061,," + std::string(64, 'a') +
      ",\"failed: logger said \"\"no\"\"\nthen left\"\n";
  EXPECT_EQ(ReadText(path), expected);
}

// Several processes appending to a new file at once: one header, and every
// line whole.
TEST(ProvisionRecord, ConcurrentAppendersKeepLinesWhole) {
  TempDir dir;
  const std::string path = dir.file("provision.csv");
  constexpr int kProcesses = 4;
  constexpr int kLines = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kLines; ++i)
        ok = AppendProvisionRecord(path, Entry("P" + std::to_string(p) + "-" + std::to_string(i),
                                               std::string(300, 'r')))
                 .ok && ok;
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string text = ReadText(path);
  ASSERT_EQ(text.rfind(ProvisionHeader(), 0), 0u);
  std::size_t lines = 0;
  for (std::size_t pos = ProvisionHeader().size(); pos < text.size(); ++lines) {
    const std::size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(pos, end + 1 - pos);
    const std::size_t id = line.find(",P");
    ASSERT_NE(id, std::string::npos) << line;
    const std::string device = line.substr(id + 1, line.find(',', id + 1) - id - 1);
    EXPECT_EQ(line, ProvisionLine(Entry(device, std::string(300, 'r'))));
    pos = end + 1;
  }
  EXPECT_EQ(lines, static_cast<std::size_t>(kProcesses * kLines));
}

TEST(ProvisionRecord, EmptyFileGetsTheHeaderAndAnUnendedLineIsNotJoined) {
  TempDir dir;
  const std::string path = dir.file("provision.csv");
  WriteFile(path, {});
  ASSERT_TRUE(AppendProvisionRecord(path, Entry("A1", "verified")).ok);
  EXPECT_EQ(ReadText(path).rfind(ProvisionHeader(), 0), 0u);

  const std::string handEdited = dir.file("edited.csv");
  WriteFile(handEdited, Bytes{'x', ',', 'y'});
  ASSERT_TRUE(AppendProvisionRecord(handEdited, Entry("A2", "verified")).ok);
  EXPECT_EQ(ReadText(handEdited), "x,y\n" + ProvisionLine(Entry("A2", "verified")));
}

TEST(ProvisionRecord, FailureIsReportedNotThrown) {
  TempDir dir;
  const RecordWrite w = AppendProvisionRecord(dir.file("no/such/folder.csv"), Entry("A1", "verified"));
  EXPECT_FALSE(w.ok);
  EXPECT_NE(w.message.find("no/such/folder.csv"), std::string::npos);

  // A volume that fills up mid-line: the short write is taken back, so the
  // file keeps its earlier lines and no half line.
  const std::string path = dir.file("provision.csv");
  ASSERT_TRUE(AppendProvisionRecord(path, Entry("A1", "verified")).ok);
  const std::string before = ReadText(path);
  {
    FileRoom room(before.size() + 20);
    EXPECT_FALSE(AppendProvisionRecord(path, Entry("A2", "verified")).ok);
  }
  EXPECT_EQ(ReadText(path), before);
  ASSERT_TRUE(AppendProvisionRecord(path, Entry("A3", "verified")).ok);
  EXPECT_EQ(ReadText(path), before + ProvisionLine(Entry("A3", "verified")));

  // A file that refuses writes keeps what it had.
  if (::geteuid() != 0) {
    ::chmod(path.c_str(), 0444);
    EXPECT_FALSE(AppendProvisionRecord(path, Entry("A2", "verified")).ok);
    EXPECT_EQ(ReadText(path), before + ProvisionLine(Entry("A3", "verified")));
  }
}

}  // namespace
