// The Linux HID port on fake hidraw nodes. Runs under umockdev-wrapper.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

#include "hid/hidraw_port.h"
#include "support/fake_hidraw_logger.h"

// The preloaded umockdev library comes before the ASan runtime.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }
#endif

static bool operator==(const HidInterface& a, const HidInterface& b) {
  return a.vendorId == b.vendorId && a.productId == b.productId && a.release == b.release &&
         a.path == b.path;
}

static void PrintTo(const HidInterface& i, std::ostream* out) {
  *out << std::hex << i.vendorId << ':' << i.productId << " release " << i.release << ' '
       << i.path;
}

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kWriteLimitMs = 500;  // the tool's write limit

HidReport Request(uint8_t command) {
  HidReport report{};
  report[0] = 0x01;  // report id
  report[1] = command;
  for (std::size_t i = 2; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i * 7);
  return report;
}

// The fake logger's answer: the request with the command's top bit set.
std::optional<HidReport> Answer(const HidReport& request) {
  HidReport answer = request;
  answer[1] |= 0x80;
  return answer;
}

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

struct Channels {
  std::shared_ptr<HidChannel> reader;
  std::shared_ptr<HidChannel> writer;
};

Channels OpenLogger(HidrawPort& port) {
  HidOpen readResult = HidOpen::Failed;
  HidOpen writeResult = HidOpen::Failed;
  Channels channels{port.open(FakeHidrawLogger::kLoggerPath, HidAccess::Read, readResult),
                    port.open(FakeHidrawLogger::kLoggerPath, HidAccess::Write, writeResult)};
  EXPECT_EQ(readResult, HidOpen::Opened);
  EXPECT_EQ(writeResult, HidOpen::Opened);
  return channels;
}

TEST(HidrawPort, ListsEveryInterfaceWithItsUsbRelease) {
  FakeHidrawLogger logger;
  ASSERT_TRUE(logger.ok()) << logger.error();
  HidrawPort port;

  const std::vector<HidInterface> expected{
      {0x2017, 0x0003, 0x0400, FakeHidrawLogger::kLoggerPath},
      {0x2017, 0x0003, 0x0401, FakeHidrawLogger::kNeighbourPath},
      {0x046d, 0xc52b, 0x1211, FakeHidrawLogger::kOtherPath},
  };
  EXPECT_EQ(port.enumerate(), expected);
  EXPECT_TRUE(port.present(FakeHidrawLogger::kLoggerPath));
  EXPECT_FALSE(port.present("/dev/hidraw99"));
  HidOpen result = HidOpen::Opened;
  EXPECT_EQ(port.open("/dev/hidraw99", HidAccess::Read, result), nullptr);
  EXPECT_EQ(result, HidOpen::Gone);
}

TEST(HidrawPort, ExchangesWholeReportsWithTheLogger) {
  FakeHidrawLogger logger(Answer);
  ASSERT_TRUE(logger.ok()) << logger.error();
  HidrawPort port;
  Channels link = OpenLogger(port);
  ASSERT_TRUE(link.reader && link.writer);

  HidReport in{};
  Clock::time_point start = Clock::now();
  EXPECT_EQ(link.reader->read(in, 50), HidRead::TimedOut);
  EXPECT_GE(Since(start), milliseconds(50));

  HidWriteResult written = link.writer->write(Request(0x10), kWriteLimitMs);
  EXPECT_EQ(written.status, HidWrite::Written);
  EXPECT_EQ(written.count, static_cast<std::size_t>(kHidReportSize));
  ASSERT_EQ(link.reader->read(in, 1000), HidRead::Report);
  EXPECT_EQ(in, *Answer(Request(0x10)));

  // An answer arriving in two pieces is gathered within one read...
  logger.splitAnswers(milliseconds(30));
  ASSERT_EQ(link.writer->write(Request(0x11), kWriteLimitMs).status, HidWrite::Written);
  ASSERT_EQ(link.reader->read(in, 1000), HidRead::Report);
  EXPECT_EQ(in, *Answer(Request(0x11)));

  // ...and across reads: the first piece is kept while the limit runs out.
  logger.splitAnswers(milliseconds(300));
  ASSERT_EQ(link.writer->write(Request(0x12), kWriteLimitMs).status, HidWrite::Written);
  EXPECT_EQ(link.reader->read(in, 100), HidRead::TimedOut);
  ASSERT_EQ(link.reader->read(in, 1000), HidRead::Report);
  EXPECT_EQ(in, *Answer(Request(0x12)));

  EXPECT_EQ(logger.received(),
            (std::vector<HidReport>{Request(0x10), Request(0x11), Request(0x12)}));
}

