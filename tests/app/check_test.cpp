// zept --check run end to end on packages made here, one of each kind and
// each refusal: the exact lines, the exit status, no window and nothing
// stored.

#include <gtest/gtest.h>

#include <chrono>

#include "app/package_harness.h"

namespace zept {
namespace {

using test::As;
using test::Files;
namespace fs = std::filesystem;

class ZeptCheck : public ::testing::Test {
 protected:
  test::Scratch scratch;
  fs::path home = scratch.root() / "home";
  int made = 0;

  void SetUp() override { fs::create_directories(home); }
  // Nothing is stored: no data folder appears.
  void TearDown() override { EXPECT_FALSE(fs::exists(home / "data")); }

  fs::path write(const Files& files, As as) {
    return test::Write(scratch.root() / ("p" + std::to_string(made++)), files,
                       as);
  }
  test::Run check(const fs::path& path) {
    return test::RunZept(home, "--check '" + path.string() + "'");
  }
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

TEST_F(ZeptCheck, SaysWhatEachKindIsAndWhatCannotPlayOffline) {
  struct Case {
    const char* name;
    Files files;
    std::vector<std::string> lines;
  };
  Files missing = test::Scorm12Package();
  missing.erase("two/index.html");
  const std::string remote = "https://lms.example.org/golf/story.html";
  for (const Case& c : std::vector<Case>{
           {"SCORM 1.2",
            test::Scorm12Package(),
            {"kind: SCORM 1.2 package", "title: Lifting",
             "items: 3, launchable: 2", "offline: 2 of 2 playable"}},
           {"SCORM 1.2, a launch file missing",
            missing,
            {"kind: SCORM 1.2 package", "title: Lifting",
             "items: 3, launchable: 2", "offline: 1 of 2 playable",
             "not offline: item two: its launch file two/index.html is "
             "missing"}},
           {"SCORM 2004",
            test::Scorm2004Package(),
            {"kind: SCORM 2004 package (2004 4th Edition)", "title: Golf",
             "activities: 2, launchable: 2", "offline: 2 of 2 playable"}},
           {"cmi5",
            test::Cmi5Package(),
            {"kind: cmi5 course", "title: Fire safety", "AUs: 2, blocks: 1",
             "offline: 1 of 2 playable",
             "not offline: AU https://example.org/courses/fire/au1: at "
             "https://lms.example.org/fire/quiz.html, a fully qualified "
             "URL"}},
           {"Tin Can",
            test::TinCanPackage(),
            {"kind: Tin Can package", "title: Golf",
             "activities: 2, launchable: 1", "offline: 1 of 1 playable"}},
           {"Tin Can at a URL",
            {{"tincan.xml", test::TinCanXml(remote)}},
            {"kind: Tin Can package", "title: Golf",
             "activities: 2, launchable: 1", "offline: 0 of 1 playable",
             "not offline: activity http://example.org/tincan/golf: at " +
                 remote + ", a fully qualified URL"}},
           {"a manifest's fault that leaves the rest playable",
            {{"imsmanifest.xml",
              [] {
                std::string manifest = test::Scorm12Manifest();
                const std::string r2 = "identifierref=\"r2\"";
                manifest.replace(manifest.find(r2), r2.size(),
                                 "identifierref=\"r9\"");
                return manifest;
              }()},
             {"one.html", ""}},
            {"kind: SCORM 1.2 package", "title: Lifting",
             "items: 3, launchable: 1", "offline: 1 of 1 playable",
             "note: imsmanifest.xml: line 6: item two names resource r9, "
             "which is missing"}},
       }) {
    for (const As as : {As::kFolder, As::kZip}) {
      SCOPED_TRACE(std::string(c.name) + (as == As::kZip ? " zip" : ""));
      const test::Run run = check(write(c.files, as));
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.out, Lines(c.lines));
      EXPECT_EQ(run.err, "");
    }
  }
}

// What a launch page loads as it opens that offline it cannot is said,
// once per page and reference: from the network, or a file the package
// lacks. Links, data, what a script fills in and what comments and scripts
// hold are not looked for; a file in another case is found as the window
// finds it.
TEST_F(ZeptCheck, SaysWhatALaunchPageLoadsThatOfflineItCannot) {
  const std::string page =
      "<html><head>\n"
      "<script src=\"https://cdn.example.org/jquery.js\"></script>\n"
      "<SCRIPT SRC='//fonts.example.org/f.js'></SCRIPT>\n"
      "<script>var s = \"<img src='https://nope.example.org/x.png'>\";"
      "</script>\n"
      "<!-- <img src=\"gone-in-a-comment.png\"> -->\n"
      "<link rel=\"stylesheet\" href=\"css/site.css?v=2\">\n"
      "<link rel=\"canonical\" href=\"https://example.org/golf\">\n"
      "<script src=lib/player.js></script>"
      "<script src=\"lib/player.js\"></script>\n"
      "</head><body><img src=\"img/Logo.PNG\">"
      "<img src=\"data:image/png;base64,AA\">"
      "<a href=\"https://example.org/more\">more</a><img src=\"{{picture}}\">"
      "<iframe src=\"../outside.html\"></iframe>"
      "<video poster=\"media/p%20one.jpg\"></video>"
      "<img src=\"img/none.png\"><img src=\"img/none.png\">"
      "</body></html>";
  const std::vector<std::string> notes = {
      "note: PAGE: needs the network: https://cdn.example.org/jquery.js",
      "note: PAGE: needs the network: //fonts.example.org/f.js",
      "note: PAGE: missing: DIRcss/site.css",
      "note: PAGE: missing: ../outside.html",
      "note: PAGE: missing: DIRimg/none.png",
  };
  struct Case {
    const char* name;
    Files files;
    std::string page;  // the launch page
    std::vector<std::string> head;
  };
  Files tinCan = test::TinCanPackage();
  Files cmi5 = test::Cmi5Package();
  Files scorm = test::Scorm12Package();
  for (const Case& c : std::vector<Case>{
           {"Tin Can",
            tinCan,
            "story.html",
            {"kind: Tin Can package", "title: Golf",
             "activities: 2, launchable: 1", "offline: 1 of 1 playable"}},
           {"cmi5",
            cmi5,
            "intro/index.html",
            {"kind: cmi5 course", "title: Fire safety", "AUs: 2, blocks: 1",
             "offline: 1 of 2 playable",
             "not offline: AU https://example.org/courses/fire/au1: at "
             "https://lms.example.org/fire/quiz.html, a fully qualified "
             "URL"}},
           {"SCORM 1.2",
            scorm,
            "two/index.html",
            {"kind: SCORM 1.2 package", "title: Lifting",
             "items: 3, launchable: 2", "offline: 2 of 2 playable"}},
       }) {
    SCOPED_TRACE(c.name);
    const std::string dir = c.page.substr(0, c.page.rfind('/') + 1);
    Files files = c.files;
    files[c.page] = page;
    files[dir + "lib/player.js"] = "";
    files[dir + "img/logo.png"] = "";
    files[dir + "media/p one.jpg"] = "";
    std::vector<std::string> lines = c.head;
    for (std::string note : notes) {
      note.replace(note.find("PAGE"), 4, c.page);
      if (const std::size_t at = note.find("DIR"); at != std::string::npos)
        note.replace(at, 3, dir);
      if (!dir.empty() && note.ends_with("../outside.html"))
        note.replace(note.rfind("../outside.html"), 15, "outside.html");
      lines.push_back(note);
    }
    const test::Run run = check(write(files, As::kFolder));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Lines(lines));
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ZeptCheck, SaysWhatAShellCourseAndABareCmi5XmlAre) {
  const test::Run shell = check(write(test::ShellCourse(), As::kFolder));
  EXPECT_EQ(shell.status, 0);
  EXPECT_EQ(
      shell.out,
      Lines({"kind: course of the zept shell", "title: Fire safety at work",
             "items: 3, launchable: 2", "offline: 2 of 2 playable"}));

  const fs::path bare = scratch.root() / "bare" / "cmi5.xml";
  test::WriteFile(bare, test::Cmi5Xml({"https://lms.example.org/a.html",
                                       "https://lms.example.org/b.html"}));
  const test::Run run = check(bare);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Lines({"kind: cmi5 course", "title: Fire safety",
                            "AUs: 2, blocks: 1", "offline: 0 of 2 playable",
                            "not offline: AU https://example.org/courses/"
                            "fire/au0: at https://lms.example.org/a.html, a "
                            "fully qualified URL",
                            "not offline: AU https://example.org/courses/"
                            "fire/au1: at https://lms.example.org/b.html, a "
                            "fully qualified URL"}));
}

TEST_F(ZeptCheck, PrintsTheFaultAndFails) {
  struct Case {
    const char* name;
    fs::path path;
    std::string message;  // after "zept: " and the path
  };
  Files noAu = test::Cmi5Package();
  noAu.erase("intro/index.html");
  Files shellWithoutCode = test::ShellCourse();
  shellWithoutCode.erase("bin/flash.ocx");
  const fs::path notZip = scratch.root() / "not.zip";
  test::WriteFile(notZip, "just text");
  for (const Case& c : std::vector<Case>{
           {"not a zip", notZip, "': Not a zip archive"},
           {"nothing zept plays", write({{"index.html", ""}}, As::kZip),
            " is not a package zept plays: it has no imsmanifest.xml, "
            "cmi5.xml or tincan.xml"},
           {"an AU file missing", write(noAu, As::kZip),
            ": cmi5.xml: line 4: au url 'intro/index.html' names a file the "
            "package lacks"},
           {"nothing to launch",
            write({{"tincan.xml", "<tincan><activities/></tincan>"}},
                  As::kFolder),
            ": tincan.xml: line 1: no activity has a <launch>: there is "
            "nothing to play"},
           {"a course structure of an early cmi5 draft",
            write({{"cmi5.xml",
                    "<courseStructure xmlns=\"http://aicc.org/CMI5/"
                    "CourseStructure.xsd\"/>"}},
                  As::kFolder),
            ": cmi5.xml: the document is not a cmi5 course structure: its "
            "<courseStructure> is of the namespace "
            "http://aicc.org/CMI5/CourseStructure.xsd, an early cmi5 draft's, "
            "not of https://w3id.org/xapi/profiles/cmi5/v1/"
            "CourseStructure.xsd"},
           {"a shell course without its code",
            write(shellWithoutCode, As::kFolder),
            " is a course of the zept shell without bin/flash.ocx: it cannot "
            "play"},
       }) {
    SCOPED_TRACE(c.name);
    const test::Run run = check(c.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::string prefix = c.name == std::string("not a zip")
                                   ? "zept: cannot open package '"
                                   : "zept: ";
    EXPECT_EQ(run.err, prefix + c.path.string() + c.message + "\n");
  }
}

TEST_F(ZeptCheck, UsageErrors) {
  const fs::path path = write(test::Scorm12Package(), As::kFolder);
  struct Case {
    std::string args;
    std::string firstLine;
  };
  for (const Case& c : std::vector<Case>{
           {"--mode fast '" + path.string() + "'",
            "zept: --mode takes normal, browse or review, not 'fast'"},
           {"--check '" + path.string() + "' '" + path.string() + "'",
            "zept: --check takes one package"},
       }) {
    SCOPED_TRACE(c.args);
    const test::Run run = test::RunZept(home, c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.firstLine);
    EXPECT_NE(run.err.find("usage: zept"), std::string::npos);
  }
}

TEST_F(ZeptCheck, AThousandAuCourseChecksWellWithinASecond) {
  std::vector<std::string> urls;
  Files files;
  for (int i = 0; i < 1000; ++i) {
    urls.push_back("au" + std::to_string(i) + ".html");
    files[urls.back()] = "";
  }
  files["cmi5.xml"] = test::Cmi5Xml(urls);
  const fs::path path = write(files, As::kZip);
  const fs::path small = write(test::Scorm12Package(), As::kZip);
  // The program's own start (its libraries loaded) is measured apart: what
  // the course's size adds is the check's.
  const auto timed = [this](const fs::path& package, test::Run& run) {
    const auto start = std::chrono::steady_clock::now();
    run = check(package);
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
  };
  test::Run run, baseline;
  const auto took = timed(path, run);
  const auto start = timed(small, baseline);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(baseline.status, 0);
  EXPECT_NE(run.out.find("AUs: 1000, blocks: 1\noffline: 1000 of 1000"),
            std::string::npos);
  EXPECT_LT(took - start, std::chrono::milliseconds(500));
  std::printf("zept --check of 1,000 AUs: %lld ms, of 2 items: %lld ms\n",
              static_cast<long long>(took.count()),
              static_cast<long long>(start.count()));
}

}  // namespace
}  // namespace zept
