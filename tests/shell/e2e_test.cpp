// End to end: build/zept --headless on course folders made in a temporary
// folder from the demo course, checked through the transcript and the files
// it stores.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "lrs/lrs_server.h"
#include "platform/codepage.h"
#include "platform/posix/posix.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ZeptRun : public ::testing::Test {
 protected:
  fs::path root;
  fs::path course;

  void SetUp() override {
    char pattern[] = "/tmp/zept-e2e-XXXXXX";
    root = ::mkdtemp(pattern);
    fs::create_directory(root / "run");
    course = root / "course";
    fs::copy(ZEPT_SOURCE_DIR "/examples/demo-course", course,
             fs::copy_options::recursive);
  }
  void TearDown() override { fs::remove_all(root); }

  void write(const std::string& relative, const std::string& text) {
    std::ofstream(course / relative, std::ios::binary) << text;
  }
  void menuScript(const std::string& steps) {
    write("cdrom/cdrom.swf.movie.xml", "<movie>" + steps + "</movie>");
  }
  // The command that plays folder headless, for this test's user.
  std::string zept(const fs::path& folder) const {
    return "HOME=" + root.string() +
           " XDG_RUNTIME_DIR=" + (root / "run").string() +
           " ZEPT_REGISTRY_DIR=" + (root / "registry").string() +
           " " ZEPT_BINARY " --headless --program-folder " + folder.string();
  }
  // Runs zept on the course (env: more variables for it); returns its
  // standard output and error.
  std::string run(int* status = nullptr, const std::string& env = "") {
    const std::string command = env + " " + zept(course) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
      out.append(buffer, n);
    const int rc = WEXITSTATUS(::pclose(pipe));
    if (status) *status = rc;
    return out;
  }
  std::string traceLog() {
    std::string all;
    for (const auto& entry :
         fs::recursive_directory_iterator(root / "Documents")) {
      if (entry.is_regular_file()) all += Slurp(entry.path());
    }
    return all;
  }
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(ZeptRun, DemoJourneyInFileMode) {
  int status = -1;
  const std::string out = run(&status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Has(out,
                  "window: 128 128 1024 768 border=none topmost=0 debug=0 "
                  "caption=Fire safety at work\n"));
  EXPECT_TRUE(Has(
      out, "GoToSCO : 1\ntrackinteractions : False\nmovie: " + course.string() +
               "/SCO_0001/player.swf?bAPIBased=1&tracking=SCORM12&"
               "sNavRequestValidContinue=true&sNavRequestValidPrevious=true&"
               "sSuspendData=&sLessonLocation=1&sLessonStatus=not%20attempted&"
               "bIsCDRom=1\n"));
  EXPECT_TRUE(Has(out,
                  "LMSSetValue : cmi.core.lesson_status;completed\nreturn: "
                  "<string>1</string>\n"));
  EXPECT_TRUE(Has(out, "movie: " + course.string() +
                           "/cdrom/cdrom.swf?sLogin=anna&sParam=back&"));
  EXPECT_TRUE(Has(out, "sendQuit : \n"));
  EXPECT_FALSE(Has(out, "idle"));
  EXPECT_FALSE(fs::exists(root / "fennick1"));  // the capture's folder is gone

  const std::string tracking =
      Slurp(course / "tracking/demo-course/anna/tracking.xml");
  EXPECT_TRUE(
      Has(tracking, "<lesson_location><![CDATA[page 4]]></lesson_location>"));
  EXPECT_TRUE(
      Has(tracking, "<suspend_data><![CDATA[q1=a,q2=c]]></suspend_data>"));
  EXPECT_TRUE(Has(Slurp(course / "tracking/demo-course/users.xml"),
                  "\t<user login=\"anna\" password=\"secret\" date=\""));
  // The screen of unit 1 and the results page, saved as PDF files.
  EXPECT_TRUE(
      Has(out, "dialog: answer ok " + course.string() + "/unit1-screen.pdf\n"));
  EXPECT_TRUE(Has(out, "Capture dans : "));
  EXPECT_EQ(Slurp(course / "unit1-screen.pdf").rfind("%PDF-", 0), 0u);
  EXPECT_EQ(Slurp(course / "results.pdf").rfind("%PDF-", 0), 0u);
  const std::string log = traceLog();
  EXPECT_TRUE(Has(log, "<div>zept &gt; Initialize</div>"));
  EXPECT_TRUE(Has(log, "<div>TFormZept.FormShow</div>"));
}

