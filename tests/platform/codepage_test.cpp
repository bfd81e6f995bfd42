#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace zept {
namespace {

TEST(Windows1252, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);
  EXPECT_EQ(AnsiToWide("\x80\x8A\x9F\xE9"), u"€ŠŸé");
}

TEST(Windows1252, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(WideToAnsi(u"Łódź"),
            "?\xF3"
            "d?");
  EXPECT_EQ(WideToAnsi(u"a\U0001F600b"), "a?b");  // one per code point
  EXPECT_EQ(WideToAnsi(u"\xD800x"), "?x");        // lone surrogate
}

TEST(Utf8, RoundTripsAllPlanes) {
  const WideString text = u"aé€Ż\U0001F600\uFFFF";
  EXPECT_EQ(WideToUtf8(text),
            "a\xC3\xA9\xE2\x82\xAC\xC5\xBB\xF0\x9F\x98\x80\xEF\xBF\xBF");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF"
                       "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xC3"), u"\uFFFD");  // truncated
  EXPECT_EQ(Utf8ToWide("\xE0\x80\xAF"
                       "x"),
            u"\uFFFDx");                                 // overlong
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD");      // surrogate
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), u"\uFFFD");  // above U+10FFFF
  EXPECT_EQ(Utf8ToWide("\xC3(x"), u"\uFFFD(x");          // bad continuation
  EXPECT_EQ(WideToUtf8(u"\xDC00"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace zept
