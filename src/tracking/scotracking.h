#pragma once
// The tracking record of one SCO in one session: the five run-time values.

#include "tracking/SCO.h"

namespace zept {

class TSCOTracking {
 public:
  // A new record for sco, dated today (the date text in the user's format).
  TSCOTracking(const TSCO* sco, const WideString& today)
      : Date(today), SCO(sco) {}

  WideString Id;
  WideString Date;
  WideString LessonLocation = u"1";
  WideString LessonStatus = u"not attempted";
  WideString Score = u"0";
  WideString SessionTime = u"00:00:00";
  WideString SuspendData;
  const TSCO* SCO = nullptr;  // not owned

  // The record as a "sco" block with indent J.
  WideString ToXml(const WideString& indent) const;
  // The same in UTF-8, appended; tail is the record's "manifest" and
  // "metadata" part for this indent (SCOTailXml), shared by every session.
  void AppendXml(Utf8String& out, const Utf8String& indent,
                 const Utf8String& tail) const;
  // Takes the values a stored record gave; session time "00:00:00" when
  // resetSessionTime.
  void CopyValuesFrom(const TSCOTracking& stored, bool resetSessionTime);
};

// Lines 8 to 21 of a record's "sco" block: the end of "cmi", the SCO's
// "manifest" and "metadata" copies and the closing tag, for indent J.
Utf8String SCOTailXml(const TSCO* sco, const Utf8String& indent);

}  // namespace zept
