#include "delivery/transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <vector>

#include "app/poll_pass.h"
#include "formats/config_block.h"
#include "support/file_room.h"
#include "support/test_tool.h"

namespace {

namespace fs = std::filesystem;

// A drive logger with a layout A block waiting for delivery.
struct DriveDelivery {
  TestTool tool;
  TempDir volume;

  explicit DriveDelivery(uint8_t capabilityFlags = 0) {
    tool.s().device.fwVersionHigh = 0x24;
    tool.s().device.capabilityFlags = capabilityFlags;
    tool.s().settings.intervalSeconds = 60;
    EXPECT_TRUE(BuildConfigBlock(tool.s()));
    Plug(volume.path());
  }
  void Plug(const std::string& root) {
    tool.s().poll.driveCount = 1;
    tool.s().drives.loggerDriveRoots[0] = root;
  }
  void Pass() { ConfigurationTransfer(tool.s()); }
  uint8_t Step() const { return tool.state->poll.transferState; }
  Bytes Block() const {
    return Bytes(tool.state->block.bytes.begin(),
                 tool.state->block.bytes.begin() + tool.state->block.length);
  }
  std::string Config() const { return volume.file("CONFIG.CFG"); }
  std::string Confirm() const { return volume.file("OK.DAT"); }
  std::string Caption() { return tool.form.text(ctl::Configure); }
};

void ExpectDropped(const ToolState& s) {
  EXPECT_EQ(s.poll.transferState, TransferIdle);
  EXPECT_EQ(s.block.length, 0);
  EXPECT_EQ(s.poll.transferAttempts, 0);
}

void ExpectRefused(DriveDelivery& d, const char* message) {
  ExpectDropped(d.tool.s());
  EXPECT_EQ(d.Caption(), "Failed ");
  EXPECT_FALSE(d.tool.form.enabled(ctl::Configure));
  EXPECT_FALSE(d.tool.form.refreshed.empty());
  ASSERT_EQ(d.tool.messages.shown.size(), 1u);
  EXPECT_EQ(d.tool.messages.last(), message);
  EXPECT_FALSE(fs::exists(d.Confirm()));
}

// ---- Drive route ------------------------------------------------------------

TEST(DriveTransfer, WritesVerifiesAndConfirmsInThreePasses) {
  DriveDelivery d;
  d.tool.form.at(ctl::Configure).text = "Configuring...";
  const Bytes block = d.Block();
  ASSERT_EQ(block.size(), 391u);

  d.Pass();
  EXPECT_EQ(d.Step(), TransferVerify);
  EXPECT_EQ(ReadFile(d.Config()), block);
  EXPECT_FALSE(fs::exists(d.Confirm()));

  d.Pass();
  EXPECT_EQ(d.Step(), TransferConfirm);
  EXPECT_FALSE(fs::exists(d.Confirm()));

  d.Pass();
  ExpectDropped(d.tool.s());
  EXPECT_EQ(ReadFile(d.Confirm()), (Bytes{0x4F, 0x4B}));
  EXPECT_EQ(ReadFile(d.Config()), block);
  EXPECT_TRUE(d.tool.messages.shown.empty());
  EXPECT_EQ(d.Caption(), "Configuring...");  // success says nothing

  d.Pass();  // idle: nothing is touched again
  EXPECT_EQ(d.Step(), TransferIdle);
  EXPECT_TRUE(d.tool.messages.shown.empty());
}

TEST(DriveTransfer, ReadBackThatDiffersIsWrittenAgain) {
  struct Corruption {
    const char* name;
    void (*apply)(Bytes&);
  };
  const Corruption corruptions[] = {
      {"one byte short", [](Bytes& b) { b.pop_back(); }},
      {"one byte changed", [](Bytes& b) { b[200] ^= 0x01; }},
      {"one byte more", [](Bytes& b) { b.push_back(0); }},
      {"empty", [](Bytes& b) { b.clear(); }},
  };
  for (const Corruption& c : corruptions) {
    SCOPED_TRACE(c.name);
    DriveDelivery d;
    const Bytes block = d.Block();
    d.Pass();
    Bytes held = ReadFile(d.Config());
    c.apply(held);
    WriteFile(d.Config(), held);

    d.Pass();
    EXPECT_EQ(d.Step(), TransferWrite);
    EXPECT_EQ(d.tool.state->block.length, block.size());
    d.Pass();
    EXPECT_EQ(d.Step(), TransferVerify);
    EXPECT_EQ(ReadFile(d.Config()), block);
    EXPECT_EQ(d.tool.state->poll.transferAttempts, 2);
    d.Pass();
    d.Pass();
    ExpectDropped(d.tool.s());
    EXPECT_EQ(ReadFile(d.Confirm()), (Bytes{0x4F, 0x4B}));
    EXPECT_TRUE(d.tool.messages.shown.empty());
  }
}

TEST(DriveTransfer, GivesUpAfterFiveRoundsWithoutAMatch) {
  {
    SCOPED_TRACE("read-back always short");
    DriveDelivery d;
    for (int round = 1; round <= kMaxConfigWrites; ++round) {
      ASSERT_EQ(d.Step(), TransferWrite) << round;
      d.Pass();
      ASSERT_EQ(d.Step(), TransferVerify) << round;
      EXPECT_EQ(d.tool.state->poll.transferAttempts, round);
      Bytes held = ReadFile(d.Config());
      held.pop_back();
      WriteFile(d.Config(), held);
      d.Pass();
      if (round < kMaxConfigWrites) {
        EXPECT_EQ(d.Step(), TransferWrite) << round;
        EXPECT_TRUE(d.tool.messages.shown.empty()) << round;
      }
    }
    ExpectRefused(d, "Make sure the device is connected well ");
  }
  {
    SCOPED_TRACE("every write runs out of space");
    DriveDelivery d;
    const FileRoom full(16);
    for (int round = 1; round < kMaxConfigWrites; ++round) {
      d.Pass();
      ASSERT_EQ(d.Step(), TransferWrite) << round;  // never taken as written
      EXPECT_TRUE(d.tool.messages.shown.empty());
    }
    d.Pass();
    ExpectRefused(d, "Make sure the device is connected well ");
  }
}

TEST(DriveTransfer, ConfigFileThatCannotBeCreatedRefusesTheLogger) {
  struct Case {
    const char* name;
    uint8_t capabilities;
    const char* message;
  };
  for (const Case& c : {Case{"ordinary", 0x00, "Make sure the device is connected well "},
                        Case{"single use", 0x10, "Make sure the single use device can be configured"},
                        Case{"other bits", 0xEF, "Make sure the device is connected well "}}) {
    SCOPED_TRACE(c.name);
    DriveDelivery d(c.capabilities);
    WriteFile(d.volume.file("plain"), {1});
    d.Plug(d.volume.file("plain"));  // a root that is a file: nothing can be created below it
    d.Pass();
    ExpectRefused(d, c.message);
  }
  {
    SCOPED_TRACE("a FIFO under the name, which would block the pass");
    DriveDelivery d;
    ASSERT_EQ(::mkfifo(d.Config().c_str(), 0644), 0);
    d.Pass();
    ExpectRefused(d, "Make sure the device is connected well ");
  }
  {
    SCOPED_TRACE("no volume named");
    DriveDelivery d;
    d.Plug("");
    d.Pass();
    ExpectRefused(d, "Make sure the device is connected well ");
    EXPECT_FALSE(fs::exists("/CONFIG.CFG"));
  }
}

TEST(DriveTransfer, ReadBackThatCannotOpenWaitsForTheNextPass) {
  DriveDelivery d;
  d.Pass();
  const Bytes held = ReadFile(d.Config());
  fs::remove(d.Config());
  d.Pass();
  d.Pass();
  EXPECT_EQ(d.Step(), TransferVerify);
  EXPECT_TRUE(d.tool.messages.shown.empty());
  WriteFile(d.Config(), held);
  d.Pass();
  EXPECT_EQ(d.Step(), TransferConfirm);
}

TEST(DriveTransfer, ReadBackThatNeverOpensGivesUp) {
  DriveDelivery d;
  d.tool.form.at(ctl::Configure).text = "Configuring...";
  d.Pass();
  fs::remove(d.Config());
  for (int pass = 0; pass < 10 && d.Step() == TransferVerify; ++pass) d.Pass();
  ExpectDropped(d.tool.s());
  EXPECT_EQ(d.Caption(), "Failed ");
  EXPECT_EQ(d.tool.messages.last(), "Make sure the device is connected well ");
  EXPECT_EQ(d.tool.messages.shown.size(), 1u);
}

TEST(DriveTransfer, ConfirmationThatFailsIsReported) {
  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "runs out of space" : "cannot be created");
    DriveDelivery d;
    d.tool.form.at(ctl::Configure).text = "Configuring...";
    if (!full) fs::create_directory(d.Confirm());
    d.Pass();
    d.Pass();
    ASSERT_EQ(d.Step(), TransferConfirm);
    {
      std::optional<FileRoom> limit;
      if (full) limit.emplace(0);
      d.Pass();
    }
    ExpectDropped(d.tool.s());
    ASSERT_EQ(d.tool.messages.shown.size(), 1u);
    EXPECT_EQ(d.tool.messages.last(), "Make sure the device is connected well ");
    EXPECT_EQ(d.Caption(), "Failed ");  // not left saying it is still at work
  }
}

