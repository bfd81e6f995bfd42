#include "util/textlib.h"

#include <gtest/gtest.h>

#include "util/datetime.h"

namespace zept {
namespace {

TEST(ReplaceAll, ReplacesLeftToRightWithoutOverlap) {
  EXPECT_EQ(ReplaceAll(u"a;b;", u";", u","), u"a,b,");
  EXPECT_EQ(ReplaceAll(u"", u";", u","), u"");
  EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"b"), u"ba");
  EXPECT_EQ(ReplaceAll(u"C:/a/b", u"/", u"\\"), u"C:\\a\\b");
}

TEST(ReplaceLiteral, RepairsCdataTerminatorsGlobally) {
  EXPECT_EQ(ReplaceLiteral(u"<a><![CDATA[x]]]></a>]]]>", u"]]]>", u"] ]]>",
                           kReplaceGlobal),
            u"<a><![CDATA[x] ]]></a>] ]]>");
}

TEST(ReplaceLiteral, FlagsChooseFirstOrAllAndLetterCase) {
  EXPECT_EQ(ReplaceLiteral(u"a.b.c", u".", u"-", 0), u"a-b.c");
  EXPECT_EQ(ReplaceLiteral(u"a.b.c", u".", u"-", kReplaceGlobal), u"a-b-c");
  EXPECT_EQ(ReplaceLiteral(u"Ab ab AB", u"ab", u"x", kReplaceGlobal),
            u"Ab x AB");
  EXPECT_EQ(ReplaceLiteral(u"Ab ab AB", u"ab", u"x",
                           kReplaceGlobal | kReplaceIgnoreCase),
            u"x x x");
  // Pattern characters are literal: "." matches only a dot.
  EXPECT_EQ(ReplaceLiteral(u"abc", u".", u"-", kReplaceGlobal), u"abc");
}

TEST(ReplaceLiteral, ReplacementDollarRules) {
  EXPECT_EQ(ReplaceLiteral(u"xay", u"a", u"[$&]", 0), u"x[a]y");
  EXPECT_EQ(ReplaceLiteral(u"xay", u"a", u"$$", 0), u"x$y");
  EXPECT_EQ(ReplaceLiteral(u"xay", u"a", u"$`|$'", 0), u"xx|yy");
  EXPECT_EQ(ReplaceLiteral(u"xay", u"a", u"$1$", 0), u"x$1$y");
}

TEST(ReplaceLiteral, EmptyFindMatchesBetweenUnits) {
  EXPECT_EQ(ReplaceLiteral(u"ab", u"", u"-", kReplaceGlobal), u"-a-b-");
  EXPECT_EQ(ReplaceLiteral(u"ab", u"", u"-", 0), u"-ab");
}

TEST(PercentEncode, EncodesEveryUnitButAsciiLettersAndDigits) {
  EXPECT_EQ(PercentEncode(u"aZ9 é~€"), u"aZ9%20%E9%7E%20AC");
  EXPECT_EQ(PercentEncode(u"\x05"), u"%05");
  EXPECT_EQ(PercentEncode(u""), u"");
  // Surrogate pairs are encoded unit by unit.
  EXPECT_EQ(PercentEncode(u"\U0001F600"), u"%D83D%DE00");
}

TEST(PercentEncodeLatin, KeepsUnits123To255) {
  EXPECT_EQ(PercentEncodeLatin(u"é~{ÿ€ z"), u"é~{ÿ%20AC%20z");
  EXPECT_EQ(PercentEncodeLatin(u"\u0100"), u"%100");
}

TEST(PadLeft, FillsToMinimumLength) {
  EXPECT_EQ(PadLeft(u"7", u"0", 4), u"0007");
  EXPECT_EQ(PadLeft(u"12345", u"0", 4), u"12345");
  EXPECT_EQ(PadLeft(u"7", u"ab", 4), u"abab7");
  EXPECT_EQ(PadLeft(u"7", u"", 4), u"7");
}

TEST(StrToInt, AcceptsIntegersOnly) {
  EXPECT_EQ(StrToInt(u"1"), 1);
  EXPECT_EQ(StrToInt(u" -12 "), -12);
  EXPECT_EQ(StrToInt(u"$1F"), 31);
  EXPECT_EQ(StrToInt(u"2147483647"), 2147483647);
  EXPECT_EQ(StrToInt(u"-2147483648"), -2147483647 - 1);
  for (const WideString bad : {u"", u"abc", u"1.5", u"2147483648", u"-", u"1 2",
                               u"99999999999999999999"}) {
    EXPECT_FALSE(StrToInt(bad).has_value())
        << std::string(bad.begin(), bad.end());
  }
}

TEST(FormatNumbers, FillsPercentD) {
  const std::int64_t v[] = {6, 0, 3, 67};
  EXPECT_EQ(FormatNumbers(u"%d.%d.%d.%d", v, 4), u"6.0.3.67");
  EXPECT_EQ(FormatNumbers(u"v%dr%d 100%%", v, 4), u"v6r0 100%");
}

TEST(FormatDateTime, PatternLettersAndSeparators) {
  DateTime t{2026, 3, 7, 9, 5, 4, 7};
  RegionalSettings fr;
  fr.dateSeparator = u'.';
  fr.timeSeparator = u'h';
  EXPECT_EQ(FormatDateTime(u"yyyy-mm-dd", t, fr), u"2026-03-07");
  EXPECT_EQ(FormatDateTime(u"dd/mm/yyyy hh:nn:ss", t, fr),
            u"07.03.2026 09h05h04");
  EXPECT_EQ(FormatDateTime(u"hh:nn:ss.zzz", t, {}), u"09:05:04.007");
  EXPECT_EQ(FormatDateTime(u"d/M/yy", t, {}), u"7/3/26");
  EXPECT_EQ(FormatDateTime(u"hh:mm", t, {}), u"09:05");  // mm after an hour
  EXPECT_EQ(FormatDateTime(u"'d' dd", t, {}), u"d 07");
}

TEST(AddDays, CrossesMonthsYearsAndLeapDays) {
  DateTime t{2026, 12, 6, 1, 2, 3, 4};
  DateTime back = AddDays(t, -30);
  EXPECT_EQ(back.year, 2026);
  EXPECT_EQ(back.month, 11);
  EXPECT_EQ(back.day, 6);
  EXPECT_EQ(back.hour, 1);
  DateTime leap = AddDays(DateTime{2024, 3, 1}, -1);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  DateTime next = AddDays(DateTime{2026, 12, 31}, 1);
  EXPECT_EQ(next.year, 2027);
  EXPECT_EQ(next.month, 1);
  EXPECT_EQ(next.day, 1);
}

}  // namespace
}  // namespace zept
