#pragma once
// The two time types of the SCORM 2004 data model: ISO 8601 durations
// (session_time, total_time, latency, max_time_allowed) and timestamps.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zept::scorm2004 {

// The longest interval written and read back: twelve digits of hours.
constexpr std::int64_t kLongestTimeInterval =
    (999'999'999'999LL * 3600 + 3599) * 100 + 99;

// P[nY][nM][nD][T[nH][nM][n[.n]S]] in hundredths of a second; nullopt when
// it is none, or longer than kLongestTimeInterval. Strict: at most two decimals
// on the seconds, as the type allows; lenient: more are cut, and the SCORM 1.2
// HHHH:MM:SS.SS some content still writes is read too. A year counts 365 days,
// a month 30.
std::optional<std::int64_t> ParseTimeInterval(std::string_view text,
                                              bool strict = true);
// a + b (neither negative), held at kLongestTimeInterval.
std::int64_t AddTimeIntervals(std::int64_t a, std::int64_t b);
// PT#H#M#[.##]S, hours unbounded: "PT0H0M0S", "PT1H2M3.5S".
std::string FormatTimeInterval(std::int64_t hundredths);

// YYYY[-MM[-DD[Thh[:mm[:ss[.s[s][zone]]]]]]], the zone (Z, +hh, +hh:mm)
// only after a fraction of a second; years 1970 to 2038. Lenient: more
// decimals, and a zone after any part of the time.
bool IsTimestamp(std::string_view text, bool strict = true);

}  // namespace zept::scorm2004
