#pragma once
// Local time and the user's regional settings.

#include "platform/text.h"

namespace zept::platform {

struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct RegionalSettings {
  // Pattern in the program's date format letters, e.g. u"dd/MM/yyyy".
  WideString shortDatePattern = u"dd/MM/yyyy";
  char16_t dateSeparator = u'/';
  char16_t timeSeparator = u':';
  char16_t decimalSeparator = u'.';
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() = 0;
  // Read on every call, so a changed locale takes effect at once.
  virtual RegionalSettings regionalSettings() = 0;
};

}  // namespace zept::platform
