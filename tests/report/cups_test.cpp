// Printing through a real CUPS scheduler: the test starts its own cupsd on a
// socket in a temporary folder, with a queue whose backend keeps each job's
// document in a folder, and prints a report to it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/printer.h"
#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "platform/posix/posix.h"
#include "report/ReportPrinter.h"
#include "shell/shell_fixture.h"
#include "util/fake_env.h"

namespace zept {
namespace {

namespace fs = std::filesystem;

class Scheduler {
 public:
  Scheduler() {
    char pattern[] = "/tmp/zept-cups-XXXXXX";
    root_ = ::mkdtemp(pattern);
    for (const char* dir :
         {"spool", "tmp", "cache", "state", "log", "lib/backend", "out"}) {
      fs::create_directories(root_ / dir);
    }
    fs::permissions(root_ / "out", fs::perms::all);
    fs::create_directory_symlink("/usr/lib/cups/daemon", root_ / "lib/daemon");
    std::ofstream(root_ / "cupsd.conf")
        << "Listen " << socket()
        << "\nLogLevel warn\nWebInterface No\nBrowsing No\n"
        << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        << "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
        << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  "
           "</Limit>\n</Policy>\n";
    std::ofstream(root_ / "cups-files.conf")
        << "ServerRoot " << root_.string() << "\nServerBin "
        << (root_ / "lib").string() << "\nRequestRoot "
        << (root_ / "spool").string() << "\nTempDir "
        << (root_ / "tmp").string() << "\nCacheDir "
        << (root_ / "cache").string() << "\nStateDir "
        << (root_ / "state").string() << "\nErrorLog "
        << (root_ / "log/error_log").string()
        << "\nAccessLog none\nPageLog none\n"
        << "Sandboxing Relaxed\n";
    const fs::path backend = root_ / "lib/backend/capture";
    std::ofstream(backend)
        << "#!/bin/sh\n"
        << "[ $# -eq 0 ] && { echo 'file capture \"Unknown\" \"Capture\"'; "
           "exit 0; }\n"
        << "out=\"${DEVICE_URI#capture:}\"\n"
        << "if [ -n \"$6\" ]; then cat \"$6\" > \"$out/job-$1.pdf\"; "
        << "else cat > \"$out/job-$1.pdf\"; fi\n";
    fs::permissions(backend, fs::perms::owner_all, fs::perm_options::replace);

    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string conf = (root_ / "cupsd.conf").string();
      const std::string files = (root_ / "cups-files.conf").string();
      ::execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s",
              files.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::setenv("CUPS_SERVER", socket().c_str(), 1);
    for (int i = 0; i < 600 && !fs::exists(socket()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Scheduler() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    ::unsetenv("CUPS_SERVER");
    fs::remove_all(root_);
  }

  std::string socket() const { return (root_ / "cups.sock").string(); }
  const fs::path& root() const { return root_; }
  int addQueue(const std::string& name) {
    const std::string command = "CUPS_SERVER=" + socket() + " lpadmin -p " +
                                name +
                                " -E -v capture:" + (root_ / "out").string() +
                                " -m raw >/dev/null 2>&1";
    return std::system(command.c_str());
  }
  // The documents the queue received, waiting up to half a minute for one
  // (seconds on a busy machine).
  std::vector<std::string> jobs() const {
    for (int i = 0; i < 600; ++i) {
      std::vector<std::string> found;
      for (const auto& entry : fs::directory_iterator(root_ / "out")) {
        std::ifstream in(entry.path(), std::ios::binary);
        found.emplace_back(std::istreambuf_iterator<char>(in),
                           std::istreambuf_iterator<char>());
      }
      if (!found.empty() && !found.front().empty()) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
  }

 private:
  fs::path root_;
  pid_t pid_ = -1;
};

TEST(CupsPrinting, AReportReachesTheSchedulersQueue) {
  if (::geteuid() != 0 || !fs::exists("/usr/sbin/cupsd")) {
    GTEST_SKIP() << "needs root and the CUPS scheduler";
  }
  Scheduler cups;
  ASSERT_TRUE(fs::exists(cups.socket())) << "cupsd did not start";
  auto printers = platform::NewCupsPrinters();
  EXPECT_TRUE(printers->destinations().empty());
  ASSERT_EQ(cups.addQueue("zeptq"), 0);
  EXPECT_EQ(printers->destinations(), std::vector<WideString>{u"zeptq"});

  testing::FakeEnv env;
  auto print = [](const WideString&) {};
  platform::HeadlessWindow window(800, 600, print);
  std::vector<std::string> transcript;
  platform::ScriptedDialogs dialogs([&transcript](const WideString& line) {
    transcript.push_back(WideToUtf8(line));
  });
  HeadlessHostFactory movies({env.ctx, print, dialogs, window, u"/app/"});

  PrinterReportSystem system(env.ctx, *printers);
  EXPECT_FALSE(system.printSetup(dialogs));  // cancelled: no answer queued
  dialogs.queue({true, u""});
  ASSERT_TRUE(system.printSetup(dialogs));
  EXPECT_EQ(system.destination(), u"zeptq");
  int printedPages = 0;
  system.onPrinted = [&](const WideString&, int pages) {
    printedPages = pages;
  };
  TReportPrinter printer({env.ctx, movies, u"/app/bin/"});
  printer.SetXml("<r><p>Printed through CUPS</p><pg/><p>Page two</p></r>");
  printer.SetReportSystem(&system);
  printer.SetMargins(0.5, 0.5, 0.5, 0.5);
  printer.Print();
  EXPECT_EQ(printedPages, 2);

  const std::vector<std::string> jobs = cups.jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].rfind("%PDF-", 0), 0u);
  EXPECT_NE(jobs[0].find("/Count 2"), std::string::npos);
  EXPECT_EQ(transcript, (std::vector<std::string>{
                            "dialog: print-setup", "dialog: answer cancel",
                            "dialog: print-setup", "dialog: answer ok "}));
}

TEST(FakePrinting, NoDestinationIsACancelAndRefusalsAreErrors) {
  testing::FakeEnv env;
  platform::FakePrinters printers;
  platform::ScriptedDialogs dialogs([](const WideString&) {});
  PrinterReportSystem system(env.ctx, printers);
  dialogs.queue({true, u""});
  EXPECT_FALSE(system.printSetup(dialogs));
  printers.names = {u"office"};
  printers.refuse = true;
  dialogs.queue({true, u""});
  ASSERT_TRUE(system.printSetup(dialogs));
  EXPECT_THROW(system.execute([](ReportCanvas&) {}), std::exception);
  printers.refuse = false;
  system.execute([](ReportCanvas& c) { c.printText(1, 1, "x"); });
  ASSERT_EQ(printers.jobs.size(), 1u);
  EXPECT_EQ(printers.jobs[0].title, u"ReportPrinter Report");
}

}  // namespace
}  // namespace zept

namespace zept {
namespace {

// The shell's "PrintReport" command, through the print setup dialog, onto
// the scheduler's queue.
TEST(CupsPrinting, PrintReportCommandReachesTheQueue) {
  if (::geteuid() != 0 || !fs::exists("/usr/sbin/cupsd")) {
    GTEST_SKIP() << "needs root and the CUPS scheduler";
  }
  Scheduler cups;
  ASSERT_TRUE(fs::exists(cups.socket())) << "cupsd did not start";
  ASSERT_EQ(cups.addQueue("shellq"), 0);
  auto printers = platform::NewCupsPrinters();

  testing::ShellEnv env;
  env.addCourse(1);
  TFormZept form(TFormZept::Services{env.ctx,
                                     env.window,
                                     env.movies,
                                     env.timers,
                                     env.dialogs,
                                     nullptr,
                                     *printers,
                                     env.shell,
                                     {8.5, 11},
                                     env.print},
                 testing::ShellEnv::kFolder);
  form.FormShow();
  form.menuCommand(u"PrintReport", u"<export><p>cancelled</p></export>");
  env.dialogs.queue({true, u""});
  form.menuCommand(u"PrintReport",
                   u"<export><p>From the menu movie</p></export>");
  EXPECT_TRUE(env.said("print: shellq 1"));
  const std::vector<std::string> jobs = cups.jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].rfind("%PDF-", 0), 0u);
}

}  // namespace
}  // namespace zept
