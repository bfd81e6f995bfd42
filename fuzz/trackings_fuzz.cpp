// Stored trackings documents of any kind: no crash, and whatever loads is
// written and read back to the same sessions.

#include <cstdint>
#include <cstdlib>

#include "platform/fake/fakes.h"
#include "tracking/lms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  platform::FakePlatform fake;
  Context ctx(fake.platform);
  TParcours course;
  for (int i = 0; i < 3; ++i) course.AddSCO(std::make_unique<TSCO>());
  TLMSAPI api(ctx, course);
  if (!api.ParseTrackingsUtf8(
          std::string(reinterpret_cast<const char*>(data), size)))
    return 0;

  TLMSAPI again(ctx, course);
  if (!again.ParseTrackingsUtf8(api.BuildTrackingsXmlUtf8())) std::abort();
  if (again.Sessions.size() != api.Sessions.size()) std::abort();
  if (again.BuildTrackingsXmlUtf8() != api.BuildTrackingsXmlUtf8()) {
    // The first build may replace characters XML cannot hold; from then on
    // the document is a fixed point.
    TLMSAPI third(ctx, course);
    third.ParseTrackingsUtf8(again.BuildTrackingsXmlUtf8());
    if (third.BuildTrackingsXmlUtf8() != again.BuildTrackingsXmlUtf8())
      std::abort();
  }
  return 0;
}
