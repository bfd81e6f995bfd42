// cmi5.xml bytes of any kind, alone and in a package of two files: a
// course is read, or ECourseError says why not. What is read holds only
// IRIs for ids, AUs of the package that name its files, and a tree whose
// satisfaction and launch data can be worked out.

#include <cstdint>
#include <cstdlib>

#include "cmi5/course.h"
#include "cmi5/launch.h"
#include "cmi5/move_on.h"
#include "scorm/package.h"

namespace {

class TwoFiles final : public zept::scorm::PackageFiles {
 public:
  const std::string& location() const override { return location_; }
  std::vector<zept::scorm::PackageEntry> entries() const override {
    return {{"index.html", 0, 0}, {"a/b.html", 0, 0}};
  }
  bool exists(const std::string& path) const override {
    return path == "index.html" || path == "a/b.html";
  }
  std::unique_ptr<zept::scorm::EntryReader> open(
      const std::string&) const override {
    return nullptr;
  }
  std::string nativeFile(const std::string&) const override { return ""; }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

 private:
  std::string location_ = "fuzz.zip";
  std::vector<std::string> warnings_;
};

void Check(const zept::cmi5::Course& course,
           const zept::scorm::PackageFiles* package) {
  using namespace zept::cmi5;
  if (!IsIri(course.id) || course.children.empty()) std::abort();
  for (const Au& au : course.aus) {
    if (!IsIri(au.id)) std::abort();
    if (au.relative() && (!package || !package->exists(au.packagePath)))
      std::abort();
    if (au.block != kNoBlock && au.block >= course.blocks.size()) std::abort();
  }
  for (const Block& block : course.blocks) {
    if (block.children.empty()) std::abort();
    for (const Child& child : block.children) {
      const std::size_t size = child.kind == Child::Kind::kAu
                                   ? course.aus.size()
                                   : course.blocks.size();
      if (child.index >= size) std::abort();
    }
  }
  const Satisfaction none = Evaluate(course, {});
  const Satisfaction all = Evaluate(
      course, std::vector<AuOutcome>(course.aus.size(), AuOutcome{true, true}));
  if (!all.course) std::abort();
  NewlySatisfied(course, none, all);
  for (std::size_t i = 0; i < course.aus.size() && i < 8; ++i)
    LaunchDataJson(LaunchOf(course.aus[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const TwoFiles package;
  for (const zept::scorm::PackageFiles* files :
       {static_cast<const zept::scorm::PackageFiles*>(nullptr),
        static_cast<const zept::scorm::PackageFiles*>(&package)}) {
    try {
      Check(zept::cmi5::ParseCourse(bytes, files), files);
    } catch (const zept::cmi5::ECourseError&) {
    }
  }
  return 0;
}
