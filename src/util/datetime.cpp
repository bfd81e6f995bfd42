#include "util/datetime.h"

#include "util/textlib.h"

namespace zept {
namespace {

WideString Two(int value) { return PadLeft(IntToStr(value), u"0", 2); }

std::size_t RunLength(const WideString& p, std::size_t i) {
  std::size_t n = 1;
  char16_t c = p[i] | 0x20;
  while (i + n < p.size() && (p[i + n] | 0x20) == c) ++n;
  return n;
}

}  // namespace

WideString FormatDateTime(const WideString& pattern, const DateTime& when,
                          const RegionalSettings& settings) {
  WideString out;
  bool lastWasHour = false;  // "mm" after an hour means minutes
  for (std::size_t i = 0; i < pattern.size();) {
    char16_t c = pattern[i];
    char16_t lower = c | 0x20;
    if (c == u'"' || c == u'\'') {
      std::size_t close = pattern.find(c, i + 1);
      if (close == WideString::npos) close = pattern.size();
      out.append(pattern, i + 1, close - i - 1);
      i = close + 1;
      continue;
    }
    if (c == u'/') {
      out += settings.dateSeparator;
      ++i;
      continue;
    }
    if (c == u':') {
      out += settings.timeSeparator;
      ++i;
      continue;
    }
    if (!(c >= u'A' && c <= u'Z') && !(c >= u'a' && c <= u'z')) {
      out += c;
      ++i;
      continue;
    }
    std::size_t n = RunLength(pattern, i);
    switch (lower) {
      case u'd':
        out += n >= 2 ? Two(when.day) : IntToStr(when.day);
        break;
      case u'm':
        if (lastWasHour && c == u'm') {
          out += n >= 2 ? Two(when.minute) : IntToStr(when.minute);
        } else {
          out += n >= 2 ? Two(when.month) : IntToStr(when.month);
        }
        break;
      case u'y':
        out += n >= 3 ? PadLeft(IntToStr(when.year), u"0", 4)
                      : Two(when.year % 100);
        break;
      case u'h':
        out += n >= 2 ? Two(when.hour) : IntToStr(when.hour);
        break;
      case u'n':
        out += n >= 2 ? Two(when.minute) : IntToStr(when.minute);
        break;
      case u's':
        out += n >= 2 ? Two(when.second) : IntToStr(when.second);
        break;
      case u'z':
        out += n >= 3 ? PadLeft(IntToStr(when.millisecond), u"0", 3)
                      : IntToStr(when.millisecond);
        break;
      default:
        out.append(pattern, i, n);
        break;
    }
    lastWasHour = lower == u'h';
    i += n;
  }
  return out;
}

WideString ShortDateString(const DateTime& when,
                           const RegionalSettings& settings) {
  return FormatDateTime(settings.shortDatePattern, when, settings);
}

long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yoe = year - era * 400;
  const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTime AddDays(const DateTime& when, long days) {
  long z = DaysFromCivil(when.year, when.month, when.day) + days + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  DateTime out = when;
  out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2));
  return out;
}

}  // namespace zept
