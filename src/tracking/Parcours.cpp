#include "tracking/Parcours.h"

#include "platform/codepage.h"
#include "platform/errors.h"
#include "util/textlib.h"
#include "util/xml.h"

namespace zept {
namespace {

// The metadata's "lom:general" of an item or organization; none when any
// step is missing.
XmlNode General(XmlNode owner) {
  XmlNode n = owner.child("metadata");
  if (n) n = n.child("lom:lom");
  if (n) n = n.child("lom:general");
  return n;
}

// Calls take(k, value) for each langstring of the element whose first child
// is a CDATA section; k counts every langstring, skipped ones included.
template <typename Take>
void WalkLangstrings(XmlNode element, Take take) {
  if (!element) return;
  std::size_t k = 0;
  for (XmlNode langstring : element.children("lom:langstring")) {
    XmlNode first = langstring.firstChild();
    if (first.isCData()) take(k, first.value());
    ++k;
  }
}

void ReadMetadata(XmlNode general, WideString& title, WideString& description,
                  std::vector<TLOMMetadata>& metadata) {
  auto entry = [&metadata](std::size_t k) -> TLOMMetadata& {
    if (metadata.size() < k + 1) metadata.resize(k + 1);
    return metadata[k];
  };
  WalkLangstrings(general.child("lom:title"),
                  [&](std::size_t k, const WideString& v) {
                    if (k == 0) title = v;
                    entry(k).Title = v;
                  });
  WalkLangstrings(general.child("lom:description"),
                  [&](std::size_t k, const WideString& v) {
                    if (k == 0) description = v;
                    entry(k).Description = v;
                  });
}

std::int32_t MasteryScoreOf(XmlNode item) {
  XmlNode mastery = item.child("adlcp:masteryscore");
  if (!mastery) return 0;
  const WideString text = mastery.text();
  std::optional<std::int32_t> value = StrToInt(text);
  if (!value) {
    throw EConvertError("'" + WideToUtf8(text) +
                        "' is not a valid integer value");
  }
  return *value;
}

}  // namespace

void TParcours::LoadManifest(Context& ctx, const WideString& path) {
  if (!ctx.platform.files.fileExists(path)) return;
  std::unique_ptr<XmlDocument> doc = LoadXmlRoot(ctx, path);
  if (!doc) return;
  XmlNode root = doc->root();
  Identifier = root.attribute("identifier", u"cdrom");
  XmlNode organizations = root.child("organizations");
  if (!organizations) return;
  XmlNode organization = organizations.child("organization");
  if (!organization) return;
  if (XmlNode title = organization.child("title")) Title = title.text();

  for (XmlNode item : organization.children("item")) {
    const std::int32_t mastery = MasteryScoreOf(item);
    auto sco = std::make_unique<TSCO>();
    TSCO& s = *sco;
    AddSCO(std::move(sco));
    if (XmlNode title = item.child("title")) s.Title = title.text();
    s.Identifier = item.attribute("identifier", u"cdrom");
    s.Href = item.attribute("href");
    s.MasteryScore = mastery;
    if (XmlNode general = General(item)) {
      ReadMetadata(general, s.Title, s.Description, s.Metadata);
    }
  }
  if (XmlNode general = General(organization)) {
    ReadMetadata(general, Title, Description, Metadata);
  }
}

TSCO* TParcours::GetSCO(std::int64_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= SCOs.size())
    return nullptr;
  return SCOs[static_cast<std::size_t>(index)].get();
}

void TParcours::AddSCO(std::unique_ptr<TSCO> sco) {
  if (sco) SCOs.push_back(std::move(sco));
}

}  // namespace zept
