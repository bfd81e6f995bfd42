#include "scorm2004/time_interval.h"

#include <cstdio>
#include <utility>

#include "scorm/scan.h"

namespace zept::scorm2004 {
namespace {

using scorm::DigitsAtFront;
using scorm::Take;
using scorm::TakeDigitRun;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits at the front, advanced past; nullopt when there are none or more
// than a duration can hold.
std::optional<std::int64_t> TakeNumber(std::string_view& text,
                                       std::size_t most = 12) {
  const std::size_t n = DigitsAtFront(text);
  if (n == 0 || n > most) return std::nullopt;
  return TakeDigitRun(text, n);
}

// Exactly count digits, within [low, high].
std::optional<int> TakeField(std::string_view& text, std::size_t count, int low,
                             int high) {
  if (text.size() < count) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (value < low || value > high) return std::nullopt;
  text.remove_prefix(count);
  return value;
}

constexpr std::int64_t kSecond = 100;

// total += number * unit; false past the longest interval.
bool AddScaled(std::int64_t& total, std::int64_t number, std::int64_t unit) {
  std::int64_t scaled = 0;
  return !__builtin_mul_overflow(number, unit, &scaled) &&
         !__builtin_add_overflow(total, scaled, &total) &&
         total <= kLongestTimeInterval;
}
constexpr std::int64_t kDay = 24 * 3600 * kSecond;

// H[HHH]:MM:SS[.S...], the SCORM 1.2 form some content still writes.
std::optional<std::int64_t> ParseClock(std::string_view text) {
  const auto hours = TakeNumber(text, 4);
  if (!hours || !Take(text, ':')) return std::nullopt;
  const auto minutes = TakeField(text, 2, 0, 59);
  if (!minutes || !Take(text, ':')) return std::nullopt;
  const auto seconds = TakeField(text, 2, 0, 59);
  if (!seconds) return std::nullopt;
  std::int64_t fraction = 0;
  if (Take(text, '.')) {
    if (text.empty()) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i)
      if (!IsDigit(text[i])) return std::nullopt;
    fraction = (text[0] - '0') * 10 + (text.size() > 1 ? text[1] - '0' : 0);
  }
  return ((*hours * 60 + *minutes) * 60 + *seconds) * kSecond + fraction;
}

}  // namespace

std::optional<std::int64_t> ParseTimeInterval(std::string_view text,
                                              bool strict) {
  if (!strict && !text.empty() && text.front() != 'P') return ParseClock(text);
  if (!Take(text, 'P') || text.empty()) return std::nullopt;
  std::int64_t total = 0;
  bool any = false;
  // The date part: Y, M, D in that order, each at most once.
  constexpr std::pair<char, std::int64_t> kDate[] = {
      {'Y', 365 * kDay}, {'M', 30 * kDay}, {'D', kDay}};
  std::size_t next = 0;
  while (!text.empty() && text.front() != 'T') {
    const auto number = TakeNumber(text);
    if (!number || text.empty()) return std::nullopt;
    while (next < 3 && kDate[next].first != text.front()) ++next;
    if (next == 3) return std::nullopt;
    if (!AddScaled(total, *number, kDate[next++].second)) return std::nullopt;
    text.remove_prefix(1);
    any = true;
  }
  if (Take(text, 'T')) {
    if (text.empty()) return std::nullopt;
    constexpr std::pair<char, std::int64_t> kTime[] = {
        {'H', 3600 * kSecond}, {'M', 60 * kSecond}, {'S', kSecond}};
    next = 0;
    while (!text.empty()) {
      const auto number = TakeNumber(text);
      if (!number || text.empty()) return std::nullopt;
      std::int64_t fraction = 0;
      if (Take(text, '.')) {
        std::size_t digits = 0;
        while (digits < text.size() && IsDigit(text[digits])) ++digits;
        if (digits == 0 || (strict && digits > 2)) return std::nullopt;
        fraction = (text[0] - '0') * 10 + (digits > 1 ? text[1] - '0' : 0);
        text.remove_prefix(digits);
        if (text.empty() || text.front() != 'S') return std::nullopt;
      }
      while (next < 3 && kTime[next].first != text.front()) ++next;
      if (next == 3) return std::nullopt;
      if (!AddScaled(total, *number, kTime[next++].second) ||
          !AddScaled(total, fraction, 1))
        return std::nullopt;
      text.remove_prefix(1);
      any = true;
    }
  }
  if (!any || !text.empty()) return std::nullopt;
  return total;
}

std::int64_t AddTimeIntervals(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum) || sum > kLongestTimeInterval)
    return kLongestTimeInterval;
  return sum;
}

std::string FormatTimeInterval(std::int64_t hundredths) {
  if (hundredths < 0) hundredths = 0;
  const std::int64_t seconds = hundredths / kSecond;
  const int fraction = static_cast<int>(hundredths % kSecond);
  char text[64];
  const auto hours = static_cast<long long>(seconds / 3600);
  const auto minutes = static_cast<long long>(seconds / 60 % 60);
  const auto secs = static_cast<long long>(seconds % 60);
  if (fraction == 0)
    std::snprintf(text, sizeof text, "PT%lldH%lldM%lldS", hours, minutes, secs);
  else if (fraction % 10 == 0)
    std::snprintf(text, sizeof text, "PT%lldH%lldM%lld.%dS", hours, minutes,
                  secs, fraction / 10);
  else
    std::snprintf(text, sizeof text, "PT%lldH%lldM%lld.%02dS", hours, minutes,
                  secs, fraction);
  return text;
}

namespace {

// Z, or +hh / -hh with optional :mm, and nothing after.
bool IsZone(std::string_view text) {
  if (Take(text, 'Z')) return text.empty();
  if (!Take(text, '+') && !Take(text, '-')) return false;
  if (!TakeField(text, 2, 0, 23)) return false;
  if (Take(text, ':') && !TakeField(text, 2, 0, 59)) return false;
  return text.empty();
}

}  // namespace

bool IsTimestamp(std::string_view text, bool strict) {
  const auto year = TakeField(text, 4, 1970, 2038);
  if (!year) return false;
  if (text.empty()) return true;
  if (!Take(text, '-')) return false;
  const auto month = TakeField(text, 2, 1, 12);
  if (!month) return false;
  if (text.empty()) return true;
  if (!Take(text, '-')) return false;
  constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int days = kDays[*month - 1];
  if (*month == 2 && *year % 4 != 0) days = 28;
  if (!TakeField(text, 2, 1, days)) return false;
  if (text.empty()) return true;
  if (!Take(text, 'T') || !TakeField(text, 2, 0, 23)) return false;
  // The standard has the zone only after a fraction of a second; content
  // writes it after whole seconds too ("...T10:00:00Z"), which is lenient.
  const auto rest = [&text, strict]() {
    return text.empty() || (!strict && IsZone(text));
  };
  if (rest()) return true;
  if (!Take(text, ':') || !TakeField(text, 2, 0, 59)) return false;
  if (rest()) return true;
  if (!Take(text, ':') || !TakeField(text, 2, 0, 59)) return false;
  if (rest()) return true;
  if (!Take(text, '.')) return false;
  std::size_t digits = 0;
  while (digits < text.size() && IsDigit(text[digits])) ++digits;
  if (digits == 0 || (strict && digits > 2)) return false;
  text.remove_prefix(digits);
  return text.empty() || IsZone(text);
}

}  // namespace zept::scorm2004
