// The page channel's message format and the bridge movie's header, without
// a display.

#include <gtest/gtest.h>

#include "desktop/bridge_movie.h"
#include "desktop/json_strings.h"
#include "swf/swf.h"

namespace zept::desktop {
namespace {

TEST(PageMessages, DecodeJsonArraysOfStringsOnly) {
  using Items = std::vector<std::string>;
  EXPECT_EQ(DecodeStringArray(R"( [ "call" , "12", "a\"b\\c\/d" ] )"),
            (Items{"call", "12", "a\"b\\c/d"}));
  EXPECT_EQ(
      DecodeStringArray(R"(["\n\r\t\b\f","\u00e9\u20ac","\ud83d\ude00"])"),
      (Items{"\n\r\t\b\f", "\xC3\xA9\xE2\x82\xAC", "\xF0\x9F\x98\x80"}));
  EXPECT_EQ(DecodeStringArray("[]"), Items{});
  EXPECT_EQ(DecodeStringArray("[\"caf\xC3\xA9\"]"), Items{"caf\xC3\xA9"});
  // A surrogate without its pair (a string cut inside an emoji) is U+FFFD;
  // the call is taken, not dropped.
  EXPECT_EQ(DecodeStringArray(R"(["a\ud83d","\ude00b","\ud83d\u0041"])"),
            (Items{"a\xEF\xBF\xBD",
                   "\xEF\xBF\xBD"
                   "b",
                   "\xEF\xBF\xBD"
                   "A"}));
  for (const char* bad : {"", "[", "[\"a\"", "[\"a\",]", "[1]", "[\"a\"] x",
                          "{\"a\":1}", "[\"\\ud83d\\u12\"]", "[\"\\x\"]",
                          "[\"\\u12\"]", "[\"tab\there\"]", "[null]"}) {
    EXPECT_EQ(DecodeStringArray(bad), std::nullopt) << bad;
  }
}

TEST(PageMessages, EncodeEscapesWhatJsonNeedsAndRepairsBadUtf8) {
  EXPECT_EQ(EncodeStringArray({"done", "<string>1</string>"}),
            R"(["done","<string>1</string>"])");
  EXPECT_EQ(EncodeStringArray({"a\"b\\c", "\x01\n", "\xE2\x80\xA8"}),
            R"(["a\"b\\c","\u0001\u000a","\u2028"])");
  EXPECT_EQ(EncodeStringArray({"\xFF", "\xC3"}),
            "[\"\xEF\xBF\xBD\",\"\xEF\xBF\xBD\"]");
  EXPECT_EQ(EncodeStringArray({}), "[]");
  const std::vector<std::string> items = {"x\xF0\x9F\x98\x80y", "\r\n", ""};
  EXPECT_EQ(DecodeStringArray(EncodeStringArray(items)), items);
}

TEST(BridgeMovie, QueriesReachTheEmulatorAsUtf8) {
  EXPECT_EQ(QueryForEmulator(""), "");
  EXPECT_EQ(QueryForEmulator("?a=1&b=x%2Fy"), "?a=1&b=x%2Fy");
  // Windows-1252 runs become UTF-8; UTF-8 runs stay.
  EXPECT_EQ(QueryForEmulator("?s=caf%E9%20%80"), "?s=caf%C3%A9%20%E2%82%AC");
  EXPECT_EQ(QueryForEmulator("?s=caf%C3%A9"), "?s=caf%C3%A9");
  // What a URL cannot carry as it is: blanks, "#", raw UTF-8, a lone "%".
  EXPECT_EQ(QueryForEmulator("?sLogin=Ann #1 jos\xC3\xA9&p=100%"),
            "?sLogin=Ann%20%231%20jos%C3%A9&p=100%25");
}

TEST(BridgeMovie, CopiesTheStageOfTheRealMovie) {
  swf::MovieWriter movie(800, 600, 24.5, {0x1E, 0x3A, 0x5F});
  movie.showFrame();
  for (bool compressed : {false, true}) {
    const std::optional<SwfStage> stage = ReadSwfStage(movie.bytes(compressed));
    ASSERT_TRUE(stage);
    EXPECT_EQ(stage->width, 800);
    EXPECT_EQ(stage->height, 600);
    EXPECT_DOUBLE_EQ(stage->frameRate, 24.5);
    EXPECT_EQ(stage->red, 0x1E);
    EXPECT_EQ(stage->green, 0x3A);
    EXPECT_EQ(stage->blue, 0x5F);

    const std::string bridge = BuildBridgeMovie(
        "7", "0123456789abcdef", "zept://z/file/course/SCO_0001/player.swf?a=1",
        *stage);
    const std::optional<SwfStage> copy = ReadSwfStage(bridge);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->width, 800);
    EXPECT_EQ(copy->height, 600);
    EXPECT_EQ(copy->blue, 0x5F);
    // The callbacks carry the player's id; the movie's URL is loaded whole.
    EXPECT_NE(bridge.find("zeptGet7"), std::string::npos);
    EXPECT_NE(bridge.find("player.swf?a=1"), std::string::npos);
  }
}

TEST(BridgeMovie, RefusesWhatIsNotAMovie) {
  for (const std::string& bad :
       {std::string(), std::string("GIF89a"), std::string("FWS\x08\0\0\0\0", 8),
        std::string("CWS\x08\x10\0\0\0garbage", 15)}) {
    EXPECT_EQ(ReadSwfStage(bad), std::nullopt);
  }
  // A header cut short in its frame size is refused; cut after it, the
  // stage keeps the defaults of what it could not read.
  swf::MovieWriter movie(800, 600, 30, {1, 2, 3});
  const std::string bytes = movie.bytes(false);
  EXPECT_EQ(ReadSwfStage(bytes.substr(0, 12)), std::nullopt);
  const std::optional<SwfStage> cut = ReadSwfStage(bytes.substr(0, 17));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->width, 800);
  EXPECT_EQ(cut->height, 600);
  EXPECT_DOUBLE_EQ(cut->frameRate, 12);
  EXPECT_EQ(cut->red, 255);
}

}  // namespace
}  // namespace zept::desktop
