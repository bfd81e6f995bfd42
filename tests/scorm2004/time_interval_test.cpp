#include "scorm2004/time_interval.h"

#include <gtest/gtest.h>

namespace zept::scorm2004 {
namespace {

TEST(TimeIntervalTest, Parse) {
  constexpr std::int64_t kMinute = 6000, kHour = 60 * kMinute,
                         kDay = 24 * kHour;
  const struct {
    std::string_view text;
    std::optional<std::int64_t> strict, lenient;
  } kCases[] = {
      {"PT0H0M0S", 0, 0},
      {"PT1H30M", 90 * kMinute, 90 * kMinute},
      {"PT90M", 90 * kMinute, 90 * kMinute},
      {"PT1.5S", 150, 150},
      {"PT0.05S", 5, 5},
      {"PT2.125S", std::nullopt, 212},  // three decimals: lenient cuts
      {"P1D", kDay, kDay},
      {"P1Y2M3DT4H", (365 + 60 + 3) * kDay + 4 * kHour,
       (365 + 60 + 3) * kDay + 4 * kHour},
      {"P0Y", 0, 0},
      {"P", std::nullopt, std::nullopt},
      {"PT", std::nullopt, std::nullopt},
      {"P1DT", std::nullopt, std::nullopt},
      {"PT1M1H", std::nullopt, std::nullopt},  // out of order
      {"PT1H1H", std::nullopt, std::nullopt},
      {"P1H", std::nullopt, std::nullopt},  // hours need the T
      {"PT1.S", std::nullopt, std::nullopt},
      {"PT1.5M", std::nullopt, std::nullopt},  // only seconds have decimals
      {"PT-1S", std::nullopt, std::nullopt},
      {"pt1s", std::nullopt, std::nullopt},
      {"00:01:30", std::nullopt, 90 * 100},  // the SCORM 1.2 form
      {"0001:00:00.5", std::nullopt, kHour + 50},
      {"00:60:00", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"PT9999999999999S", std::nullopt, std::nullopt},
      // Longer than a total can be written back: refused, never wrapped.
      {"PT999999999999H59M59.99S", kLongestTimeInterval, kLongestTimeInterval},
      {"P114000000Y", kDay * 365 * 114000000, kDay * 365 * 114000000},
      {"PT999999999999H60M", std::nullopt, std::nullopt},
      {"P115000000Y", std::nullopt, std::nullopt},
      {"P3000000000Y", std::nullopt, std::nullopt},
      {"P999999999999Y999999999999D", std::nullopt, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(ParseTimeInterval(c.text, true), c.strict);
    EXPECT_EQ(ParseTimeInterval(c.text, false), c.lenient);
  }
}

TEST(TimeIntervalTest, FormatReadsBack) {
  const struct {
    std::int64_t hundredths;
    std::string_view text;
  } kCases[] = {{0, "PT0H0M0S"},
                {150, "PT0H0M1.5S"},
                {5, "PT0H0M0.05S"},
                {(26 * 3600 + 61) * 100 + 99, "PT26H1M1.99S"},
                {-3, "PT0H0M0S"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(FormatTimeInterval(c.hundredths), c.text);
    EXPECT_EQ(ParseTimeInterval(c.text),
              std::max<std::int64_t>(c.hundredths, 0));
  }
}

TEST(TimeIntervalTest, SumsHoldAtTheLargest) {
  constexpr std::int64_t kMax = kLongestTimeInterval;
  EXPECT_EQ(AddTimeIntervals(150, 250), 400);
  EXPECT_EQ(AddTimeIntervals(kMax - 1, 5), kMax);
  EXPECT_EQ(AddTimeIntervals(kMax, kMax), kMax);
  EXPECT_EQ(FormatTimeInterval(kMax), "PT999999999999H59M59.99S");
  EXPECT_EQ(ParseTimeInterval(FormatTimeInterval(kMax), false), kMax);
}

TEST(TimeIntervalTest, Timestamps) {
  const struct {
    std::string_view text;
    bool strict, lenient;
  } kCases[] = {
      {"2024", true, true},
      {"2024-02", true, true},
      {"2024-02-29", true, true},
      {"2023-02-29", false, false},
      {"2024-02-29T13", true, true},
      {"2024-02-29T13:05:09", true, true},
      {"2024-02-29T13:05:09.5", true, true},
      {"2024-02-29T13:05:09.12Z", true, true},
      {"2024-02-29T13:05:09.5+02:00", true, true},
      {"2024-02-29T13:05:09.5-05", true, true},
      // A zone after whole seconds or minutes: lenient only.
      {"2024-02-29T13:05:09+02:00", false, true},
      {"2024-02-29T13:05Z", false, true},
      {"2024-02-29T13:05:09.5+24", false, false},
      {"2024-02-29T13:05:09.123Z", false, true},
      {"1969-12-31", false, false},
      {"2039-01-01", false, false},
      {"2024-13-01", false, false},
      {"2024-01-01T24:00", false, false},
      {"2024-01-01 13:05", false, false},
      {"2024-01-01T13:05:09Q", false, false},
      {"24-01-01", false, false},
      {"", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(IsTimestamp(c.text, true), c.strict);
    EXPECT_EQ(IsTimestamp(c.text, false), c.lenient);
  }
}

}  // namespace
}  // namespace zept::scorm2004
