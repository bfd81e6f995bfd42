// The demo course generator: what it reads of the course package, that its
// movies come out the same every time with the stage they should have, and
// that the copy keeps what it does not make.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "democourse/demo_course.h"
#include "report/MediaConverter.h"
#include "swf/script.h"

namespace zept::democourse {
namespace {

namespace fs = std::filesystem;

const fs::path kCourse = ZEPT_SOURCE_DIR "/examples/demo-course";
const fs::path kScripts = ZEPT_SOURCE_DIR "/tools/democourse";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DemoCourseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zept-democourse-" + std::to_string(::getpid()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(DemoCourseTest, ReadsTheCoursePackage) {
  const CourseInfo course = ReadCourse(kCourse);
  EXPECT_EQ(course.title, "Fire safety at work");
  EXPECT_EQ(course.description, "A short demo course.");
  EXPECT_EQ(course.width, 1024);
  EXPECT_EQ(course.height, 768);
  ASSERT_EQ(course.units.size(), 3u);
  EXPECT_EQ(course.units[0].title, "Why fires start");
  EXPECT_EQ(course.units[1].title, "Unit 2: Raising the alarm");
  EXPECT_EQ(course.units[0].masteryScore, 80);
  EXPECT_EQ(course.units[1].masteryScore, 70);
  EXPECT_EQ(course.units[2].masteryScore, 0);
  EXPECT_EQ(course.units[2].width, 800);
  EXPECT_EQ(course.units[2].height, 600);
  EXPECT_EQ(course.units[2].background.b, 0x5F);

  try {
    ReadCourse(root_);
    FAIL() << "an empty folder is no course";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("imsmanifest.xml"), std::string::npos);
  }
}

TEST_F(DemoCourseTest, MoviesAreTheSameBytesEachTimeWithTheirStage) {
  WriteDemoCourse(kCourse, kScripts, root_ / "a");
  WriteDemoCourse(kCourse, kScripts, root_ / "b");
  const char* movies[] = {"cdrom/cdrom.swf", "SCO_0001/player.swf",
                          "SCO_0002/player.swf", "SCO_0003/player.swf"};
  for (const char* movie : movies) {
    SCOPED_TRACE(movie);
    const std::string bytes = Slurp(root_ / "a" / movie);
    EXPECT_EQ(bytes, Slurp(root_ / "b" / movie));
    TSWFStreamReader header;
    header.LoadFromBytes(bytes);
    ASSERT_TRUE(header.Valid);
    EXPECT_TRUE(header.Compressed);
    EXPECT_EQ(header.Version, 8);
    EXPECT_EQ(header.FrameRate, 24 << 8);
    EXPECT_EQ(header.FrameCount, 1);
    EXPECT_EQ(header.FileLength > bytes.size(), true);  // the inflated length
    const bool menu = std::string(movie) == "cdrom/cdrom.swf";
    EXPECT_EQ(header.FrameSize[2] / 20, menu ? 1024 : 800);
    EXPECT_EQ(header.FrameSize[3] / 20, menu ? 768 : 600);
  }
  // The rest of the package comes along: the movie scripts of the headless
  // player, the guide the menu opens.
  EXPECT_EQ(Slurp(root_ / "a/cdrom/cdrom.swf.movie.xml"),
            Slurp(kCourse / "cdrom/cdrom.swf.movie.xml"));
  EXPECT_TRUE(fs::exists(root_ / "a/docs/guide.html"));
}

TEST_F(DemoCourseTest, MakingAgainKeepsTheLearnersFiles) {
  const fs::path out = root_ / "course";
  WriteDemoCourse(kCourse, kScripts, out);
  fs::create_directories(out / "tracking/demo-course");
  std::ofstream(out / "tracking/demo-course/users.xml") << "<users/>";
  std::ofstream(out / "cdrom/cdrom.swf") << "stale";
  WriteDemoCourse(kCourse, kScripts, out);
  EXPECT_EQ(Slurp(out / "tracking/demo-course/users.xml"), "<users/>");
  EXPECT_EQ(Slurp(out / "cdrom/cdrom.swf").substr(0, 3), "CWS");
}

TEST_F(DemoCourseTest, ScriptErrorsNameTheirPieceAndLine) {
  MovieBuilder movie(100, 100, {});
  Screen& screen = movie.screen("only");
  movie.button(&screen, "ok", {0, 0, 50, 20}, "OK", "done();", {});
  movie.script("first.as", "function done() {}\n");
  movie.script("second.as", "var a = 1;\nvar b = ;\n");
  try {
    movie.bytes();
    FAIL() << "the second piece does not compile";
  } catch (const swf::ScriptError& e) {
    EXPECT_EQ(std::string(e.what()), "second.as: line 2: unexpected ';'");
  }
  EXPECT_THROW(movie.screen("only"), std::invalid_argument);
}

TEST(DemoCourseText, AsStringQuotesWhatTheScriptWouldRead) {
  EXPECT_EQ(AsString("say \"hi\"\\\n\tnow"), "\"say \\\"hi\\\"\\\\\\n\\tnow\"");
  // Compiled, the literal is the text again.
  swf::Assembler expected;
  expected.pushString("t").pushString("say \"hi\"\\\n\tnow").setVariable();
  EXPECT_EQ(swf::CompileScript("t = " + AsString("say \"hi\"\\\n\tnow") + ";")
                .bytes(),
            expected.bytes());
}

}  // namespace
}  // namespace zept::democourse
