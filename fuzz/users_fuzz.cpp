// Users documents of any kind: no crash, and the users that load are
// written and read back unchanged.

#include <cstdint>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/fake/fakes.h"
#include "tracking/users.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  platform::FakeClock clock;
  TUsers users(clock);
  users.LoadFromXml(
      Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size)));
  TUsers again(clock);
  again.LoadFromXml(users.ToXml(u"\t"));
  if (again.Users.size() != users.Users.size()) std::abort();
  if (again.ToXml(u"\t") != users.ToXml(u"\t")) std::abort();
  return 0;
}