TEST(DriveTransfer, BlockWaitsWhileNoLoggerIsPresent) {
  DriveDelivery d;
  d.tool.s().poll.driveCount = 0;
  for (uint8_t step : {TransferWrite, TransferVerify, TransferConfirm}) {
    d.tool.s().poll.transferState = step;
    d.Pass();
    EXPECT_EQ(d.Step(), step);
    EXPECT_EQ(d.tool.state->block.length, 391);
  }
  EXPECT_FALSE(fs::exists(d.Config()));
  EXPECT_FALSE(fs::exists(d.Confirm()));
  EXPECT_TRUE(d.tool.messages.shown.empty());
}

TEST(DriveTransfer, LoggerLeavingMidDeliveryStartsTheNextBlockAfresh) {
  DriveDelivery d;
  for (int round = 0; round < 3; ++round) {
    d.Pass();
    fs::remove(d.Config());
    WriteFile(d.Config(), {0x55});
    d.Pass();
  }
  ASSERT_EQ(d.tool.state->poll.transferAttempts, 3);
  ResetForm(d.tool.s());
  EXPECT_EQ(d.tool.state->poll.transferAttempts, 0);
  EXPECT_EQ(d.Step(), TransferIdle);
}

// ---- HID route --------------------------------------------------------------

struct Sent {
  uint8_t command;
  uint8_t length;
  uint32_t offset;
  Bytes data;
  bool operator==(const Sent&) const = default;
};

