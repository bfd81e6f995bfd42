#include "tracking/scotracking.h"

#include "platform/codepage.h"
#include "util/textlib.h"
#include "util/xml.h"

namespace zept {
namespace {

// One line: prefix, then <name>, the value as a CDATA section, </name>.
void AppendValueLine(Utf8String& out, const Utf8String& prefix,
                     const char* name, const WideString& value) {
  out += prefix;
  out += '<';
  out += name;
  out += '>';
  AppendCData(out, value);
  out += "</";
  out += name;
  out += ">\r\n";
}

}  // namespace

void TSCOTracking::AppendXml(Utf8String& out, const Utf8String& J,
                             const Utf8String& tail) const {
  out += J;
  out += "<sco id=\"";
  AppendXmlAttributeValue(out, Id);
  out += "\" date=\"";
  AppendXmlAttributeValue(out, Date);
  out += "\">\r\n";
  out += J;
  out += "\t<cmi>\r\n";
  const std::pair<const char*, const WideString*> values[] = {
      {"lesson_location", &LessonLocation},
      {"lesson_status", &LessonStatus},
      {"score", &Score},
      {"session_time", &SessionTime},
      {"suspend_data", &SuspendData}};
  const Utf8String prefix = J + "\t\t";
  for (const auto& [name, value] : values)
    AppendValueLine(out, prefix, name, *value);
  out += tail;
}

WideString TSCOTracking::ToXml(const WideString& indent) const {
  Utf8String out;
  const Utf8String J = WideToUtf8(indent);
  AppendXml(out, J, SCOTailXml(SCO, J));
  return Utf8ToWide(out);
}

void TSCOTracking::CopyValuesFrom(const TSCOTracking& stored,
                                  bool resetSessionTime) {
  Date = stored.Date;
  LessonLocation = stored.LessonLocation;
  LessonStatus = stored.LessonStatus;
  Score = stored.Score;
  SessionTime = resetSessionTime ? WideString(u"00:00:00") : stored.SessionTime;
  SuspendData = stored.SuspendData;
}

Utf8String SCOTailXml(const TSCO* sco, const Utf8String& J) {
  static const TSCO kNone;
  const TSCO& s = sco ? *sco : kNone;
  Utf8String out;
  out += J + "\t</cmi>\r\n";
  out += J + "\t<manifest>\r\n";
  AppendValueLine(out, J + "\t\t", "title", PercentEncode(s.Title));
  AppendValueLine(out, J + "\t\t", "mastery_score", IntToStr(s.MasteryScore));
  out += J + "\t</manifest>\r\n";
  out += J + "\t<metadata>\r\n";
  out += J + "\t\t<title>\r\n";
  for (const TLOMMetadata& m : s.Metadata)
    AppendValueLine(out, J + "\t\t\t", "langstring", m.Title);
  out += J + "\t\t</title>\r\n";
  out += J + "\t\t<description>\r\n";
  // Two tabs here where the titles have three: the format is so.
  for (const TLOMMetadata& m : s.Metadata) {
    AppendValueLine(out, J + "\t\t", "langstring", m.Description);
  }
  out += J + "\t\t</description>\r\n";
  out += J + "\t</metadata>\r\n";
  out += J + "</sco>\r\n";
  return out;
}

}  // namespace zept
