#include "reports/koi8r_text.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex::testing {
namespace {

TEST(Koi8rText, CyrillicLettersTakeTheirKoi8rCodes) {
  EXPECT_EQ(ToKoi8r("Привет"), "\xF0\xD2\xC9\xD7\xC5\xD4");
  EXPECT_EQ(ToKoi8r("АЯая"), "\xE1\xF1\xC1\xD1");
}

TEST(Koi8rText, YoGoesAsYe) {
  EXPECT_EQ(ToKoi8r("ё"), ToKoi8r("е"));
  EXPECT_EQ(ToKoi8r("Ё"), ToKoi8r("Е"));
  EXPECT_EQ(ToKoi8r("Ёлка, ёж"), "\xE5\xCC\xCB\xC1, \xC5\xD6");
}

TEST(Koi8rText, AsciiPassesUnchanged) {
  std::string ascii;
  for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(ToKoi8r(ascii), ascii);
}

TEST(Koi8rText, ACharacterKoi8rLacksBecomesAQuestionMark) {
  EXPECT_EQ(ToKoi8r("5 €, да"), "5 ?, \xC4\xC1");
  EXPECT_EQ(ToKoi8r("😀"), "?");
}

TEST(Koi8rText, BytesThatAreNotUtf8PassUnchanged) {
  EXPECT_EQ(ToKoi8r("a\xFF"
                    "b"),
            "a\xFF"
            "b");
  // A sequence cut off at the end of the text.
  EXPECT_EQ(ToKoi8r("да\xD0"), "\xC4\xC1\xD0");
}

TEST(Koi8rText, LongTextsConvertWhole) {
  std::string text, expected;
  for (int i = 0; i < 1000; ++i) {
    text += "Жё1";
    expected +=
        "\xF6\xC5"
        "1";
  }
  EXPECT_EQ(ToKoi8r(text), expected);
}

}  // namespace
}  // namespace brindlex::testing