TEST(HidrawPort, WriteLimitBoundsTheWaitForAHeldNode) {
  FakeHidrawLogger logger(Answer);
  ASSERT_TRUE(logger.ok()) << logger.error();
  HidrawPort port;
  Channels link = OpenLogger(port);
  ASSERT_TRUE(link.reader && link.writer);

  logger.holdWrites(milliseconds(800));
  Clock::time_point start = Clock::now();
  EXPECT_EQ(link.writer->write(Request(0x20), kWriteLimitMs).status, HidWrite::TimedOut);
  EXPECT_GE(Since(start), milliseconds(kWriteLimitMs));
  EXPECT_LT(Since(start), milliseconds(800));

  // The hold ends within the next limit: the write goes out as soon as it does.
  start = Clock::now();
  EXPECT_EQ(link.writer->write(Request(0x21), kWriteLimitMs).status, HidWrite::Written);
  EXPECT_LT(Since(start), milliseconds(kWriteLimitMs));
  HidReport in{};
  ASSERT_EQ(link.reader->read(in, 1000), HidRead::Report);
  EXPECT_EQ(in, *Answer(Request(0x21)));
  EXPECT_EQ(logger.received(), std::vector<HidReport>{Request(0x21)});
}

TEST(HidrawPort, UnpluggedLoggerIsGoneEverywhere) {
  FakeHidrawLogger logger(Answer);
  ASSERT_TRUE(logger.ok()) << logger.error();
  HidrawPort port;
  Channels link = OpenLogger(port);
  ASSERT_TRUE(link.reader && link.writer);

  // A read waiting for an answer that never comes ends when the logger goes.
  logger.setResponder({});
  ASSERT_EQ(link.writer->write(Request(0x30), kWriteLimitMs).status, HidWrite::Written);
  const Clock::time_point start = Clock::now();
  std::future<HidRead> waiting = std::async(std::launch::async, [&link] {
    HidReport in{};
    return link.reader->read(in, 5000);
  });
  std::this_thread::sleep_for(milliseconds(100));
  logger.unplug();
  EXPECT_EQ(waiting.get(), HidRead::Gone);
  EXPECT_LT(Since(start), milliseconds(1000));

  EXPECT_EQ(link.writer->write(Request(0x31), kWriteLimitMs).status, HidWrite::Gone);
  EXPECT_FALSE(port.present(FakeHidrawLogger::kLoggerPath));
  HidOpen result = HidOpen::Opened;
  EXPECT_EQ(port.open(FakeHidrawLogger::kLoggerPath, HidAccess::Write, result), nullptr);
  EXPECT_EQ(result, HidOpen::Gone);
  const std::vector<HidInterface> left = port.enumerate();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].path, FakeHidrawLogger::kNeighbourPath);
  EXPECT_EQ(left[1].path, FakeHidrawLogger::kOtherPath);
  EXPECT_TRUE(logger.ok()) << logger.error();
}

// A node this user may not open is told apart from one that has gone, so
// the tool can point at the udev rule instead of waiting for a replug.
TEST(HidrawPort, OpenErrorsSayWhetherToAskForPermission) {
  EXPECT_EQ(HidOpenResultForErrno(EACCES), HidOpen::NoPermission);
  EXPECT_EQ(HidOpenResultForErrno(EPERM), HidOpen::NoPermission);
  EXPECT_EQ(HidOpenResultForErrno(ENOENT), HidOpen::Gone);
  EXPECT_EQ(HidOpenResultForErrno(ENODEV), HidOpen::Gone);
  EXPECT_EQ(HidOpenResultForErrno(ENXIO), HidOpen::Gone);
  EXPECT_EQ(HidOpenResultForErrno(EBUSY), HidOpen::Failed);
}

}  // namespace
