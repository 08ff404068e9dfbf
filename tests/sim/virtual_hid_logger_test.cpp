#include "sim/virtual_hid_logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/poll_pass.h"
#include "delivery/transfer.h"
#include "formats/config_block.h"
#include "formats/image_decoder.h"
#include "formats/logger_image.h"
#include "sim/drive_demo.h"
#include "sim/memory_hid.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Outcome = VirtualHidLogger::Outcome;

HidReport Request(uint8_t command, uint32_t offset = 0, const Bytes& data = {}) {
  HidReport r{};
  r[0] = 0x01;
  r[1] = command;
  r[2] = static_cast<uint8_t>(6 + data.size());
  r[3] = static_cast<uint8_t>(offset);
  r[4] = static_cast<uint8_t>(offset >> 8);
  r[5] = static_cast<uint8_t>(offset >> 16);
  std::copy(data.begin(), data.end(), r.begin() + 6);
  return r;
}

struct Chunk {
  uint8_t command;
  uint32_t offset;
  Bytes data;
};

using Chunks = std::vector<Chunk>;

Chunks::iterator Find(Chunks& chunks, uint8_t command, uint32_t offset = 0) {
  return std::find_if(chunks.begin(), chunks.end(), [&](const Chunk& c) {
    return c.command == command && c.offset == offset;
  });
}

// The tool's two channels to one virtual logger; the port goes before the logger.
struct Link {
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::shared_ptr<HidChannel> in;
  std::shared_ptr<HidChannel> out;

  explicit Link(MemoryHidPort::LinkFaults faults = {}, std::string logPath = {})
      : logger(std::move(logPath)) {
    port.add(logger);
    port.setLinkFaults(0, faults);
    Open();
  }
  void Open() {
    HidOpen result{};
    in = port.open(MemoryHidPort::Path(0), HidAccess::Read, result);
    out = port.open(MemoryHidPort::Path(0), HidAccess::Write, result);
  }
  std::optional<HidReport> Exchange(const HidReport& request, int limitMs = 500) {
    EXPECT_EQ(out->write(request, 100).status, HidWrite::Written);
    HidReport answer{};
    if (in->read(answer, limitMs) != HidRead::Report) return std::nullopt;
    return answer;
  }
  // As the tool reads it: up to 516 bytes or more, or an empty answer.
  Bytes ReadImageHead() {
    Bytes head;
    while (head.size() < img::HidImageHead) {
      std::optional<HidReport> a = Exchange(Request(0x91, static_cast<uint32_t>(head.size())));
      if (!a || (*a)[1] != 0x91 || (*a)[2] == 6) break;
      head.insert(head.end(), a->begin() + 6, a->begin() + (*a)[2]);
    }
    return head;
  }
  // The Status code answered to each chunk, -1 for none; TransferEnd awaits nothing.
  std::vector<int> Send(const std::vector<Chunk>& chunks) {
    std::vector<int> codes;
    for (const Chunk& c : chunks) {
      if (c.command == kTransferEndCommand) {
        EXPECT_EQ(out->write(Request(c.command, c.offset, c.data), 100).status, HidWrite::Written);
        continue;
      }
      std::optional<HidReport> a = Exchange(Request(c.command, c.offset, c.data));
      codes.push_back(a && (*a)[1] == 0x90 ? (*a)[6] : -1);
    }
    return codes;
  }
};

bool Decode(TestTool& tool, const Bytes& head) {
  InitialiseForm(tool.s());
  std::copy(head.begin(), head.end(), tool.s().image.bytes.begin());
  tool.s().image.length = static_cast<uint32_t>(head.size());
  ExtractHeader(tool.s().image, tool.s().device);
  return tool.s().device.productIdLow == img::LoggerProductIdLow &&
         DecodeHidImage(tool.s(), true);
}

