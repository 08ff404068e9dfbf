#include "core/codepage.h"

#include <gtest/gtest.h>

TEST(CodePage, ConvertsBothWaysThroughGbk) {
  EXPECT_EQ(ToCodePage("KELM"), "KELM");
  EXPECT_EQ(ToCodePage("中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(ToCodePage("℃"), "\xA1\xE6");
  EXPECT_EQ(FromCodePage(std::string_view("\xD6\xD0\xCE\xC4")), "中文");
  EXPECT_EQ(FromCodePage(ToCodePage("温湿度记录仪 V2")), "温湿度记录仪 V2");
}

TEST(CodePage, WhatGbkCannotHoldBecomesQuestionMark) {
  EXPECT_EQ(ToCodePage("a😀b"), "a?b");
  EXPECT_EQ(ToCodePage("x\xFFy"), "x?y");        // invalid UTF-8
  EXPECT_EQ(ToCodePage("ab\xE4\xB8"), "ab?");    // cut in the middle of a character
  EXPECT_EQ(FromCodePage(std::string_view("a\xFFz")), "a?z");
  EXPECT_EQ(FromCodePage(std::string_view("ab\xD6")), "ab?");  // lead byte at the end
  // A bad byte is lost alone: the good bytes after it stay.
  EXPECT_EQ(ToCodePage("x\xC3(y"), "x?(y");
  EXPECT_EQ(ToCodePage("x\xE4\xB8(y"), "x?(y");
  EXPECT_EQ(ToCodePage("x\xED\xA0\x80y"), "x???y");  // a surrogate: three bad bytes
  EXPECT_EQ(FromCodePage(std::string_view("a\x81(z")), "a?(z");
  // Tag characters, which iconv would drop without a word.
  const CodePageText tagged = ToCodePageChecked("a\xF3\xA0\x80\x81\xF3\xA0\x81\xBF" "b");
  EXPECT_EQ(tagged.bytes, "a??b");
  EXPECT_EQ(tagged.firstUnheld, 1u);
}

TEST(CodePage, WithoutAConverterEachCharacterBeyondAsciiIsOneQuestionMark) {
  EXPECT_TRUE(CodePageAvailable());
  EXPECT_FALSE(CodePageAvailable("NO-SUCH-CODE-PAGE"));
  const CodePageText text = ToCodePageChecked("T1 中文℃", "NO-SUCH-CODE-PAGE");
  EXPECT_EQ(text.bytes, "T1 ???");
  EXPECT_EQ(text.firstUnheld, 3u);
}

TEST(CodePage, LongTextsCrossTheConversionBuffer) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "温";
  std::string gbk = ToCodePage(text);
  EXPECT_EQ(gbk.size(), 800u);
  EXPECT_EQ(FromCodePage(gbk), text);
}

TEST(CodePage, CountsAndCutsUtf8ByCharacter) {
  EXPECT_EQ(Utf8Length("abc"), 3u);
  EXPECT_EQ(Utf8Length("温度℃"), 3u);
  EXPECT_EQ(Utf8Prefix("温度℃x", 2), "温度");
  EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
  EXPECT_EQ(Utf8Prefix("a\xE4", 2), "a\xE4");  // a truncated sequence is kept, not overrun
  EXPECT_EQ(Utf8Length("\xC3(y"), 3u);           // the bad byte counts alone
}

TEST(CodePage, CheckedConversionTellsWhereTheFirstUnheldCharacterLies) {
  const CodePageText plain = ToCodePageChecked("Room ? 中");
  EXPECT_EQ(plain.bytes, "Room ? \xD6\xD0");
  EXPECT_EQ(plain.firstUnheld, std::string::npos);  // a typed '?' is held
  const CodePageText snowman = ToCodePageChecked("中☃x😀");
  EXPECT_EQ(snowman.bytes, "\xD6\xD0?x?");
  EXPECT_EQ(snowman.firstUnheld, 2u);
  EXPECT_EQ(ToCodePageChecked("ab\xFF").firstUnheld, 2u);  // invalid UTF-8
}

TEST(CodePage, FieldTextDropsADoubleByteCharacterCutByItsEnd) {
  auto field = [](std::string_view bytes) {
    return FromCodePageField(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(field("ab\xD6"), "ab");
  EXPECT_EQ(field("\xD6\xD0\xD6"), "中");
  EXPECT_EQ(field("\xD6\xD0"), "中");
  EXPECT_EQ(field("a\xD6\xD0" "b"), "a中b");
  EXPECT_EQ(field(""), "");
}
