// zept's own words in the learner's language, through GNU gettext. Courses'
// texts never go through here, nor do lines whose exact English other
// programs read (stored files, logs for course teams).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zept {

inline constexpr char kTextDomain[] = "zept";

// The catalog's text for msgid, or msgid itself when there is none (the C
// and English locales, or a catalog that lacks it).
const char* _(const char* msgid);

// Marks msgid for the catalog where it is defined; _() translates it where
// it is shown.
constexpr const char* N_(const char* msgid) { return msgid; }

// pattern with each "%s" replaced by the next of values, in order, and "%%"
// by "%": a translated sentence may put the values where its language needs
// them. A "%s" with no value left is dropped.
std::string Fill(std::string_view pattern,
                 std::initializer_list<std::string_view> values);

// Binds the "zept" domain to its catalogs and takes the messages locale
// from the environment (LC_ALL, LC_MESSAGES, LANG, LANGUAGE). The catalogs
// are looked for in ZEPT_LOCALE_DIR, then in "locale" beside the program
// (the build tree), then in share/locale of its installation. Returns the
// folder bound, "" when none was found (every text stays English).
std::string BindCatalogs(const std::string& programPath);

}  // namespace zept
