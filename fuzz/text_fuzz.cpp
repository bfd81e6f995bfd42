// Text conversions, splitting and replacement on arbitrary bytes: no crash,
// and the invariants the callers rely on hold.

#include <cstdint>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/fake/fakes.h"
#include "util/arraylib.h"
#include "util/file_io.h"
#include "util/textlib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const WideString wide = Utf8ToWide(bytes);
  if (Utf8ToWide(WideToUtf8(wide)) != wide) std::abort();
  const WideString latin = AnsiToWide(bytes);
  if (WideToAnsi(latin) != bytes) std::abort();

  // The separator is a piece of the text itself, so it occurs in it.
  const WideString separator = wide.substr(0, size % 3);
  const TWideStringArray pieces = Explode(wide, separator);
  if (!separator.empty() && !wide.empty() &&
      Implode(pieces, separator) != wide) {
    std::abort();
  }
  ReplaceLiteral(wide, separator, u"$&$'", kReplaceGlobal | kReplaceIgnoreCase);
  PercentEncode(wide);
  StrToInt(wide);

  platform::FakePlatform fake;
  Context ctx(fake.platform);
  fake.files.addFile(u"/f.txt", bytes);
  readTextFile(ctx, u"/f.txt");
  return 0;
}