// What the tool sends after decoding `head` and taking the user's changes:
// its own block, cut by its own walk. `block` gets the bytes as the tool held them.
std::vector<Chunk> ToolTransfer(const Bytes& head, Bytes* block = nullptr) {
  TestTool tool;
  EXPECT_TRUE(Decode(tool, head));
  LoggerSettings& s = tool.s().settings;
  s.intervalSeconds = 60;
  s.channels = 3;
  s.tzHours = -3;
  s.tzMinutes = -30;
  s.alarmEnabled = 1;
  s.outputCsv = 1;
  std::memcpy(s.deviceName.data(), "Fridge 7", 8);
  std::memset(s.userInfo.data(), 'u', s.userInfo.size());
  tool.s().clock.loggerClock = {24, 5, 6, 7, 8, 9};
  EXPECT_TRUE(BuildConfigBlock(tool.s()));
  EXPECT_EQ(AppendRecord(tool.s(), kTransferEndCommand, nullptr, 0), 5);
  std::vector<Chunk> chunks;
  WalkHidChunks(BlockBytes(tool.s().block), [&](const HidChunk& c) {
    chunks.push_back({c.command, c.offset, Bytes(c.data.begin(), c.data.end())});
    return true;
  });
  if (block) block->assign(BlockBytes(tool.s().block).begin(), BlockBytes(tool.s().block).end());
  return chunks;
}

// Sends `image` as the tool does: 56 bytes a frame, then the final frame,
// each written again when its answer does not come. The sum the final frame
// is answered with; none once a frame is refused.
std::optional<uint32_t> SendFirmware(Link& link, const Bytes& image) {
  const uint32_t length = static_cast<uint32_t>(image.size());
  std::vector<HidReport> frames;
  for (uint32_t at = 0; at < length; at += 56)
    frames.push_back(
        Request(0x93, at, Bytes(image.begin() + at, image.begin() + std::min(at + 56, length))));
  frames.push_back(Request(0x93, length));
  std::optional<HidReport> a;
  for (const HidReport& frame : frames) {
    a = link.Exchange(frame, 20);
    if (!a) a = link.Exchange(frame);
    if (!a || (*a)[1] != 0x93) return std::nullopt;
  }
  uint32_t sum = 0;
  std::memcpy(&sum, a->data() + 6, 4);  // little-endian, as this host
  return sum;
}

TEST(VirtualHidLogger, TakesAnUpgradeAndComesBackAtTheNewVersion) {
  Bytes image(kAppImageKl26Length);
  uint32_t sum = 0;
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 167 + (i >> 8));
    sum += static_cast<uint32_t>(image[i]) << (i % 4 * 8);
  }
  Link link;
  link.logger.latency = 0ms;
  link.logger.setU8(img::FwVersionLow, 0x93);
  link.logger.faults.unansweredReports = 1;  // the first frame goes twice
  EXPECT_EQ(SendFirmware(link, image), sum);
  EXPECT_EQ(link.logger.upgradeDataFrames(), 1116u + 1);

  // UpgradeEnd: the logger goes at once and is back a little later.
  HidReport answer{};
  EXPECT_EQ(link.out->write(Request(0x7F), 100).status, HidWrite::Written);
  EXPECT_EQ(link.in->read(answer, 100), HidRead::Gone);
  EXPECT_TRUE(link.port.enumerate().empty());
  const Clock::time_point gone = Clock::now();
  while (link.port.enumerate().empty() && Clock::now() - gone < 2s)
    std::this_thread::sleep_for(5ms);
  link.Open();
  const Bytes head = link.ReadImageHead();
  ASSERT_GT(head.size(), std::size_t{img::FwVersionLow});
  EXPECT_EQ(head[img::FwVersionHigh] << 8 | head[img::FwVersionLow], 0x4094);
  EXPECT_EQ(link.logger.firmwareReceived(), image);

  const Bytes small(60, 1);
  const uint32_t smallSum = 15 * 0x01010101u;
  link.logger.faults.rejectUpgrade = true;
  EXPECT_EQ(SendFirmware(link, small), std::nullopt);
  link.logger.faults.rejectUpgrade = false;
  link.logger.faults.wrongChecksum = true;
  EXPECT_NE(SendFirmware(link, small).value_or(smallSum), smallSum);
}

