#pragma once
// Date and time formatting with the user's regional settings, and the
// calendar arithmetic the trace log needs.

#include "platform/clock.h"

namespace zept {

using platform::DateTime;
using platform::RegionalSettings;

// Formats with the pattern letters of the program's date formats:
// d dd m mm (month, or minutes right after an hour) M MM yy yyyy h hh n nn
// s ss z zzz; "/" is the date separator and ":" the time separator of the
// settings; text in single or double quotes is copied; anything else too.
WideString FormatDateTime(const WideString& pattern, const DateTime& when,
                          const RegionalSettings& settings);

// The date part in the user's short date pattern.
WideString ShortDateString(const DateTime& when,
                           const RegionalSettings& settings);

// Days since 1970-01-01 of a proleptic Gregorian date.
long DaysFromCivil(int year, int month, int day);
// The same time of day, days later (negative: earlier).
DateTime AddDays(const DateTime& when, long days);

}  // namespace zept
