// cmi5.xml bytes of any kind, alone and in a package of two files: a
// course is read, or ECourseError says why not. What is read holds only
// IRIs for ids, AUs of the package that name its files, and a tree whose
// satisfaction and launch data can be worked out.

#include <cstdint>
#include <cstdlib>

#include "cmi5/course.h"
#include "cmi5/launch.h"
#include "cmi5/move_on.h"
#include "package/named_files.h"

namespace {

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
  const zept::scorm::NamedFiles package({"index.html", "a/b.html"});
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
