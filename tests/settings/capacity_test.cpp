#include <gtest/gtest.h>

#include "core/control_ids.h"
#include "settings/capacity.h"
#include "support/test_tool.h"

namespace {

// A logger with 600 bytes of record memory and 12-bit temperature samples.
class Capacity : public ::testing::Test {
 protected:
  TestTool t;
  DeviceInfo& d = t.s().device;
  void SetUp() override {
    d.recordMemoryBytes = 600;
    d.tempSampleBits = 12;
  }
  uint32_t RecordsFor(int channel) {
    t.form.setSelection(ctl::Channel, channel);
    RecomputeRecordCapacity(t.s());
    return d.recordCapacity;
  }
  std::string Shown(const char* interval) {
    t.form.at(ctl::Interval).text = interval;
    ShowRecordingTime(t.s());
    return t.form.text(ctl::RecordingTime);
  }
};

TEST_F(Capacity, RecordsByChannelSelection) {
  EXPECT_EQ(RecordsFor(0), 400u);
  EXPECT_EQ(RecordsFor(1), 480u);
  EXPECT_EQ(RecordsFor(2), 218u);  // 22 bits, truncated
  EXPECT_EQ(RecordsFor(-1), 400u);
}

TEST_F(Capacity, HoursUpToADayThenDays) {
  RecordsFor(0);
  EXPECT_EQ(Shown("60"), "Longest Recording Time:6.7 Hours");
  EXPECT_EQ(Shown("300"), "Longest recording time:1.4 days");
  EXPECT_EQ(Shown("1"), "Longest Recording Time:0.1 Hours");
  EXPECT_EQ(Shown("216"), "Longest Recording Time:24.0 Hours");  // exactly 86400 s
  EXPECT_EQ(t.form.refreshed, std::vector<int>(4, ctl::RecordingTime));
  RecordsFor(2);
  EXPECT_EQ(Shown("60"), "Longest Recording Time:3.6 Hours");
}

TEST_F(Capacity, LargeProductDoesNotWrap) {
  d.recordMemoryBytes = 0xFFFFFF;
  RecordsFor(1);  // 13421772 records; times 86400 s is far beyond 32 bits
  EXPECT_EQ(Shown("86400"), "Longest recording time:13421772.0 days");
}

TEST_F(Capacity, BadIntervalKeepsLabelAndFocusesBox) {
  RecordsFor(0);
  Shown("60");
  for (const char* bad : {"0", "abc", "86401", ""}) {
    EXPECT_EQ(Shown(bad), "Longest Recording Time:6.7 Hours") << bad;
    EXPECT_EQ(t.form.focused, ctl::Interval);
  }
  EXPECT_TRUE(t.messages.shown.empty());
  EXPECT_EQ(t.form.refreshed.size(), 1u);
}

TEST_F(Capacity, ZeroSampleBitsShowCaptionOnly) {
  RecordsFor(0);
  d.tempSampleBits = 0;
  EXPECT_EQ(RecordsFor(0), 0u);
  EXPECT_EQ(Shown("60"), "Longest Recording Time:");
  EXPECT_EQ(RecordsFor(2), 480u);  // 0 + 10 bits: only the humidity part counts
  EXPECT_EQ(Shown("60"), "Longest Recording Time:8.0 Hours");
}

}  // namespace
