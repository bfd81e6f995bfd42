#include "util/utf8.h"

#include <gtest/gtest.h>

namespace zept {
namespace {

// How much of each bad sequence one U+FFFD takes, under each measure.
TEST(ReadUtf8, ReadsValidFormsAndMeasuresBadOnes) {
  struct Case {
    const char* bytes;
    bool surrogates;
    char32_t code;  // U+FFFD when bad
    std::size_t byByte, bySubpart, bySequence;
  };
  const Case kCases[] = {
      {"A", false, 0x41, 1, 1, 1},
      {"\xC3\xA9", false, 0xE9, 2, 2, 2},
      {"\xE2\x82\xAC", false, 0x20AC, 3, 3, 3},
      {"\xF0\x9F\x98\x80", false, 0x1F600, 4, 4, 4},
      {"\x80", false, 0xFFFD, 1, 1, 1},              // a continuation byte
      {"\xC0\xAF", false, 0xFFFD, 1, 1, 1},          // never a lead
      {"\xF5\x80\x80\x80", false, 0xFFFD, 1, 1, 1},  // never a lead
      {"\xE0\x80\xAF", false, 0xFFFD, 1, 1, 3},      // overlong
      {"\xED\xA0\x80", false, 0xFFFD, 1, 1, 3},      // a surrogate
      {"\xED\xA0\x80", true, 0xD800, 3, 3, 3},
      {"\xF4\x90\x80\x80", false, 0xFFFD, 1, 1, 4},  // past U+10FFFF
      {"\xE2\x82", false, 0xFFFD, 1, 2, 2},          // cut short
      {"\xF0\x9F\x98", false, 0xFFFD, 1, 3, 3},
      {"\xE2\x82"
       "A",
       false, 0xFFFD, 1, 2, 2},
  };
  for (const Case& c : kCases) {
    const std::string_view text = c.bytes;
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    const std::pair<Utf8Bad, std::size_t> kMeasures[] = {
        {Utf8Bad::kByte, c.byByte},
        {Utf8Bad::kSubpart, c.bySubpart},
        {Utf8Bad::kSequence, c.bySequence}};
    for (const auto& [bad, length] : kMeasures) {
      const Utf8Char read = ReadUtf8(text, 0, bad, c.surrogates);
      EXPECT_EQ(read.code, c.code);
      EXPECT_EQ(read.valid, c.code != 0xFFFD);
      EXPECT_EQ(read.length, length);
    }
  }
  EXPECT_TRUE(IsValidUtf8("a\xC3\xA9\xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("a\xED\xA0\x80"));
}

TEST(OneLine, EscapesWhatWouldStartALine) {
  const std::pair<const char*, const char*> kCases[] = {
      {"plain caf\xC3\xA9", "plain caf\xC3\xA9"},
      {"a\nzept > forged", "a\\nzept > forged"},
      {"\r\t\x1b[2J\x7f", "\\r\\t\\x1b[2J\\x7f"},
      {"x\xE2\x80\xA8y\xE2\x80\xA9", "x\\u2028y\\u2029"},
      {"\xE2\x80", "\xE2\x80"},  // cut short: left to the UTF-8 reader
  };
  for (const auto& [text, line] : kCases) EXPECT_EQ(OneLine(text), line);
}

// Plain text is copied in runs around what must be escaped; the result is
// valid JSON whatever the bytes.
TEST(JsonString, EscapesBetweenRunsOfPlainText) {
  const std::pair<std::string_view, const char*> kCases[] = {
      {"", "\"\""},
      {"w5000", "\"w5000\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"\"", "\"\\\"\""},
      {"tab\there\n", "\"tab\\u0009here\\u000a\""},
      {std::string_view("nul\0end", 7), "\"nul\\u0000end\""},
      {"\x7f~", "\"\x7f~\""},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80!", "\"caf\xC3\xA9 \xF0\x9F\x98\x80!\""},
      {"bad \xC3(", "\"bad \xEF\xBF\xBD(\""},
      {"cut \xE2\x80", "\"cut \xEF\xBF\xBD\""},
  };
  for (const auto& [text, json] : kCases) {
    EXPECT_EQ(JsonString(text), json);
    std::string out = "[";
    AppendJsonString(out, text);
    EXPECT_EQ(out, std::string("[") + json);
  }
}

TEST(AsciiLower, LowersOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLower("Index.HTML \xC3\x89@[Z]"), "index.html \xC3\x89@[z]");
}

}  // namespace
}  // namespace zept

TEST(Utf8Prefix, CutsAtACharactersStartAndSaysSo) {
  const struct {
    std::string text;
    std::size_t max;
    std::string expected;
  } kCases[] = {
      {"short", 200, "short"},
      {"exactly", 7, "exactly"},
      {"abcdef", 3, "abc\u2026"},
      // é is two bytes: a cut inside it leaves it out whole.
      {"a\xC3\xA9z", 2, "a\u2026"},
      {"\xF0\x9F\x98\x80!", 3, "\u2026"},
      {std::string(1 << 20, 'x'), 200, std::string(200, 'x') + "\u2026"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(zept::Utf8Prefix(c.text, c.max), c.expected) << c.text.substr(0, 20);
}
