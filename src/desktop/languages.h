// The learner's languages as web content and courses ask for them, taken
// from the locale the way gettext takes it.
#pragma once

#include <string>
#include <vector>

typedef struct _WebKitWebContext WebKitWebContext;

namespace zept::desktop {

using GetEnvFunction = const char* (*)(const char* name);

// BCP 47 tags, most wanted first: "fr_FR.UTF-8" gives "fr-FR", then "fr".
// LANGUAGE (a colon-separated list) leads unless the locale is C or POSIX,
// as for gettext; then LC_ALL, LC_MESSAGES and LANG, the first one set.
// Never empty: "en-US" when the locale names no language.
std::vector<std::string> PreferredLanguages(GetEnvFunction getEnv = nullptr);

// Gives context the PreferredLanguages of this process: navigator.language
// and Accept-Language of every page it shows. Each context made must get it.
void SetPreferredLanguages(WebKitWebContext* context);

}  // namespace zept::desktop
