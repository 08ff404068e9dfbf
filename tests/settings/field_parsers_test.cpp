#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "core/control_ids.h"
#include "settings/field_parsers.h"
#include "support/memory_ports.h"

namespace {

struct IntCase {
  const char* text;
  int32_t min, max;
  uint8_t code;
  int32_t value;  // checked when code is 0
};

TEST(ParseInteger, SignsBlanksDigitsAndBounds) {
  const IntCase cases[] = {
      {"  +42", 0, 60, 0, 42},          {"-0", 0, 60, 0, 0},
      {"42 ", 0, 60, 3, 0},             {"4 2", 0, 60, 3, 0},
      {"+-4", 0, 60, 3, 0},             {"- 4", 0, 60, 3, 0},
      {" 4", 0, 60, 0, 4},              {"\t4", 0, 60, 3, 0},
      {"", 0, 60, 2, 0},                {" ", 0, 60, 2, 0},
      {"-", 0, 60, 2, 0},               {"+", 0, 60, 2, 0},
      {"61", 0, 60, 1, 0},              {"60", 0, 60, 0, 60},
      {"2147483648", 0, 60, 1, 0},      {"4294967338", 0, 60, 1, 0},  // 2^32 + 42 must not wrap
      {"2147483647", INT32_MIN, INT32_MAX, 0, INT32_MAX},
      {"-2147483648", INT32_MIN, INT32_MAX, 0, INT32_MIN},
      {"2147483648", INT32_MIN, INT32_MAX, 1, 0},
      {"-2147483649", INT32_MIN, INT32_MAX, 1, 0},
      {"9999999999999999999", INT32_MIN, INT32_MAX, 1, 0},   // 19 digits: range, not overflow
      {"00000000000000000042", 0, 60, 1, 0},                 // 20 digits, even as zeros
      {"0000000000000000042", 0, 60, 0, 42},                 // 19 digits are read
      {"000000000000000000000x", 0, 60, 1, 0},               // the 20th digit stops the scan
  };
  for (const IntCase& c : cases) {
    MemoryMessages messages;
    int32_t value = -777;
    EXPECT_EQ(ParseInteger(&messages, c.text, c.min, c.max, NoLabel, value), c.code) << c.text;
    if (c.code == 0) {
      EXPECT_EQ(value, c.value) << c.text;
    }
    EXPECT_NE(value, -777) << c.text << ": value is written in every case";
    EXPECT_TRUE(messages.shown.empty()) << c.text;
  }
}

TEST(ParseInteger, FailureValueStaysWithinInt32) {
  int32_t value = 0;
  EXPECT_EQ(ParseInteger(nullptr, "99999999999", 0, 60, NoLabel, value), 1);
  EXPECT_EQ(value, INT32_MAX);
  EXPECT_EQ(ParseInteger(nullptr, "-99999999999", 0, 60, NoLabel, value), 1);
  EXPECT_EQ(value, INT32_MIN);
  EXPECT_EQ(ParseInteger(nullptr, "-5", 0, 1440, NoLabel, value), 1);
  EXPECT_EQ(value, -5);
}

struct RealCase {
  const char* text;
  double min, max;
  uint8_t code;
  double value;  // checked when code is 0
};

TEST(ParseReal, PointsSignsDigitsAndBounds) {
  const RealCase cases[] = {
      {"-50", -40.0, 85.0, 1, 0},          {"-39.5", -40.0, 85.0, 0, -39.5},
      {"85.0", -40.0, 85.0, 0, 85.0},      {"85.01", -40.0, 85.0, 1, 0},
      {"5.", 0, 10, 0, 5.0},               {".5", 0, 10, 0, 0.5},
      {"-.5", -1, 1, 0, -0.5},             {" +2.25", 0, 10, 0, 2.25},
      {".", 0, 10, 2, 0},                  {"-", 0, 10, 2, 0},
      {"", 0, 10, 2, 0},                   {"  ", 0, 10, 2, 0},
      {"1.2.3", 0, 10, 4, 0},              {"..", 0, 10, 4, 0},
      {"1,5", 0, 10, 3, 0},                {"1.5 ", 0, 10, 3, 0},
      {"1e3", 0, 1e9, 3, 0},               {"--1", -9, 9, 3, 0},
      {"12345678901", 0, 1e12, 1, 0},      {"00000000000", 0, 1e12, 1, 0},
      {"9999999999", 0, 1e12, 0, 9999999999.0},
      {"1.23456789012345", 0, 10, 0, 1.23456789012345},
  };
  for (const RealCase& c : cases) {
    MemoryMessages messages;
    double value = -777;
    EXPECT_EQ(ParseReal(&messages, c.text, c.min, c.max, NoLabel, value), c.code) << c.text;
    if (c.code == 0) {
      EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
    EXPECT_TRUE(messages.shown.empty()) << c.text;
  }
}

TEST(ParseReal, LongFractionsStaySane) {
  double value = 0;
  std::string text = "1." + std::string(400, '5');
  EXPECT_EQ(ParseReal(nullptr, text, 0, 10, NoLabel, value), 0);
  EXPECT_DOUBLE_EQ(value, 1.5555555555555556);

  text = "2." + std::string(400, '0') + "7";  // leading zeros beyond any power of ten
  EXPECT_EQ(ParseReal(nullptr, text, 0, 10, NoLabel, value), 0);
  EXPECT_DOUBLE_EQ(value, 2.0);

  text = "0." + std::string(400, '9');
  EXPECT_EQ(ParseReal(nullptr, text, 0, 10, NoLabel, value), 0);
  EXPECT_TRUE(std::isfinite(value));
  EXPECT_DOUBLE_EQ(value, 1.0);
}

// ---- Messages -----------------------------------------------------------------

TEST(ParserMessages, CodesTellTheirTextWithLabelAndBounds) {
  MemoryMessages m;
  int32_t i = 0;
  double d = 0;
  EXPECT_EQ(ParseInteger(&m, "-5", 0, 1440, "Start Delay Error", i), 1);
  EXPECT_EQ(ParseInteger(&m, " ", 0, 1, "A", i), 2);
  EXPECT_EQ(ParseInteger(&m, "4x", 0, 1, "A", i), 3);
  EXPECT_EQ(ParseReal(&m, "-50", -40.0, 85.0, "Low", d), 1);
  EXPECT_EQ(ParseReal(&m, "123456789012", -40.0, 85.0, "Low", d), 1);
  EXPECT_EQ(ParseReal(&m, ".", 0, 1, "B", d), 2);
  EXPECT_EQ(ParseReal(&m, "1,5", 0, 1, "B", d), 3);
  EXPECT_EQ(ParseReal(&m, "1.2.3", 0, 1, "B", d), 4);
  EXPECT_EQ(CheckText(&m, "", 20, false, false, "Name"), 1);
  EXPECT_EQ(CheckText(&m, "abc", 2, false, false, "Name"), 2);
  EXPECT_EQ(CheckText(&m, "a\xC4", 2, true, false, "Name"), 3);
  const char* expected[] = {
      "Start Delay Error: 数值必须在0至1440之内!", "A: 内容为空", "A: 存在非法字符!",
      "Low: 数值必须在-40.0至85.0之内!", "Low: 数值必须在-40.0至85.0之内!", "B: 内容为空",
      "B: 存在非法字符!", "B: 数值格式错误!", "Name: Empty!", "Name: too long!",
      "Name: illegal characters!",
  };
  ASSERT_EQ(m.shown.size(), std::size(expected));
  for (std::size_t k = 0; k < m.shown.size(); ++k) {
    EXPECT_EQ(m.shown[k].text, expected[k]);
    EXPECT_EQ(m.shown[k].icon, MessageIcon::Warning);
  }
}

TEST(ParserMessages, LongLabelIsNotCut) {
  MemoryMessages m;
  std::string label(3000, 'L');
  int32_t i = 0;
  EXPECT_EQ(ParseInteger(&m, "99", 0, 60, label, i), 1);
  EXPECT_EQ(m.last(), label + ": 数值必须在0至60之内!");
}

TEST(ParserMessages, LabelWithoutMessagePortIsSilent) {
  int32_t i = 0;
  EXPECT_EQ(ParseInteger(nullptr, "x", 0, 60, "A", i), 3);
  EXPECT_EQ(CheckText(nullptr, "", 1, false, false, "A"), 1);
}

// ---- Texts --------------------------------------------------------------------

TEST(CheckText, LengthEmptinessAndAllowedBytes) {
  MemoryMessages m;
  EXPECT_EQ(CheckText(&m, std::string(20, 'a'), 20, true, false, "T"), 0);  // fills its field
  EXPECT_EQ(CheckText(&m, std::string(21, 'a'), 20, true, false, NoLabel), 2);
  std::string bad(25, 'a');
  bad[3] = '\xC4';
  EXPECT_EQ(CheckText(&m, bad, 20, true, false, NoLabel), 3);  // illegal byte comes first
  EXPECT_EQ(CheckText(&m, bad, 20, false, false, NoLabel), 2);
  EXPECT_EQ(CheckText(&m, bad, 25, false, false, NoLabel), 0);  // unrestricted takes any byte
  EXPECT_EQ(CheckText(&m, "", 20, true, true, "T"), 0);
  EXPECT_EQ(CheckText(&m, "", 20, true, false, NoLabel), 1);
  EXPECT_EQ(CheckText(&m, "a\t\r\n\xB0\xBA", 20, true, false, NoLabel), 0);
  EXPECT_TRUE(m.shown.empty());

  // A character the code page could not hold, stood in for by a '?', is
  // illegal in any field, unless the text is too long before it.
  const std::string held = std::string(3, 'a') + "?" + std::string(21, 'a');
  EXPECT_EQ(CheckText(&m, held, 25, false, false, NoLabel), 0);
  EXPECT_EQ(CheckText(&m, held, 25, false, false, NoLabel, 3), 3);
  EXPECT_EQ(CheckText(&m, held, 25, true, false, NoLabel, 3), 3);
  EXPECT_EQ(CheckText(&m, held, 20, false, false, NoLabel, 22), 2);
  EXPECT_TRUE(m.shown.empty());

  int allowed = 0;
  for (int b = 0; b < 256; ++b) allowed += IsAllowedTextByte(static_cast<uint8_t>(b)) ? 1 : 0;
  EXPECT_EQ(allowed, 103);
  for (int b : {0x00, 0x1F, 0x7F, 0xA0, 0xA2, 0xC4, 0xFF})
    EXPECT_FALSE(IsAllowedTextByte(static_cast<uint8_t>(b))) << b;
  for (int b : {0x09, 0x0A, 0x0D, 0x20, 0x7E, 0xA1, 0xA8, 0xAE, 0xB0, 0xBA})
    EXPECT_TRUE(IsAllowedTextByte(static_cast<uint8_t>(b))) << b;
}

// ---- Edit-box readers -----------------------------------------------------------

struct ReaderFixture : ::testing::Test {
  std::unique_ptr<ToolState> state = std::make_unique<ToolState>();
  MemoryForm form;
  MemoryMessages messages;
  ReaderFixture() {
    state->ports.form = &form;
    state->ports.messages = &messages;
  }
};

TEST_F(ReaderFixture, FailureMovesCaretAndFocusWithoutTouchingText) {
  form.at(ctl::LowTempAlarm).text = "-50";
  double d = 0;
  EXPECT_EQ(ReadRealField(*state, ctl::LowTempAlarm, NoLabel, -40.0, 85.0, d), 1);
  EXPECT_EQ(form.focused, ctl::LowTempAlarm);
  EXPECT_TRUE(form.caretAtEnd);
  EXPECT_TRUE(messages.shown.empty());

  form.at(ctl::HighTempAlarm).text = "7 ";
  int32_t i = 0;
  EXPECT_EQ(ReadIntegerField(*state, ctl::HighTempAlarm, 0, 60, "Hi", i), 3);
  EXPECT_EQ(form.focused, ctl::HighTempAlarm);
  EXPECT_EQ(messages.last(), "Hi: 存在非法字符!");
  EXPECT_EQ(form.text(ctl::HighTempAlarm), "7 ");
  EXPECT_TRUE(form.textWrites.empty());
}

TEST_F(ReaderFixture, SuccessLeavesFocusAlone) {
  form.at(ctl::LowTempAlarm).text = "-39.5";
  form.at(ctl::HighTempAlarm).text = "42";
  double d = 0;
  int32_t i = 0;
  EXPECT_EQ(ReadRealField(*state, ctl::LowTempAlarm, "Lo", -40.0, 85.0, d), 0);
  EXPECT_EQ(ReadIntegerField(*state, ctl::HighTempAlarm, 0, 60, "Hi", i), 0);
  EXPECT_DOUBLE_EQ(d, -39.5);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(form.focused, 0);
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
