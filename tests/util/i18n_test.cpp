#include "util/i18n.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "desktop/languages.h"

namespace zept {
namespace {

TEST(FillTest, PutsTheValuesWhereTheSentenceSaysInOrder) {
  struct Case {
    const char* pattern;
    std::initializer_list<std::string_view> values;
    const char* filled;
  };
  const Case cases[] = {
      {"Page %s / %s", {"3", "3"}, "Page 3 / 3"},
      {"%s cannot play: it is at %s.", {"Unit 1", "http://x/%s"},
       "Unit 1 cannot play: it is at http://x/%s."},  // values are not read
      {"100%% of %s", {"it"}, "100% of it"},
      {"%s and %s", {"one"}, "one and "},
      {"no value", {"left over"}, "no value"},
      {"a lone %", {}, "a lone %"},
      {"%d stays", {}, "%d stays"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Fill(c.pattern, c.values), c.filled);
  }
}

std::map<std::string, std::string> environment;
const char* FromTable(const char* name) {
  const auto it = environment.find(name);
  return it == environment.end() ? nullptr : it->second.c_str();
}

TEST(PreferredLanguagesTest, FollowTheLocaleAsGettextReadsIt) {
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> tags;
  };
  const Case cases[] = {
      {{{"LANG", "fr_FR.UTF-8"}}, {"fr-FR", "fr"}},
      {{{"LANG", "de_AT.UTF-8@euro"}}, {"de-AT", "de"}},
      {{{"LANG", "es"}}, {"es"}},
      // LC_ALL, then LC_MESSAGES, then LANG.
      {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "es_MX.UTF-8"}},
       {"es-MX", "es"}},
      {{{"LC_MESSAGES", "es_MX.UTF-8"}, {"LC_ALL", "fr_CA.UTF-8"}},
       {"fr-CA", "fr"}},
      // LANGUAGE leads, as a list, unless the locale is C.
      {{{"LANGUAGE", "fr:de_CH"}, {"LANG", "en_GB.UTF-8"}},
       {"fr", "de-CH", "de", "en-GB", "en"}},
      {{{"LANGUAGE", "fr"}, {"LC_ALL", "C.UTF-8"}}, {"fr"}},
      {{{"LANGUAGE", "fr"}, {"LC_ALL", "C"}}, {"en-US"}},
      {{{"LANGUAGE", "fr"}}, {"en-US"}},
      // What names no language leaves the default.
      {{{"LANG", "C.UTF-8"}}, {"en-US"}},
      {{{"LANG", "POSIX"}}, {"en-US"}},
      {{}, {"en-US"}},
      {{{"LANG", "../../etc"}}, {"en-US"}},
      {{{"LANG", "fr_F1.UTF-8"}}, {"fr"}},
  };
  for (const Case& c : cases) {
    environment = c.env;
    std::string trace;
    for (const auto& [name, value] : c.env) trace += name + "=" + value + " ";
    SCOPED_TRACE(trace);
    EXPECT_EQ(desktop::PreferredLanguages(FromTable), c.tags);
  }
  environment.clear();
}

}  // namespace
}  // namespace zept
