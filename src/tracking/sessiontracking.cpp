#include "tracking/sessiontracking.h"

#include "platform/codepage.h"
#include "util/textlib.h"
#include "util/xml.h"

namespace zept {

const Utf8String& SCOTailCache::tail(const TSCO* sco) {
  auto it = tails_.find(sco);
  if (it == tails_.end())
    it = tails_.emplace(sco, SCOTailXml(sco, indent_)).first;
  return it->second;
}

TSessionTracking::TSessionTracking(const TParcours* parcours,
                                   const WideString& today)
    : Date(today), Parcours(parcours) {
  if (!parcours) return;
  SCOTrackings.reserve(parcours->SCOs.size());
  for (const auto& sco : parcours->SCOs)
    AddSCOTracking(TSCOTracking(sco.get(), today));
}

void TSessionTracking::AddSCOTracking(TSCOTracking record) {
  SCOTrackings.push_back(std::move(record));
  SCOTrackings.back().Id =
      IntToStr(static_cast<std::int64_t>(SCOTrackings.size()));
}

void TSessionTracking::AppendXml(Utf8String& out, const Utf8String& I,
                                 SCOTailCache& tails) const {
  out += I;
  out += "<session id=\"";
  out += std::to_string(Index);
  out += "\" date=\"";
  AppendXmlAttributeValue(out, Date);
  out += "\">\r\n";
  out += I;
  out += "\t<units>\r\n";
  for (const TSCOTracking& record : SCOTrackings) {
    record.AppendXml(out, tails.indent(), tails.tail(record.SCO));
  }
  out += I;
  out += "\t</units>\r\n";
  out += I;
  out += "</session>\r\n";
}

WideString TSessionTracking::ToXml(const WideString& indent) const {
  const Utf8String I = WideToUtf8(indent);
  SCOTailCache tails(I + "\t\t");
  Utf8String out;
  AppendXml(out, I, tails);
  return Utf8ToWide(out);
}

}  // namespace zept
