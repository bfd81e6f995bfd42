// Manifest bytes of any kind: the course is read or left empty, and only a
// bad mastery score may throw.

#include <cstdint>

#include "platform/errors.h"
#include "platform/fake/fakes.h"
#include "tracking/Parcours.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  platform::FakePlatform fake;
  Context ctx(fake.platform);
  fake.files.addFile(u"/cd/imsmanifest.xml",
                     std::string(reinterpret_cast<const char*>(data), size));
  TParcours course;
  try {
    course.LoadManifest(ctx, u"/cd/imsmanifest.xml");
  } catch (const EConvertError&) {
  }
  for (std::size_t i = 0; i < course.count(); ++i)
    course.GetSCO(i)->Title.size();
  return 0;
}
