#include "util/i18n.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zept {

const char* _(const char* msgid) { return ::dgettext(kTextDomain, msgid); }

std::string Fill(std::string_view pattern,
                 std::initializer_list<std::string_view> values) {
  std::string out;
  auto next = values.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 == pattern.size()) {
      out += pattern[i];
    } else if (pattern[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (pattern[i + 1] == 's') {
      if (next != values.end()) out += *next++;
      ++i;
    } else {
      out += '%';
    }
  }
  return out;
}

std::string BindCatalogs(const std::string& programPath) {
  // Only the messages category: numbers, dates and character classes keep
  // the rules the rest of the program was written for.
  std::setlocale(LC_MESSAGES, "");
  namespace fs = std::filesystem;
  const auto holds = [](const fs::path& dir) {
    std::error_code error;
    return fs::is_directory(dir, error);
  };
  std::string chosen;
  if (const char* dir = std::getenv("ZEPT_LOCALE_DIR"); dir && *dir) {
    chosen = dir;
  } else {
    const fs::path bin = fs::path(programPath).parent_path();
    for (const fs::path& candidate :
         {bin / "locale", bin.parent_path() / "share" / "locale"}) {
      if (holds(candidate)) {
        chosen = candidate.lexically_normal().string();
        break;
      }
    }
  }
  if (!chosen.empty()) ::bindtextdomain(kTextDomain, chosen.c_str());
  // UTF-8 whatever the locale's character set: GTK, WebKit and the PDFs
  // take nothing else.
  ::bind_textdomain_codeset(kTextDomain, "UTF-8");
  // Not made the default domain: GTK reads its own words (and the
  // language's direction) through the default one.
  return chosen;
}

}  // namespace zept
