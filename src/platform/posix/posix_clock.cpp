#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include "platform/codepage.h"
#include "platform/posix/posix.h"

namespace zept::platform {
namespace {

// Turns a strftime date format into the program's pattern letters, with "/"
// standing for the date separator (the first punctuation of the format).
void DatePatternFrom(const std::string& format, RegionalSettings& out) {
  std::string expanded;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char c = format[++i];
      if (c == 'D')
        expanded += "%m/%d/%y";
      else if (c == 'F')
        expanded += "%Y-%m-%d";
      else
        expanded += std::string("%") + c;
    } else {
      expanded += format[i];
    }
  }
  char separator = 0;
  WideString pattern;
  for (std::size_t i = 0; i < expanded.size(); ++i) {
    char c = expanded[i];
    if (c == '%' && i + 1 < expanded.size()) {
      switch (expanded[++i]) {
        case 'd':
          pattern += u"dd";
          break;
        case 'e':
          pattern += u"d";
          break;
        case 'm':
          pattern += u"MM";
          break;
        case 'Y':
          pattern += u"yyyy";
          break;
        case 'y':
          pattern += u"yy";
          break;
        default:
          break;  // names of days and months have no place here
      }
      continue;
    }
    if (separator == 0 && c != ' ') separator = c;
    if (c == separator) {
      pattern += u'/';
    } else {
      pattern += u'"';
      pattern += AnsiToWide(std::string(1, c));
      pattern += u'"';
    }
  }
  if (pattern.empty()) return;
  out.shortDatePattern = pattern;
  if (separator) out.dateSeparator = AnsiToWide(std::string(1, separator))[0];
}

void TimeSeparatorFrom(const std::string& format, RegionalSettings& out) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%') {
      if (i + 1 < format.size() &&
          (format[i + 1] == 'T' || format[i + 1] == 'R')) {
        out.timeSeparator = u':';
        return;
      }
      ++i;
      continue;
    }
    if (format[i] != ' ') {
      out.timeSeparator = AnsiToWide(std::string(1, format[i]))[0];
      return;
    }
  }
}

class PosixClock final : public Clock {
 public:
  DateTime now() override {
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    ::localtime_r(&ts.tv_sec, &local);
    return DateTime{local.tm_year + 1900,
                    local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    local.tm_sec,
                    static_cast<int>(ts.tv_nsec / 1000000)};
  }

  // From the environment's locale (LC_ALL, LC_TIME, LC_NUMERIC, LANG),
  // without changing the process locale.
  RegionalSettings regionalSettings() override {
    RegionalSettings settings;
    locale_t loc = ::newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, "", nullptr);
    if (loc == nullptr) loc = ::newlocale(LC_ALL_MASK, "C", nullptr);
    if (loc == nullptr) return settings;
    DatePatternFrom(::nl_langinfo_l(D_FMT, loc), settings);
    TimeSeparatorFrom(::nl_langinfo_l(T_FMT, loc), settings);
    const char* decimal = ::nl_langinfo_l(RADIXCHAR, loc);
    if (decimal && *decimal) settings.decimalSeparator = Utf8ToWide(decimal)[0];
    ::freelocale(loc);
    return settings;
  }
};

}  // namespace

std::unique_ptr<Clock> NewPosixClock() {
  return std::make_unique<PosixClock>();
}

}  // namespace zept::platform
