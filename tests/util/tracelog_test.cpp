#include <gtest/gtest.h>

#include "platform/errors.h"
#include "util/fake_env.h"
#include "util/file_io.h"

namespace zept {
namespace {

using platform::RegistryRoot;
using testing::FakeEnv;

constexpr char kHead[] =
    "<html><head><link rel=\"stylesheet\" type=\"text/css\" "
    "href=\"traceslog.css\"/></head><body>\r\n"
    "<p>Traces du 06/12/2026 10:30:15</p>\r\n";
constexpr char kHistoryHead[] =
    "</table>\r\n"
    "<table class=\"history\">\r\n"
    "<tr><th>TIME</th><th>R</th><th>EXE</th><th>VERSION</th><th>CLASS</th>"
    "<th>FUNCTION</th><th>MESSAGE</th></tr>\r\n"
    "\r\n";

std::string Row(const std::string& cls, const std::string& time,
                const std::string& retry, const std::string& klass,
                const std::string& function, const std::string& message) {
  return "\t<tr class=\"" + cls + "\"><td class=\"col_t\"><div>" + time +
         "</div></td><td class=\"col_r\"><div>" + retry +
         "</div></td><td class=\"col_n\"><div>zept</div></td><td "
         "class=\"col_v\"><div>6.0.3.67</div></td><td class=\"col_c\"><div>" +
         klass + "</div></td><td class=\"col_f\"><div>" + function +
         "</div></td><td class=\"col_m\"><div>" + message +
         "</div></td></tr>\r\n";
}

// The part of a trace file after its head block.
std::string Rows(const std::string& log) {
  const std::size_t at = log.find(kHistoryHead);
  return at == std::string::npos ? "<no history table>"
                                 : log.substr(at + sizeof kHistoryHead - 1);
}

class TraceLogTest : public ::testing::Test, protected FakeEnv {
 protected:
  void setModeDebug(RegistryRoot root, const WideString& value) {
    fake.registry.writeString(root, u"\\Software\\vardeno\\Tesk Runtime",
                              u"ModeDebug", value);
  }
};

TEST_F(TraceLogTest, FirstRowOfTheDayCreatesFolderHeadBlockAndCleanUpRow) {
  TraceMessage(ctx, u"zept > Initialize");
  const std::string log = this->log();
  EXPECT_EQ(log.rfind(kHead, 0), 0u) << log.substr(0, 300);
  EXPECT_EQ(Rows(log), Row("niv_1 zept file_io InitTraceLog ", "10:30:15.250",
                           "100", "file_io", "InitTraceLog",
                           "Cleaning traces from traces_2026-11-06") +
                           Row("niv_1 zept   oldstyle", "10:30:15.250", "100",
                               "", "", "zept &gt; Initialize"));
  // Nothing closes the table, the body or the document.
  EXPECT_EQ(log.find("</body>"), std::string::npos);
}

TEST_F(TraceLogTest, RowsOfOneDayShareOneFile) {
  TraceMessage(ctx, u"one");
  fake.clock.time.second = 16;
  WriteTrace(ctx, u"TCourse", u"loadFromFile", u"a<b>c a&b \"q\"", 1,
             u"Warning");
  const std::string rows = Rows(log());
  EXPECT_NE(
      rows.find(Row("niv_1 zept TCourse loadFromFile Warning", "10:30:16.250",
                    "100", "TCourse", "loadFromFile", "a&lt;b&gt;c a&b \"q\"")),
      std::string::npos)
      << rows;
  EXPECT_EQ(log().find("<html>", 1), std::string::npos);
}

TEST_F(TraceLogTest, TextIsWrittenInTheAnsiCodePage) {
  TraceMessage(ctx, u"Défini € Ż");
  EXPECT_NE(log().find("<div>D\xE9"
                       "fini \x80 ?</div>"),
            std::string::npos);
}

TEST_F(TraceLogTest, ModeDebugSwitchesTheLog) {
  for (const WideString off : {u"0", u"-1", u"abc", u"1.5"}) {
    FakeEnv env;
    env.fake.registry.writeString(RegistryRoot::CurrentUser,
                                  u"\\Software\\vardeno\\Tesk Runtime",
                                  u"ModeDebug", off);
    TraceMessage(env.ctx, u"x");
    EXPECT_EQ(env.fake.files.fileCount(), 0u);
  }
  // The machine's value serves when the user has none; level 2 allows level 1.
  setModeDebug(RegistryRoot::LocalMachine, u"0");
  TraceMessage(ctx, u"x");
  EXPECT_EQ(log(), "");
  setModeDebug(RegistryRoot::CurrentUser, u"2");
  WriteTrace(ctx, u"c", u"f", u"level two", 2, u"");
  WriteTrace(ctx, u"c", u"f", u"level three", 3, u"");
  EXPECT_NE(log().find("level two"), std::string::npos);
  EXPECT_EQ(log().find("level three"), std::string::npos);
}

TEST_F(TraceLogTest, UnreadableRegistryMeansNoLog) {
  fake.registry.setBroken(true);
  TraceMessage(ctx, u"x");
  EXPECT_EQ(fake.files.fileCount(), 0u);
}

TEST_F(TraceLogTest, RowsAfterMidnightStartTheNextDaysFile) {
  fake.clock.time = {2026, 12, 6, 23, 59, 59, 999};
  TraceMessage(ctx, u"before");
  fake.clock.time = {2026, 12, 7, 0, 0, 0, 1};
  TraceMessage(ctx, u"after");
  EXPECT_NE(log(u"2026-12-06").find("before"), std::string::npos);
  EXPECT_EQ(log(u"2026-12-06").find("after"), std::string::npos);
  const std::string next = log(u"2026-12-07");
  EXPECT_EQ(next.rfind("<html>", 0), 0u);
  EXPECT_NE(Rows(next).find("Cleaning traces from traces_2026-11-07"),
            std::string::npos);
  EXPECT_NE(next.find("<div>00:00:00.001</div>"), std::string::npos);
}

TEST_F(TraceLogTest, CleanUpDeletesLogsOlderThanThirtyDays) {
  const WideString folder = kLogFolder;
  for (const WideString name :
       {u"traces_2026-11-05.htm", u"traces_2026-11-06.htm",
        u"traces_2026-10-01.txt", u"traces_2026-12-01.txt",
        u"notes_2020-01-01.htm", u"traces_2026-01-01.css"}) {
    fake.files.addFile(folder + u"\\" + name, "old");
  }
  fake.files.addDirectory(folder + u"\\traces_2000-01-01.htm");
  TraceMessage(ctx, u"x");
  const std::string rows = Rows(log());
  const std::string cleaning =
      Row("niv_1 zept file_io InitTraceLog ", "10:30:15.250", "100", "file_io",
          "InitTraceLog", "Cleaning traces from traces_2026-11-06");
  EXPECT_EQ(rows.rfind(cleaning +
                           Row("niv_1 zept file_io InitTraceLog ",
                               "10:30:15.250", "100", "file_io", "InitTraceLog",
                               "- Delete file  traces_2026-10-01.txt") +
                           Row("niv_1 zept file_io InitTraceLog ",
                               "10:30:15.250", "100", "file_io", "InitTraceLog",
                               "- Delete file  traces_2026-11-05.htm"),
                       0),
            0u)
      << rows;
  EXPECT_FALSE(fake.files.fileExists(folder + u"\\traces_2026-11-05.htm"));
  EXPECT_FALSE(fake.files.fileExists(folder + u"\\traces_2026-10-01.txt"));
  for (const WideString kept :
       {u"traces_2026-11-06.htm", u"traces_2026-12-01.txt",
        u"notes_2020-01-01.htm", u"traces_2026-01-01.css"}) {
    EXPECT_TRUE(fake.files.fileExists(folder + u"\\" + kept));
  }
  EXPECT_TRUE(fake.files.directoryExists(folder + u"\\traces_2000-01-01.htm"));
}

TEST_F(TraceLogTest,
       RetryCounterShowsAttemptsLeftAndRowsAreDroppedAfterAHundred) {
  TraceMessage(ctx, u"first");
  fake.files.failNextAppends(2);
  TraceMessage(ctx, u"third try");
  EXPECT_NE(log().find(Row("niv_1 zept   oldstyle", "10:30:15.250", "98", "",
                           "", "third try")),
            std::string::npos);
  fake.files.failNextAppends(100);
  const int before = fake.files.appendCalls();
  TraceMessage(ctx, u"dropped");
  EXPECT_EQ(fake.files.appendCalls() - before, 100);
  EXPECT_EQ(log().find("dropped"), std::string::npos);
}

TEST_F(TraceLogTest, FileAlreadyCreatedByAnotherInstanceGetsASecondBlock) {
  fake.files.addFile(WideString(kLogFolder) + u"\\traces_2026-12-06.htm", "");
  InitTraceLog(ctx);
  EXPECT_EQ(log().rfind("</table>\r\n<p>Traces du ", 0), 0u);
}

TEST_F(TraceLogTest, UncreatableFileEndsTheCallWithoutALog) {
  fake.files.failWritesUnder(kDocuments);
  TraceMessage(ctx, u"x");
  EXPECT_EQ(log(), "");
  EXPECT_FALSE(ctx.trace.creatingFile);
}

TEST_F(TraceLogTest, LogErrorMessageAndKind) {
  EFileError e("Disk full");
  LogError(ctx, e, u"file_io", u"ProtectPath", 403);
  EXPECT_NE(log().find(
                Row("niv_1 zept file_io ProtectPath Error", "10:30:15.250",
                    "100", "file_io", "ProtectPath",
                    "EFileError error 0403 raised, with message : Disk full ")),
            std::string::npos);
  std::runtime_error other("bad");
  LogError(ctx, other, u"api", u"tellFlashCommand", 15061505,
           u"GetVariable('API._sCommand')", 1, u"onX");
  EXPECT_NE(
      log().find(Row("niv_1 zept api tellFlashCommand onX Error",
                     "10:30:15.250", "100", "api", "tellFlashCommand",
                     "std::runtime_error error 15061505 raised, with message "
                     ": bad -- GetVariable('API._sCommand')")),
      std::string::npos);
}

TEST_F(TraceLogTest, TraceLogPathIsUnderMyDocuments) {
  EXPECT_EQ(
      TraceLogPath(ctx, {2026, 12, 6, 8}),
      u"C:\\Users\\u\\Documents\\var-deno\\zp\\logs\\traces_2026-12-06.htm");
}

}  // namespace
}  // namespace zept