// The course the build makes, with real movies beside the movie scripts,
// plays headless as the example does.
TEST_F(ZeptRun, BuiltDemoCoursePlaysHeadless) {
  fs::remove_all(course);
  fs::copy(ZEPT_DEMO_COURSE, course, fs::copy_options::recursive);
  fs::remove_all(course / "tracking");  // a learner's, from a run by hand
  ASSERT_EQ(Slurp(course / "cdrom/cdrom.swf").substr(0, 3), "CWS");
  int status = -1;
  const std::string out = run(&status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Has(out, "open: " + course.string() + "/docs/guide.html\n"));
  EXPECT_FALSE(Has(out, "message: "));
  EXPECT_TRUE(Has(out, "sendQuit : \n"));
  EXPECT_TRUE(Has(Slurp(course / "tracking/demo-course/anna/tracking.xml"),
                  "<suspend_data><![CDATA[q1=a,q2=c]]></suspend_data>"));
  EXPECT_EQ(Slurp(course / "results.pdf").rfind("%PDF-", 0), 0u);
}

TEST_F(ZeptRun, RegistryModeResumesWhereTheLastRunStopped) {
  std::string menu = Slurp(course / "cdrom/cdrom.swf.movie.xml");
  menu.replace(menu.find(">file<"), 6, ">reg<");
  write("cdrom/cdrom.swf.movie.xml", menu);
  run();
  EXPECT_FALSE(fs::exists(course / "tracking"));
  const std::string second = run();
  EXPECT_TRUE(
      Has(second,
          "sSuspendData=&sLessonLocation=page%204&sLessonStatus=completed&"));
  EXPECT_TRUE(Has(second, "sLessonStatus = completed\n"));
  EXPECT_TRUE(Has(second, "<session id=\"2\""));
  const std::string db = Slurp(root / "registry/HKCU.db");
  EXPECT_TRUE(Has(db, "<lesson_status><![CDATA[completed]]></lesson_status>"));
}

// A learner whose login and course id are made of "..\" and a course whose
// movies write "\" paths everywhere: what the shell hands out is native,
// what the movies sent is echoed as sent, and everything stays in place.
TEST_F(ZeptRun, BackslashesNeverLeaveTheCoreAndNamesStayOneLevel) {
  menuScript(R"(<unless variable="sParam" equals="back">
    <fscommand command="SetTrackMode">file</fscommand>
    <fscommand command="SetTrackPath">[$APPLICATION]\data\a\b</fscommand>
    <fscommand command="SetTrackingId">..\..\evil</fscommand>
    <fscommand command="GetUserList"/>
    <externalcall name="AddUser"><arg>..\..\..\pwn;pw</arg></externalcall>
    <fscommand command="SetLogin">..\..\..\pwn</fscommand>
    <fscommand command="LMSLoad"/><fscommand command="LMSInitialize"/>
    <fscommand command="OnOpenDocument">docs\guide.txt</fscommand>
    <dialog answer="ok" file="out\notes.txt"/>
    <fscommand command="WriteTextFileAs">txt;notes\today.txt;hello</fscommand>
    <fscommand command="GoToSCO">1</fscommand>
  </unless><if variable="sParam" equals="back">
    <dialog answer="ok" file="results.pdf"/>
    <fscommand command="PrintDocument"><![CDATA[<export><img src=")" +
             course.string() + R"(\SCO_0001\screens\unit1.png"/>
      <mathml><math><mi>a\b</mi></math></mathml></export>]]></fscommand>
    <fscommand command="sendQuit"/></if>)");
  write("SCO_0001/player.swf.movie.xml", R"(<movie>
    <fscommand command="LMSSetValue">cmi.core.lesson_status;completed</fscommand>
    <fscommand command="OnOpenDocument">docs\unit.txt</fscommand>
    <dialog answer="ok" file="screen.pdf"/>
    <fscommand command="sendPrintPagePDF"/>
    <fscommand command="sendGoToHome"/></movie>)");
  fs::create_directories(course / "docs");
  fs::create_directories(course / "SCO_0001/docs");
  write("docs/guide.txt", "");
  write("SCO_0001/docs/unit.txt", "");
  const std::string out = run();

  std::map<std::string, int> seen;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    for (const char* prefix : {"movie: ", "open: ", "Capture dans : ",
                               "dialog: answer ok ", "dialog: save "}) {
      if (line.rfind(prefix, 0) != 0) continue;
      ++seen[prefix];
      std::string handed = line.substr(std::string(prefix).size());
      if (handed.find(" name=") != std::string::npos)
        handed = handed.substr(handed.find(" name="));  // after ext and filter
      // A movie URL's query holds values, not the path: they are as sent.
      EXPECT_EQ(handed.substr(0, handed.find('?')).find('\\'),
                std::string::npos)
          << line;
    }
  }
  EXPECT_EQ(seen["movie: "], 6);  // menu, unit, capture, menu, picture, formula
  EXPECT_EQ(seen["open: "], 2);
  EXPECT_EQ(seen["Capture dans : "], 1);
  EXPECT_EQ(seen["dialog: save "], 3);
  EXPECT_EQ(seen["dialog: answer ok "], 3);
  EXPECT_FALSE(Has(out, "message: "));  // both documents were found
  EXPECT_TRUE(Has(out, "SetTrackPath : [$APPLICATION]\\data\\a\\b\n"));
  EXPECT_TRUE(Has(out, "cdrom.swf?sLogin=..\\..\\..\\pwn&sParam=back&"));
  EXPECT_TRUE(Has(out, "MathMLPlayer.swf?sMML=<math>\n  <mi>a\\b</mi>"));
  EXPECT_EQ(Slurp(course / "out/notes.txt"), "hello");
  EXPECT_EQ(Slurp(course / "screen.pdf").rfind("%PDF-", 0), 0u);

  const fs::path place = course / "data/a/b/%2E.%5C..%5Cevil";
  EXPECT_TRUE(Has(Slurp(place / "%2E.%5C..%5C..%5Cpwn/tracking.xml"),
                  "<lesson_status><![CDATA[completed]]></lesson_status>"));
  EXPECT_TRUE(Has(Slurp(place / "users.xml"),
                  "<user login=\"..\\..\\..\\pwn\" password=\"pw\""));
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name != "pwn" && name != "evil") << entry.path();
    if (name == "tracking.xml" || name == "users.xml") {
      EXPECT_EQ(entry.path().parent_path().string().rfind(place.string(), 0),
                0u);
    }
  }
}

