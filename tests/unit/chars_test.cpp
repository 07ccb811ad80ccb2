#include "core/chars.h"

#include <gtest/gtest.h>

#include "core/value_codec.h"

namespace brindlex {
namespace {

// "Иван" in UTF-8 and "ИВАН" in the single-byte Cyrillic code page: bytes
// above 0x7F that a locale-aware folding could change.
const std::string kUtf8Name = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";
const std::string kCodePageName = "\xC8\xC2\xC0\xCD";

TEST(Chars, ClassesTakeOnlyTheirAsciiBytes) {
  for (int code = 0; code < 256; ++code) {
    const char c = static_cast<char>(code);
    EXPECT_EQ(IsBlank(c), code == ' ' || code == '\t') << code;
    EXPECT_EQ(IsLineEnd(c), code == '\r' || code == '\n') << code;
    EXPECT_EQ(IsDigit(c), code >= '0' && code <= '9') << code;
    EXPECT_EQ(IsLetter(c), (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z')) << code;
    EXPECT_EQ(Lower(c), code >= 'A' && code <= 'Z' ? static_cast<char>(code + 32) : c) << code;
  }
}

TEST(Chars, HexValuesOfEitherCase) {
  EXPECT_EQ(HexValue('0'), 0);
  EXPECT_EQ(HexValue('9'), 9);
  EXPECT_EQ(HexValue('a'), 10);
  EXPECT_EQ(HexValue('F'), 15);
  for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\xC1'}) EXPECT_EQ(HexValue(c), -1) << c;
}

TEST(Chars, LowerCaseLeavesBytesAboveAsciiAlone) {
  EXPECT_EQ(LowerCase("Ivan.PETROV@Example.RU"), "ivan.petrov@example.ru");
  EXPECT_EQ(LowerCase(kUtf8Name + "X"), kUtf8Name + "x");
  EXPECT_EQ(LowerCase(kCodePageName), kCodePageName);
  EXPECT_TRUE(EqualsNoCase("USER" + kCodePageName, "user" + kCodePageName));
  EXPECT_FALSE(EqualsNoCase(kCodePageName, "\xE8\xE2\xE0\xED"));  // the same word in small letters
}

TEST(Chars, SkipBlanksStopsAtTheFirstOtherByte) {
  EXPECT_EQ(SkipBlanks(" \t x ", 0), 3u);
  EXPECT_EQ(SkipBlanks(" \t x ", 3), 3u);
  EXPECT_EQ(SkipBlanks(" \t x ", 4), 5u);
  EXPECT_EQ(SkipBlanks("\r\n", 0), 0u);
  EXPECT_EQ(SkipBlanks("", 0), 0u);
}

TEST(Chars, ALineIsCompleteOnlyWithItsLineFeed) {
  EXPECT_EQ(FirstLineLength("220 ok\r\n331 more"), 8u);
  EXPECT_EQ(FirstLineLength("220 ok\r"), 0u);
  EXPECT_EQ(FirstLineLength(""), 0u);
  EXPECT_EQ(FirstLineLength("\n"), 1u);
}

}  // namespace
}  // namespace brindlex