TEST(VirtualHidLogger, HandsOutItsImageInPiecesThatTheToolDecodes) {
  Link link;
  const Bytes& image = link.logger.image();
  for (std::size_t piece : {std::size_t{58}, std::size_t{7}}) {
    SCOPED_TRACE(piece);
    link.logger.pieceSize = piece;
    const Bytes head = link.ReadImageHead();
    EXPECT_EQ(head.size(), (img::HidImageHead + piece - 1) / piece * piece);  // 522, 518
    EXPECT_TRUE(std::equal(head.begin(), head.end(), image.begin()));
  }
  link.logger.pieceSize = 0;
  EXPECT_TRUE(link.ReadImageHead().empty());
  link.logger.pieceSize = 58;
  EXPECT_EQ((*link.Exchange(Request(0x91, 636)))[2], 6 + 4);  // the last bytes
  EXPECT_EQ((*link.Exchange(Request(0x91, 640)))[2], 6);     // past the end: empty
  // Upgrade frames are acknowledged bare; the upgrade's end awaits no answer.
  EXPECT_EQ((*link.Exchange(Request(0x93, 0, {1, 2, 3})))[2], 6);
  EXPECT_FALSE(link.Exchange(Request(0x7F), 20));

  TestTool tool;
  ASSERT_TRUE(Decode(tool, link.ReadImageHead()));
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Virtual HID Logger");
  EXPECT_EQ(tool.form.text(ctl::FwVersion), "Fw Version:V4.094");
  EXPECT_EQ(tool.form.selection(ctl::Channel), 2);
  EXPECT_TRUE(tool.form.checked(ctl::EnableAlarm));
  EXPECT_TRUE(tool.messages.shown.empty()) << tool.messages.last();
}

TEST(VirtualHidLogger, AppliesTheToolsTransferAndShowsItInItsImage) {
  TempDir dir;
  Link link({}, dir.file("received.log"));
  Bytes block;
  const std::vector<Chunk> chunks = ToolTransfer(link.ReadImageHead(), &block);
  const std::vector<int> codes = link.Send(chunks);
  EXPECT_EQ(codes, std::vector<int>(chunks.size() - 1, 0));
  ASSERT_EQ(link.logger.lastOutcome(), Outcome::Applied);
  EXPECT_EQ(link.logger.lastBlock(), block);  // every record arrived whole, 0x19 from two chunks
  EXPECT_EQ(link.logger.lastClock().minute, 8);
  std::ifstream log(dir.file("received.log"));
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_EQ(line.rfind("applied 55 ", 0), 0u) << line;
  EXPECT_EQ(line.size(), std::string("applied").size() + 3 * block.size());

  TestTool tool;
  ASSERT_TRUE(Decode(tool, link.ReadImageHead()));
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Fridge 7");
  EXPECT_EQ(tool.form.text(ctl::UserInfo), std::string(100, 'u'));
  EXPECT_EQ(tool.form.text(ctl::Interval), "60");
  EXPECT_EQ(tool.form.text(ctl::TimeZone), "UTC-03:30");
  EXPECT_TRUE(tool.form.checked(ctl::OutputCsv));
}

TEST(VirtualHidLogger, RefusesAnIncompleteOrDamagedTransferWhole) {
  struct Case {
    const char* name;
    void (*spoil)(Chunks&);
  };
  for (const Case& c : {
           Case{"record a byte short", [](Chunks& c) { Find(c, 0x08)->data.pop_back(); }},
           Case{"record missing", [](Chunks& c) { c.erase(Find(c, 0x0D)); }},
           Case{"second piece lost", [](Chunks& c) { c.erase(Find(c, 0x19, 58)); }},
           Case{"unknown record", [](Chunks& c) { c.insert(Find(c, 0xFF), {0x64, 0, {1, 2}}); }},
       }) {
    SCOPED_TRACE(c.name);
    Link link;
    const Bytes before = link.logger.image();
    std::vector<Chunk> chunks = ToolTransfer(link.ReadImageHead());
    c.spoil(chunks);
    const std::vector<int> codes = link.Send(chunks);
    EXPECT_EQ(codes.back(), 1);  // the end record: configuration failed
    EXPECT_EQ(link.logger.lastOutcome(), Outcome::Refused);
    EXPECT_EQ(link.logger.image(), before);
  }
  // Without TransferEnd nothing is applied; the next transfer starts afresh.
  Link link;
  const Bytes before = link.logger.image();
  std::vector<Chunk> chunks = ToolTransfer(link.ReadImageHead());
  link.Send(std::vector<Chunk>(chunks.begin(), chunks.end() - 1));
  EXPECT_EQ(link.logger.receivedTransfers(), 0);
  EXPECT_EQ(link.logger.image(), before);
  link.Send(std::vector<Chunk>(chunks.begin(), chunks.begin() + 5));  // stopped half-way
  link.Send(chunks);
  EXPECT_EQ(link.logger.receivedTransfers(), 1);
  EXPECT_EQ(link.logger.lastOutcome(), Outcome::Applied);
}