std::vector<Sent> Chunks(std::span<const uint8_t> bytes, HidWalk* end = nullptr) {
  std::vector<Sent> sent;
  HidWalk walk = WalkHidChunks(bytes, [&](const HidChunk& c) {
    sent.push_back({c.command, c.length, c.offset, Bytes(c.data.begin(), c.data.end())});
    return true;
  });
  if (end) *end = walk;
  return sent;
}

TEST(HidTransfer, LayoutBBlockGoesRecordByRecordWithUserInfoInTwoChunks) {
  TestTool tool;
  ToolState& s = tool.s();
  s.device.fwVersionHigh = 0x41;
  s.settings.startOnTime = 1;
  std::iota(s.settings.userInfo.begin(), s.settings.userInfo.end(), uint8_t{1});
  ASSERT_TRUE(BuildConfigBlock(s));
  ASSERT_EQ(AppendRecord(s, kTransferEndCommand, nullptr, 0), 5);

  HidWalk end{};
  const std::vector<Sent> sent = Chunks(BlockBytes(s.block), &end);
  EXPECT_EQ(end, HidWalk::Finished);
  ASSERT_EQ(sent.size(), 36u);  // 35 records, the user information twice

  const Bytes info(s.settings.userInfo.begin(), s.settings.userInfo.end());
  std::size_t offset = 0;
  std::size_t k = 0;
  for (;;) {
    RecordView r = ReadRecord(BlockBytes(s.block), offset);
    if (r.status == RecordStatus::Exhausted) break;
    ASSERT_EQ(r.status, RecordStatus::Ok);
    if (r.command == 0x19) {
      EXPECT_EQ(sent[k], (Sent{0x19, 64, 0, Bytes(info.begin(), info.begin() + 58)}));
      EXPECT_EQ(sent[k + 1], (Sent{0x19, 48, 58, Bytes(info.begin() + 58, info.end())}));
      k += 2;
    } else {
      EXPECT_EQ(sent[k], (Sent{r.command, static_cast<uint8_t>(r.data.size() + 6), 0,
                               Bytes(r.data.begin(), r.data.end())}));
      ++k;
    }
    offset += r.length;
  }
  EXPECT_EQ(k, sent.size());
  EXPECT_EQ(sent[sent.size() - 2], (Sent{0xFF, 6, 0, {}}));
  EXPECT_EQ(sent.back(), (Sent{0x94, 6, 0, {}}));
}

TEST(HidTransfer, RecordDataIsCutAtFiftyEightBytes) {
  struct Case {
    std::size_t n;
    std::vector<std::size_t> sizes;
  };
  for (const Case& c : {Case{0, {0}}, Case{1, {1}}, Case{57, {57}}, Case{58, {58}},
                        Case{59, {58, 1}}, Case{116, {58, 58}}, Case{250, {58, 58, 58, 58, 18}}}) {
    SCOPED_TRACE(c.n);
    ToolState s;
    Bytes data(c.n);
    std::iota(data.begin(), data.end(), uint8_t{0});
    ASSERT_NE(AppendRecord(s, 0x42, data.data(), c.n), 0);
    const std::vector<Sent> sent = Chunks(BlockBytes(s.block));
    ASSERT_EQ(sent.size(), c.sizes.size());
    std::size_t pos = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].command, 0x42);
      EXPECT_EQ(sent[i].offset, pos);
      EXPECT_EQ(sent[i].length, c.sizes[i] + 6);
      EXPECT_EQ(sent[i].data, Bytes(data.begin() + static_cast<std::ptrdiff_t>(pos),
                                    data.begin() + static_cast<std::ptrdiff_t>(pos + c.sizes[i])));
      pos += c.sizes[i];
    }
  }
}

