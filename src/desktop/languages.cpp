#include "desktop/languages.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace zept::desktop {
namespace {

const char* SystemEnv(const char* name) { return std::getenv(name); }

bool IsLetters(std::string_view text, std::size_t min, std::size_t max) {
  return text.size() >= min && text.size() <= max &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
         });
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// "de_AT.UTF-8@euro" -> "de-AT" and "de"; a name that is no language
// ("C", "POSIX", "C.UTF-8", junk) adds nothing.
void AddLocale(std::string_view name, std::vector<std::string>& out) {
  name = name.substr(0, name.find_first_of(".@"));
  const std::size_t bar = name.find('_');
  const std::string_view language = name.substr(0, bar);
  if (!IsLetters(language, 2, 3)) return;
  std::string primary;
  for (char c : language) primary += Lower(c);
  if (primary == "c") return;
  const auto add = [&out](const std::string& tag) {
    if (std::find(out.begin(), out.end(), tag) == out.end()) out.push_back(tag);
  };
  if (bar != std::string_view::npos) {
    const std::string_view region = name.substr(bar + 1);
    if (IsLetters(region, 2, 2)) {
      std::string tag = primary + "-";
      for (char c : region) tag += Upper(c);
      add(tag);
    }
  }
  add(primary);
}

}  // namespace

std::vector<std::string> PreferredLanguages(GetEnvFunction getEnv) {
  if (!getEnv) getEnv = SystemEnv;
  const auto value = [getEnv](const char* name) -> std::string_view {
    const char* text = getEnv(name);
    return text ? text : "";
  };
  std::string_view locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (!value(name).empty()) {
      locale = value(name);
      break;
    }
  }
  std::vector<std::string> out;
  if (!locale.empty() && locale != "C" && locale != "POSIX") {
    std::string_view list = value("LANGUAGE");
    while (!list.empty()) {
      const std::size_t colon = list.find(':');
      AddLocale(list.substr(0, colon), out);
      list = colon == std::string_view::npos ? "" : list.substr(colon + 1);
    }
  }
  AddLocale(locale, out);
  if (out.empty()) out.push_back("en-US");
  return out;
}

void SetPreferredLanguages(WebKitWebContext* context) {
  const std::vector<std::string> tags = PreferredLanguages();
  std::vector<const char*> list;
  for (const std::string& tag : tags) list.push_back(tag.c_str());
  list.push_back(nullptr);
  webkit_web_context_set_preferred_languages(context, list.data());
}

}  // namespace zept::desktop