// Two copies of the course whose menus both track anna in the same folder of
// her documents (or under the same registry key), each unit marking its
// session with the copy's name. While another process holds her store, a
// run tells her and stores nothing of hers; two runs at once keep every
// session of each run that was not told.
TEST_F(ZeptRun, OneLearnersStoreHasOneWriterAtATime) {
  struct Case {
    const char* mode;
    std::string lockName;
    // The stored trackings document; "" when there is none.
    std::function<std::string()> stored;
  };
  const fs::path trackingFile =
      root / "Documents/data/demo-course/anna/tracking.xml";
  const std::string key =
      "HKCU\\Software\\vardeno\\tracking\\demo-course\\anna";
  const Case cases[] = {
      {"file", (root / "Documents/data/demo-course/anna").string(),
       [&] { return Slurp(trackingFile); }},
      {"reg",
       (root / "registry/HKCU.db").string() +
           "\\SOFTWARE\\VARDENO\\TRACKING\\DEMO-COURSE\\ANNA",
       [&] {
         FILE* pipe =
             ::popen(("ZEPT_REGISTRY_DIR=" + (root / "registry").string() +
                      " " ZEPT_REG_BINARY " get '" + key + "' tracking")
                         .c_str(),
                     "r");
         std::string out;
         char buffer[4096];
         while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
           out.append(buffer, n);
         ::pclose(pipe);
         return out;
       }},
  };
  const std::string told =
      "message: This course is already open for \u201Canna\u201D elsewhere";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    std::string menu = Slurp(ZEPT_SOURCE_DIR
                             "/examples/demo-course/cdrom/cdrom.swf.movie.xml");
    const std::string place = "[$APPLICATION]\\tracking";
    menu.replace(menu.find(place), place.size(), "[$MYDOCUMENTS]\\data");
    menu.replace(menu.find(">file<"), 6, std::string(">") + c.mode + "<");
    write("cdrom/cdrom.swf.movie.xml", menu);
    const std::string unit = Slurp(course / "SCO_0001/player.swf.movie.xml");
    std::string outs[2];
    std::string commands;
    for (int i = 0; i < 2; ++i) {
      const fs::path copy = root / (std::string(c.mode) + std::to_string(i));
      fs::copy(course, copy, fs::copy_options::recursive);
      std::string marked = unit;
      marked.replace(marked.find("page 4"), 6, "copy " + std::to_string(i));
      std::ofstream(copy / "SCO_0001/player.swf.movie.xml") << marked;
      outs[i] = (copy / "out.txt").string();
      commands +=
          zept(copy) + " >" + outs[i] + " 2>&1" + (i == 0 ? " & " : "; wait");
    }

    {
      auto other = zept::platform::NewPosixLocks((root / "run/zept").string())
                       ->tryLock(zept::Utf8ToWide(c.lockName), 0);
      ASSERT_NE(other, nullptr);
      int status = -1;
      const std::string out = run(&status);
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(Has(out, told)) << out;
      EXPECT_TRUE(Has(out, "sendQuit : \n")) << out;  // the course still plays
      EXPECT_EQ(c.stored(), "");
      EXPECT_TRUE(Has(traceLog(), c.lockName + " is held by another process"));
    }

    ASSERT_EQ(std::system(commands.c_str()), 0);
    const std::string stored = c.stored();
    int kept = 0;
    for (int i = 0; i < 2; ++i) {
      const std::string out = Slurp(outs[i]);
      const bool refused = Has(out, told);
      kept += !refused;
      EXPECT_TRUE(Has(out, "sendQuit : \n")) << out;
      EXPECT_EQ(Has(stored, "<![CDATA[copy " + std::to_string(i) + "]]>"),
                !refused)
          << out;
    }
    EXPECT_GE(kept, 1);
    std::size_t sessions = 0;
    for (std::size_t at = 0;
         (at = stored.find("<session id=", at)) != std::string::npos; ++at)
      ++sessions;
    EXPECT_EQ(sessions, static_cast<std::size_t>(kept)) << stored;
  }
}

