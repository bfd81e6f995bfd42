#include "desktop/gtk_text.h"

#include "platform/codepage.h"

namespace zept::desktop {

std::string ToGtkText(const WideString& text) {
  const std::string utf8 = WideToUtf8(text);  // lone surrogates: U+FFFD
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    if (c == '\0')
      out += "\xEF\xBF\xBD";
    else
      out += c;
  }
  return out;
}

}  // namespace zept::desktop
