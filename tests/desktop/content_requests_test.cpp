#include "desktop/content_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zept::desktop {
namespace {

TEST(NamesMovie, FindsAMovieFileNamedInAPagesText) {
  const struct {
    const char* text;
    bool names;
  } cases[] = {
      {R"(swfobject.embedSWF("story.swf", "content"))", true},
      {"<embed src='Intro.SWF?v=2'>", true},
      {"data=\"movie.swf\"", true},
      {"ends with clip.swf", true},
      // A page that only looks for the plugin, to choose an output.
      {R"({"type":"flash","url":"index_lms_flash.html"})", false},
      {"<script src=\"swfobject.js\"></script>", false},
      {"a.swfx b.sw .swf", false},
      {"", false},
  };
  for (const auto& test : cases)
    EXPECT_EQ(NamesMovie(test.text), test.names) << test.text;
}

// Each step sets (text given) or reads a cookie as document.cookie does,
// for a learner and a page's path.
struct Step {
  std::string owner, path, text, read;
};

void Play(CookieJars& jars, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    if (!step.text.empty())
      jars.write(step.owner, step.path, step.text);
    else
      EXPECT_EQ(jars.read(step.owner, step.path), step.read)
          << step.owner << " at " << step.path;
  }
}

TEST(CookieJars, KeepEachLearnersCookiesAsABrowserDoes) {
  const std::string page = "/pkg/sco/index.html";
  const std::string other = "/pkg/quiz/index.html";
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"another learner reads none",
       {{"anna", page, "seen=1; path=/", ""},
        {"anna", other, "", "seen=1"},
        {"ben", page, "", ""},
        {"", page, "", ""}}},
      {"by path, the longer first",
       {{"anna", page, "everywhere=1; path=/", ""},
        {"anna", page, "here=2", ""},
        {"anna", page, "", "here=2; everywhere=1"},
        {"anna", other, "", "everywhere=1"}}},
      {"replaced, then removed by an expiry passed",
       {{"anna", page, "step=1; path=/", ""},
        {"anna", page, "step=2; path=/", ""},
        {"anna", page, "", "step=2"},
        {"anna", page, "step=; path=/; max-age=0", ""},
        {"anna", page, "", ""},
        {"anna", page, "old=1; path=/", ""},
        {"anna", page, "old=1; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT",
         ""},
        {"anna", page, "", ""}}},
      {"what a script may not set",
       {{"anna", page, "server=1; HttpOnly; path=/", ""},
        {"anna", page, "big=" + std::string(5000, 'x') + "; path=/", ""},
        {"anna", page, "", ""}}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    CookieJars jars;
    Play(jars, test.steps);
  }
}

TEST(CookieJars, ALearnerKeepsAtMostThreeHundredButMayChangeThem) {
  CookieJars jars;
  const std::string page = "/pkg/index.html";
  for (int i = 0; i < 300; ++i)
    jars.write("anna", page, "c" + std::to_string(i) + "=1; path=/");
  jars.write("anna", page, "extra=1; path=/");
  jars.write("anna", page, "c0=changed; path=/");
  const std::string all = jars.read("anna", page);
  EXPECT_EQ(all.find("extra="), std::string::npos);
  EXPECT_NE(all.find("c0=changed"), std::string::npos);
  jars.write("ben", page, "extra=1; path=/");
  EXPECT_EQ(jars.read("ben", page), "extra=1");
}

}  // namespace
}  // namespace zept::desktop