// The course's own results reach the LRS of the zept-lrs.conf beside it:
// the unit's statements, under the course of its tracking id. While the
// LRS is away they wait, and zept-sync sends them.
TEST_F(ZeptRun, ShellCourseResultsReachTheLrs) {
  if (auto why = zept::testing::LrsServer::missing(); !why.empty())
    GTEST_SKIP() << why;
  zept::testing::LrsServer lrs;
  lrs.start();
  write("zept-lrs.conf", "[lrs]\nendpoint=" + lrs.endpoint() + "\nusername=" +
                             lrs.key() + "\npassword=" + lrs.secret() +
                             "\nhomepage=https://learners.example.org\n"
                             "activity-base=https://courses.example.org/\n");
  write("SCO_0001/player.swf.movie.xml", R"(<movie>
    <fscommand command="LMSSetValue">cmi.core.lesson_status;passed</fscommand>
    <fscommand command="LMSSetValue">score;92</fscommand>
    <fscommand command="sendQuit"/></movie>)");
  const std::string env = "XDG_DATA_HOME=" + (root / "data").string() +
                          " XDG_CONFIG_HOME=" + (root / "config").string();

  lrs.stop();
  EXPECT_TRUE(Has(run(nullptr, env), "Results not sent yet: "));
  lrs.start();
  FILE* pipe = ::popen(
      ("HOME=" + root.string() + " " + env + " " ZEPT_SYNC_BINARY " 2>&1")
          .c_str(),
      "r");
  std::string sync;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    sync.append(buffer, n);
  ::pclose(pipe);
  EXPECT_TRUE(Has(sync, "sent 4, pending 0, refused 0\n")) << sync;

  const std::string out = run(nullptr, env);
  EXPECT_TRUE(Has(out, "Results: 4 statements sent to " + lrs.endpoint()))
      << out;
  std::multiset<std::string> verbs;
  for (const std::string& statement : lrs.statements()) {
    EXPECT_TRUE(
        Has(statement, "\"https://courses.example.org/demo-course/SCO1\""));
    EXPECT_TRUE(Has(statement, "\"name\":\"anna\""));
    const std::size_t at = statement.find("/expapi/verbs/") + 14;
    verbs.insert(statement.substr(at, statement.find('"', at) - at));
  }
  // One session each run.
  EXPECT_EQ(verbs, (std::multiset<std::string>{
                       "initialized", "initialized", "passed", "passed",
                       "scored", "scored", "terminated", "terminated"}));
}

