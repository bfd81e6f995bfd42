#include "shell/Course.h"

#include "platform/codepage.h"
#include "platform/errors.h"
#include "util/file_io.h"
#include "util/textlib.h"

namespace zept {
namespace {

// An element's first child node: its value when it is text or CDATA.
// Raises, as reading a node that is not there does, when it has none.
WideString FirstChildText(XmlNode element, const char* what) {
  XmlNode first = element.firstChild();
  if (!first)
    throw EXmlError(std::string("element '") + what + "' has no content");
  return first.isElement() ? first.text() : first.value();
}

std::int32_t IntAttribute(XmlNode node, const char* name,
                          std::int32_t defaultValue) {
  return StrToInt(node.attribute(name)).value_or(defaultValue);
}

void CollectSkins(XmlNode node, std::vector<WideString>& skins) {
  for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) {
    if (!child.isElement()) continue;
    if (QualifiedNameIs(
            reinterpret_cast<const unsigned char*>(child.name().c_str()),
            nullptr, "mediamix")) {
      const WideString skin = child.attribute("mediamix_skin");
      if (!skin.empty()) skins.push_back(skin);
    }
    CollectSkins(child, skins);
  }
}

}  // namespace

void TCourse::reset() {
  Version = Link = Look = Title = Description = TypicalLearningTime = Keywords =
      Author = Client = Responsable = BeginDate = EndDate = MajorVersion = u"";
  FlashPlayer = 0;
  BuildVersion = u"0";
  Duration = u"0";
  Root.reset();
}

void TCourse::loadFromFile(Context& ctx, const WideString& path) {
  reset();
  try {
    Root = LoadXmlRootUtf8(ctx, path);
    if (Root) readCourse();
  } catch (const std::exception& e) {
    LogError(ctx, e, u"TCourse", u"loadFromFile", 16111914);
  }
}

void TCourse::readCourse() {
  XmlNode root = Root ? Root->root() : XmlNode();
  if (!root) return;
  Version = root.attribute("version");
  Link = root.attribute("link");
  if (XmlNode design = root.child("design")) {
    const WideString player = design.attribute("flashplayer");
    if (!player.empty() && player != u"NaN") {
      std::optional<std::int32_t> value = StrToInt(player);
      if (!value) {
        throw EConvertError("'" + WideToUtf8(player) +
                            "' is not a valid integer value");
      }
      FlashPlayer = *value;
    }
    if (XmlNode look = design.child("look"))
      Look = FirstChildText(look, "look");
  }
  XmlNode metadata = root.child("metadata");
  if (!metadata) return;
  const std::pair<const char*, WideString*> fields[] = {
      {"title", &Title},
      {"description", &Description},
      {"typical_learning_time", &TypicalLearningTime},
      {"keywords", &Keywords},
      {"author", &Author},
      {"client", &Client},
      {"responsable", &Responsable},
      {"begin_date", &BeginDate},
      {"end_date", &EndDate},
      {"major_version", &MajorVersion}};
  for (const auto& [name, field] : fields) {
    XmlNode element = metadata.child(name);
    if (element && element.firstChild()) *field = FirstChildText(element, name);
  }
  XmlNode build = metadata.child("build_version");
  if (build && build.firstChild()) {
    BuildVersion = FirstChildText(build, "build_version");
  } else if (!metadata.attribute("build_version").empty()) {
    BuildVersion = metadata.attribute("build_version");
  }
  if (XmlNode duration = metadata.child("duration")) {
    Duration = FirstChildText(duration, "duration");
  }
}

void TLook::reset() {
  Name = Id = Version = ExportSuffix = Lang = BgColor = u"";
  MajorVersion = BuildVersion = u"1";
  Width = Height = 0;
  Fps = 24;
  FlashPlayer = 8;
  FullScreen = true;
  ScaleMode = u"ShowAll";
  Smartphone = false;
  MediamixSkins.clear();
}

void TLook::loadFromFile(Context& ctx, const WideString& path) {
  reset();
  std::unique_ptr<XmlDocument> doc = LoadXmlRootUtf8(ctx, path);
  if (doc) readFromNode(doc->root());
}

void TLook::readFromNode(XmlNode node) {
  Name = node.attribute("name");
  Id = node.attribute("id");
  Version = node.attribute("version");
  MajorVersion = node.attribute("major_version", u"1");
  BuildVersion = node.attribute("build_version", u"1");
  ExportSuffix = node.attribute("export_suffix");
  Lang = node.attribute("lang");
  Width = IntAttribute(node, "width", 0);
  Height = IntAttribute(node, "height", 0);
  BgColor = node.attribute("bgcolor", u"#000000");
  Fps = static_cast<float>(IntAttribute(node, "fps", 12));
  FlashPlayer = IntAttribute(node, "flashplayer", 8);
  FullScreen = node.attribute("fullscreen", u"1") != u"0";
  ScaleMode = node.attribute("scalemode", u"ShowAll");
  Smartphone = node.attribute("smartphone", u"1") != u"0";
  CollectSkins(node, MediamixSkins);
}

}  // namespace zept
