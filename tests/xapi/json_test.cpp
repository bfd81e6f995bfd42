#include "xapi/json.h"

#include <gtest/gtest.h>

#include <string>

namespace zept::xapi {
namespace {

TEST(JsonTest, ValidTextsReadAndWriteBack) {
  // Text in, the compact text written from what was read.
  const struct {
    std::string text, written;
  } kCases[] = {
      {"null", "null"},
      {" \t\r\n true ", "true"},
      {"[false, null , {} ,[]]", "[false,null,{},[]]"},
      {"0", "0"},
      {"-0.0e+00", "-0.0e+00"},  // kept as written
      {"12345678901234567890.000000000000000001",
       "12345678901234567890.000000000000000001"},
      {"{\"b\":1,\"a\":{\"c\":[1,2]}}", "{\"b\":1,\"a\":{\"c\":[1,2]}}"},
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"",
       "\"\\\"\\\\/\\u0008\\u000c\\u000a\\u000d\\u0009\""},
      {"\"\\u00e9\\u20AC\\ud83d\\ude00\"", "\"é€😀\""},
      {"\"é€😀\"", "\"é€😀\""},
      {"\"\\u0000\"", "\"\\u0000\""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const JsonParse parse = ParseJson(c.text);
    ASSERT_TRUE(parse.ok()) << parse.error;
    EXPECT_EQ(WriteJson(parse.value), c.written);
  }
}

TEST(JsonTest, InvalidTextsAreRefusedWithTheirFault) {
  const struct {
    std::string text, fault;
  } kCases[] = {
      {"", "ends where a value"},
      {"nul", "not a JSON value"},
      {"True", "not a JSON value"},
      {"01", "text after the value"},
      {"+1", "not a JSON value"},
      {"1.", "digit was expected after '.'"},
      {".5", "not a JSON value"},
      {"1e", "exponent"},
      {"1e999", "out of range"},
      {"NaN", "not a JSON value"},
      {"[1,]", "not a JSON value"},
      {"[1 2]", "',' or ']'"},
      {"{\"a\":1,}", "member name was expected"},
      {"{'a':1}", "member name was expected"},
      {"{\"a\" 1}", "':' was expected"},
      {"{\"a\":1,\"a\":2}", "repeated"},
      {"{\"a\":1", "not closed"},
      {"\"abc", "not closed"},
      {"\"a\tb\"", "control character"},
      {"\"\\x41\"", "unknown escape"},
      {"\"\\u12\"", "four hex digits"},
      {"\"\\ud800\"", "lone high surrogate"},
      {"\"\\ud800\\u0041\"", "lone high surrogate"},
      {"\"\\udc00\"", "lone low surrogate"},
      {"\"\xff\"", "not UTF-8"},
      {"\"\xc0\xaf\"", "not UTF-8"},           // overlong
      {"\"\xed\xa0\x80\"", "not UTF-8"},       // a surrogate
      {"\"\xf4\x90\x80\x80\"", "not UTF-8"},   // beyond U+10FFFF
      {"\"\xe2\x82\"", "not UTF-8"},           // cut short
      {"\xef\xbb\xbf{}", "not a JSON value"},  // a byte order mark
      {"{} {}", "text after the value"},
      {std::string("[1]\0", 4), "text after the value"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const JsonParse parse = ParseJson(c.text);
    ASSERT_FALSE(parse.ok());
    EXPECT_NE(parse.error.find(c.fault), std::string::npos) << parse.error;
    EXPECT_NE(parse.error.find(" at byte "), std::string::npos) << parse.error;
  }
}

TEST(JsonTest, LimitsOfDepthAndSize) {
  const JsonLimits limits{100, 3};
  EXPECT_TRUE(ParseJson("[[[1]]]", limits).ok());
  EXPECT_TRUE(ParseJson("[{\"a\":[]}]", limits).ok());
  EXPECT_NE(ParseJson("[[[[1]]]]", limits).error.find("nested too deep"),
            std::string::npos);
  EXPECT_NE(ParseJson("{\"a\":{\"b\":{\"c\":{}}}}", limits)
                .error.find("nested too deep"),
            std::string::npos);
  EXPECT_NE(ParseJson(std::string(101, ' ') + "1", limits)
                .error.find("longer than 100 bytes"),
            std::string::npos);
  // The default depth is deep enough for any statement, and a hostile
  // nesting is refused without exhausting the stack.
  EXPECT_FALSE(ParseJson(std::string(100000, '[')).ok());
}

TEST(JsonTest, MembersAndNumbers) {
  const JsonParse parse = ParseJson("{\"n\":-1.5e1,\"s\":\"x\",\"b\":true}");
  ASSERT_TRUE(parse.ok());
  EXPECT_EQ(parse.value.find("n")->number(), -15.0);
  EXPECT_EQ(parse.value.find("n")->text, "-1.5e1");
  EXPECT_EQ(parse.value.find("s")->number(), std::nullopt);
  EXPECT_EQ(parse.value.find("missing"), nullptr);
  EXPECT_EQ(parse.value.find("s")->find("s"), nullptr);
}

}  // namespace
}  // namespace zept::xapi