TEST_F(ZeptRun, UntrackedJumpAndNavigation) {
  menuScript(R"(<fscommand command="GoToSCO">2;p1</fscommand>)");
  write("SCO_0002/player.swf.movie.xml",
        R"(<movie><fscommand command="sendPreviousSCO"/></movie>)");
  write(
      "SCO_0001/player.swf.movie.xml",
      R"(<movie><print variable="sLessonLocation"/><fscommand command="sendQuit"/></movie>)");
  const std::string out = run();
  EXPECT_TRUE(Has(out,
                  "/SCO_0002/player.swf?bAPIBased=1&tracking=SCORM12&"
                  "sNavRequestValidContinue=true&sNavRequestValidPrevious=true&"
                  "sSuspendData=%2526%253D%2526%253D%2526%253D%2526%253Dp1%"
                  "2526%253D%2526%253D&"
                  "sLessonLocation=p1&sLessonStatus=i&bIsCDRom=1\n"));
  EXPECT_FALSE(Has(out, "trackinteractions"));
  EXPECT_TRUE(Has(out, "sendPreviousSCO : \nmovie: "));
  EXPECT_TRUE(Has(out,
                  "/SCO_0001/player.swf?bAPIBased=1&tracking=SCORM12&"
                  "sNavRequestValidContinue=true&sNavRequestValidPrevious=true&"
                  "bIsCDRom=1\n"));
  EXPECT_TRUE(Has(out, "sLessonLocation = \n"));
}

TEST_F(ZeptRun, EventQueueWithTwoEventsAfterUndefined) {
  menuScript(R"(<set variable="API._sCommand">undefined</set>
    <fscommand command="SetTrackMode">file</fscommand>
    <fscommand command="SetTrackPath">[$APPLICATION]\t</fscommand>
    <fscommand command="GetUserList"/><fscommand command="GetUserList"/>
    <wait event="onUsersCompleteEvent"/><print variable="API._sCommand"/>
    <fscommand command="SetUserData">color;blue</fscommand>
    <fscommand command="GetUserData">color</fscommand><print variable="color"/>
    <fscommand command="SetSCO">two</fscommand><log>still running</log>)");
  int status = -1;
  const std::string out = run(&status);
  const std::string users =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- Utilisateur du cdrom "
      ": -->\r\n"
      "<users cdrom_id=\"\">\r\n</users>";
  EXPECT_TRUE(Has(out, "API._sCommand = onUsersCompleteEvent;" + users +
                           "|onUsersCompleteEvent;" + users + "\n"));
  EXPECT_TRUE(Has(out, "color = blue\n"));
  EXPECT_TRUE(
      Has(out, "error: 'two' is not a valid integer value\nstill running\n"));
  EXPECT_TRUE(Has(out, "\nidle\n"));
  EXPECT_EQ(status, 0);
}

TEST_F(ZeptRun, MovieNotYetLoadedLosesItsEvents) {
  write(
      "cdrom/cdrom.swf.movie.xml",
      R"(<movie readystate="2"><fscommand command="GetUserList"/><print variable="API._sCommand"/></movie>)");
  const std::string out = run();
  EXPECT_TRUE(Has(out, "API._sCommand = \n"));
  EXPECT_TRUE(Has(traceLog(), "<div>FlashPlayerControl.ReadyState=2</div>"));
}

TEST_F(ZeptRun, MissingPlayerCodeStopsTheProgram) {
  fs::remove(course / "bin/flash.ocx");
  int status = -1;
  const std::string out = run(&status);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(Has(out, "zept: cannot open file '" + course.string() +
                           "/bin/flash.ocx': No such file or directory"));
}

}  // namespace

namespace {

TEST(ZeptReport, RendersTheExampleAndRefusesBrokenXml) {
  char pattern[] = "/tmp/zept-report-e2e-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  auto run = [](const std::string& args, int* status) {
    FILE* pipe = ::popen(
        (std::string(ZEPT_REPORT_BINARY " ") + args + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[1024];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
      out.append(buffer, n);
    *status = WEXITSTATUS(::pclose(pipe));
    return out;
  };
  int status = -1;
  run(std::string(ZEPT_SOURCE_DIR "/examples/report/results.xml ") +
          (dir / "ok.pdf").string(),
      &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Slurp(dir / "ok.pdf").rfind("%PDF-", 0), 0u);

  std::ofstream(dir / "bad.xml") << "<export><p>never closed</export>";
  const std::string out = run(
      (dir / "bad.xml").string() + " " + (dir / "bad.pdf").string(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(Has(out, "zept-report: the report is not well-formed XML: "));
  EXPECT_FALSE(fs::exists(dir / "bad.pdf"));

  std::ofstream(dir / "empty.xml") << "";
  run((dir / "empty.xml").string() + " " + (dir / "empty.pdf").string(),
      &status);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(fs::exists(dir / "empty.pdf"));
  fs::remove_all(dir);
}

}  // namespace
