#pragma once
// The course descriptor (_course\course.xml of a SCO folder) and the look
// descriptor (_shared\<look>\look.xml) that it names.

#include <memory>
#include <vector>

#include "util/context.h"
#include "util/xml.h"

namespace zept {

class TCourse {
 public:
  TCourse() { reset(); }

  WideString Version, Link;
  std::int32_t FlashPlayer = 0;
  WideString Look, Title, Description, TypicalLearningTime, Keywords, Author,
      Client, Responsable, BeginDate, EndDate, MajorVersion, BuildVersion,
      Duration;
  std::unique_ptr<XmlDocument> Root;

  void reset();
  // Reads the file; a failure is written to the trace log (code 16111914)
  // and leaves the later fields at their reset values.
  void loadFromFile(Context& ctx, const WideString& path);
  void readCourse();
  void releaseRoot() { Root.reset(); }
};

class TLook {
 public:
  TLook() { reset(); }

  WideString Name;
  WideString Id;
  WideString Version;
  WideString MajorVersion;
  WideString BuildVersion;
  WideString ExportSuffix;
  WideString Lang;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  WideString BgColor;
  float Fps = 24;
  std::int32_t FlashPlayer = 8;
  bool FullScreen = true;
  WideString ScaleMode;
  bool Smartphone = false;
  std::vector<WideString> MediamixSkins;

  void reset();
  void loadFromFile(Context& ctx, const WideString& path);
  void readFromNode(XmlNode node);
};

}  // namespace zept
