// What content sends zept's LRS: no crash, no leak, and whatever is read
// is written as JSON that reads back to the same text, and a valid
// statement is one whose checks never crash.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "xapi/json.h"
#include "xapi/statement_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const zept::xapi::JsonParse parse =
      zept::xapi::ParseJson(text, {1u << 20, 32});
  if (!parse.ok()) return 0;
  const std::string written = zept::xapi::WriteJson(parse.value);
  const zept::xapi::JsonParse again = zept::xapi::ParseJson(written);
  if (!again.ok() || zept::xapi::WriteJson(again.value) != written)
    std::abort();
  zept::xapi::StatementFault(parse.value);
  zept::xapi::ActorFault(parse.value);
  return 0;
}