TEST(VirtualHidLogger, FaultsShowThroughThePort) {
  Link link;
  const HidReport read = Request(0x91);
  HidReport answer{};

  link.port.edit(0, [](VirtualHidLogger& l) { l.latency = 40ms; });
  ASSERT_EQ(link.out->write(read, 100).status, HidWrite::Written);
  EXPECT_EQ(link.in->read(answer, 5), HidRead::TimedOut);
  EXPECT_EQ(link.in->read(answer, 500), HidRead::Report);
  link.logger.latency = 1ms;

  link.logger.faults.silent = true;
  EXPECT_FALSE(link.Exchange(read, 20));
  auto only = [&](auto set) {
    link.logger.faults = {};
    set(link.logger.faults);
  };
  only([](auto& f) { f.answerCommand = 0x55; });
  EXPECT_EQ((*link.Exchange(read))[1], 0x55);
  for (uint8_t length : {uint8_t{5}, uint8_t{65}}) {
    only([&](auto& f) { f.answerLength = length; });
    EXPECT_EQ((*link.Exchange(read))[2], length);
  }
  only([](auto& f) {
    f.statusCode = 3;
    f.statusOnlyFor = 0x0D;
  });
  EXPECT_EQ(link.Send({{0x49, 0, {0x35, 0x03}}, {0x0D, 0, {0}}}), (std::vector<int>{0, 3}));
  only([](auto& f) { f.statusCode = 1; });
  EXPECT_EQ(link.Send({{0x0D, 0, {0}}, {0xFF, 0, {}}, {0x94, 0, {}}}), (std::vector<int>{1, 1}));
  EXPECT_EQ(link.logger.lastOutcome(), Outcome::Refused);

  // Pulled out as the second report from now arrives.
  only([&](auto& f) { f.unplugAtReport = link.logger.reportsReceived() + 2; });
  EXPECT_TRUE(link.Exchange(read));
  EXPECT_FALSE(link.Exchange(read));
  EXPECT_EQ(link.in->read(answer, 500), HidRead::Gone);
  EXPECT_EQ(link.out->write(read, 100).status, HidWrite::Gone);
  EXPECT_FALSE(link.port.present(MemoryHidPort::Path(0)));
  EXPECT_TRUE(link.port.enumerate().empty());
  HidOpen result{};
  EXPECT_EQ(link.port.open(MemoryHidPort::Path(0), HidAccess::Read, result), nullptr);
  EXPECT_EQ(result, HidOpen::Gone);
  link.port.plug(0);
  EXPECT_EQ(link.in->read(answer, 0), HidRead::Gone);  // a fresh connection needs fresh channels
  link.Open();
  EXPECT_TRUE(link.Exchange(read));

  // The link's own faults: the logger never sees the report.
  const uint32_t seen = link.logger.reportsReceived();
  link.port.setLinkFaults(0, {true, 0});
  EXPECT_EQ(link.out->write(read, 20).status, HidWrite::TimedOut);
  link.port.setLinkFaults(0, {false, 10});
  const HidWriteResult written = link.out->write(read, 20);
  EXPECT_EQ(written.status, HidWrite::Written);
  EXPECT_EQ(written.count, 10u);
  EXPECT_EQ(link.logger.reportsReceived(), seen);
}

TEST(MemoryHidPort, ListsItsLoggersAndEndsBlockedCallsAtUnplug) {
  VirtualHidLogger neighbour;
  Link link({true, 0});  // writes held
  link.port.add(neighbour, 0x0401);
  const std::vector<HidInterface> found = link.port.enumerate();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].path, "/dev/vhidraw0");
  EXPECT_EQ(found[1].release, 0x0401);
  EXPECT_EQ(found[1].vendorId, 0x2017);
  EXPECT_EQ(found[1].productId, 0x0003);

  // The receive thread waits for an answer while the window's thread is held
  // in a write; pulling the logger out ends both at once.
  std::atomic<bool> started{false};
  HidRead readResult = HidRead::Report;
  Clock::duration readWait{};
  std::thread receiver([&] {
    HidReport answer{};
    started = true;
    const Clock::time_point begin = Clock::now();
    readResult = link.in->read(answer, 10000);
    readWait = Clock::now() - begin;
  });
  HidWrite writeResult = HidWrite::Written;
  std::thread writer([&] { writeResult = link.out->write(Request(0x91), 10000).status; });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(50ms);
  link.port.unplug(0);
  receiver.join();
  writer.join();
  EXPECT_EQ(readResult, HidRead::Gone);
  EXPECT_EQ(writeResult, HidWrite::Gone);
  EXPECT_LT(readWait, 5s);
  EXPECT_EQ(link.port.enumerate().size(), 1u);
}