TEST(HidTransfer, WalkStopsOnRequestAndAtRecordsThatCannotBeCut) {
  const Bytes good{0x55, 0x06, 0x82, 0x27, 0x00, 0x04};
  auto with = [&](Bytes tail) {
    Bytes b = good;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  HidWalk end{};
  for (uint8_t shortLength : {uint8_t{0}, uint8_t{4}}) {
    const std::vector<Sent> sent = Chunks(with({0x55, shortLength, 0x82, 0xFF, 0xD6}), &end);
    EXPECT_EQ(end, HidWalk::BadRecord) << int(shortLength);
    EXPECT_EQ(sent.size(), 1u);  // the record before it went out
  }
  Chunks(with({0x55, 0x09, 0x82, 0x27, 0x00}), &end);  // runs past the block
  EXPECT_EQ(end, HidWalk::BadRecord);
  Chunks(with({0x00, 0x05, 0x82, 0xFF, 0xDB}), &end);
  EXPECT_EQ(end, HidWalk::BadRecord);

  // Only command and data travel, so a wrong check byte is no reason to stop.
  EXPECT_EQ(Chunks(with({0x55, 0x05, 0x82, 0xFF, 0x00}), &end).size(), 2u);
  EXPECT_EQ(end, HidWalk::Finished);

  int calls = 0;
  end = WalkHidChunks(with(good), [&](const HidChunk&) { return ++calls < 1; });
  EXPECT_EQ(end, HidWalk::Stopped);
  EXPECT_EQ(calls, 1);
}

TEST(HidTransfer, AnswersThatEndOrReportTheDelivery) {
  struct Case {
    uint8_t sent;
    uint8_t answer;
    uint8_t code;
    HidAnswer expected;
  };
  for (const Case& c : {
           Case{0x0D, 0x90, 0, HidAnswer::Accepted},
           Case{0x0D, 0x90, 1, HidAnswer::Accepted},
           Case{0x0D, 0x90, 2, HidAnswer::CommandError},
           Case{0x0D, 0x90, 5, HidAnswer::CommandError},
           Case{0x0D, 0x90, 6, HidAnswer::Accepted},
           Case{0x0D, 0x0D, 3, HidAnswer::Accepted},
           Case{0xFF, 0x90, 1, HidAnswer::EndRecordFailed},
           Case{0xFF, 0x11, 1, HidAnswer::EndRecordFailed},
           Case{0xFF, 0x90, 0, HidAnswer::Accepted},
           Case{0xFF, 0x90, 4, HidAnswer::CommandError},
       }) {
    EXPECT_EQ(JudgeHidAnswer(c.sent, c.answer, c.code), c.expected)
        << std::hex << int(c.sent) << " " << int(c.answer) << " " << int(c.code);
  }
}

TEST(HidTransfer, HidLoggerTakesPrecedenceOverTheDrive) {
  DriveDelivery d;
  ToolState& s = d.tool.s();
  s.hid.deviceCount.store(1);
  s.poll.transferState = TransferVerify;  // whatever step the drive had reached
  const uint16_t length = s.block.length;
  d.Pass();
  // The link is down (no write channel), so the first record fails.
  ExpectDropped(s);
  EXPECT_EQ(d.tool.messages.last(), "Configuration failed ");
  EXPECT_EQ(d.tool.messages.shown.size(), 1u);
  EXPECT_FALSE(fs::exists(d.Config()));
  EXPECT_EQ(s.hid.rxState.load(), RxIdle);
  // The end record 0x94 was added behind the block before anything went out.
  EXPECT_EQ(Bytes(s.block.bytes.begin() + length, s.block.bytes.begin() + length + 5),
            (Bytes{0x55, 0x05, 0x82, 0x94, 0x70}));
}

TEST(HidTransfer, MalformedRecordEndsTheDelivery) {
  TestTool tool;
  ToolState& s = tool.s();
  s.hid.deviceCount.store(1);
  const Bytes bad{0x55, 0x03, 0x82, 0x49, 0x00};
  std::copy(bad.begin(), bad.end(), s.block.bytes.begin());
  s.block.length = static_cast<uint16_t>(bad.size());
  s.poll.transferState = TransferWrite;
  ConfigurationTransfer(s);
  ExpectDropped(s);
  ASSERT_EQ(tool.messages.shown.size(), 1u);
  EXPECT_EQ(tool.messages.last(), "HID CMD Error!");
}

}  // namespace