TEST(MemoryHidPort, TheUnplugSwitchPullsTheLoggerOutAndPlugsItInAfresh) {
  TempDir dir;
  const std::string unplugged = dir.path() + "/UNPLUGGED";
  Link link;
  link.port.setUnplugSwitch(0, unplugged);
  ASSERT_TRUE(link.port.present(MemoryHidPort::Path(0)));

  WriteFile(unplugged, {});
  EXPECT_FALSE(link.port.present(MemoryHidPort::Path(0)));
  EXPECT_TRUE(link.port.enumerate().empty());
  HidReport answer{};
  EXPECT_EQ(link.in->read(answer, 0), HidRead::Gone);
  HidOpen result{};
  EXPECT_EQ(link.port.open(MemoryHidPort::Path(0), HidAccess::Read, result), nullptr);

  std::filesystem::remove(unplugged);
  ASSERT_EQ(link.port.enumerate().size(), 1u);
  EXPECT_EQ(link.in->read(answer, 0), HidRead::Gone);  // the old connection's channel
  link.Open();
  EXPECT_TRUE(link.Exchange(Request(0x91)));
}

// A "DAT.SRC" someone left is handed out byte for byte, broken or not, and
// is still there, unchanged, after the run.
TEST(DemoOption, HidDemoHandsOutAFoundImageAsItIs) {
  Bytes whole = VirtualHidLogger().image();
  SealDriveImage(whole.data(), whole.size());
  Bytes badCheck = whole;
  badCheck.back() ^= 1;
  Bytes random(333);
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(i * 131 + 7);
  for (const Bytes& found : {Bytes(whole.begin(), whole.begin() + 100), badCheck, random}) {
    TempDir dir;
    WriteFile(dir.path() + "/DAT.SRC", found);
    std::string error;
    {
      HidDemo demo({dir.path(), DemoKind::Hid}, error);
      ASSERT_EQ(error, "");
      HidOpen result{};
      auto in = demo.port().open(MemoryHidPort::Path(0), HidAccess::Read, result);
      auto out = demo.port().open(MemoryHidPort::Path(0), HidAccess::Write, result);
      Bytes handedOut;
      for (;;) {
        ASSERT_EQ(out->write(Request(0x91, static_cast<uint32_t>(handedOut.size())), 100).status,
                  HidWrite::Written);
        HidReport answer{};
        ASSERT_EQ(in->read(answer, 500), HidRead::Report);
        if (answer[2] == 6) break;
        handedOut.insert(handedOut.end(), answer.begin() + 6, answer.begin() + answer[2]);
      }
      EXPECT_EQ(handedOut, found);
    }
    EXPECT_EQ(ReadFile(dir.path() + "/DAT.SRC"), found);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/DAT.SRC.orig"));
  }
}

TEST(DemoOption, HidDemoKeepsItsLoggerInTheFolder) {
  TempDir dir;
  const std::string folder = dir.path() + "/hid";
  std::string error;
  {
    HidDemo demo({folder, DemoKind::Hid}, error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(demo.port().enumerate().size(), 1u);
    Link link;  // the tool's own transfer, replayed to the demo's logger
    const std::vector<Chunk> chunks = ToolTransfer(link.ReadImageHead());
    HidOpen result{};
    auto out = demo.port().open(MemoryHidPort::Path(0), HidAccess::Write, result);
    for (const Chunk& c : chunks) out->write(Request(c.command, c.offset, c.data), 100);
    EXPECT_EQ(demo.logger().lastOutcome(), Outcome::Applied);
  }
  HidDemo again({folder, DemoKind::Hid}, error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&again.logger().image()[img::DeviceName])),
            "Fridge 7");
  std::ifstream log(folder + "/received-config.log");
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_EQ(line.rfind("applied 55 ", 0), 0u);

  std::string scratch;
  {
    HidDemo temporary({{}, DemoKind::Hid}, error);
    ASSERT_EQ(error, "");
    scratch = temporary.folder();
    EXPECT_TRUE(std::filesystem::exists(scratch + "/DAT.SRC"));
  }
  EXPECT_FALSE(std::filesystem::exists(scratch));

  HidDemo oldHid({{}, DemoKind::Hid, true}, error);
  EXPECT_EQ(oldHid.logger().image()[img::FwVersionLow], 0x93);
  DriveDemo oldDrive({{}, DemoKind::Drive, true}, error);
  EXPECT_EQ(oldDrive.logger().image()[img::FwVersionLow], 0x02);
}

}  // namespace
