#pragma once
// One package played in the window: zept's screens and the SCO's pages in
// the movie page, what they send answered by the player, the learner's
// store lock, the periodic store, and every way out (Exit, closing the
// window, a signal, the page's process ending).

#include <glib.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/results_sender.h"
#include "app/test_channel.h"
#include "app/zept_package.h"
#include "desktop/entry_streams.h"
#include "desktop/gtk_dialogs.h"
#include "desktop/main_window.h"
#include "desktop/package_view.h"
#include "desktop/page.h"
#include "desktop/signals.h"
#include "package/manifest.h"
#include "platform/locks.h"
#include "scorm/player.h"
#include "scorm2004/definition.h"
#include "store/progress_store.h"

namespace zept::cmi5 {
struct Course;
class CoursePlayer;
}  // namespace zept::cmi5

namespace zept {

// A SCORM 2004 package (package2004 given) plays through scorm2004::Player,
// a cmi5 course (course given) through cmi5::CoursePlayer, any other through
// scorm::Player; the page learns which from ["start"].
class PackageSession {
 public:
  PackageSession(Context& ctx, desktop::MoviePage& page,
                 scorm::PackageFiles& files, const scorm::Manifest& manifest,
                 const scorm2004::Package2004* package2004,
                 scorm::ProgressStore& store, std::string key,
                 const PackageRunOptions& options,
                 std::function<void(const WideString&)> print,
                 const cmi5::Course* course = nullptr);
  ~PackageSession();
  PackageSession(const PackageSession&) = delete;
  PackageSession& operator=(const PackageSession&) = delete;

  // Shows the window and plays until it closes; the exit status.
  int run();
  // Said in a message box once the window shows (a damaged store set aside).
  std::string noticeAtStart;
  desktop::DesktopWindow& window() { return window_; }

 private:
  // A line for the journal and the trace log; text from the content in it
  // is escaped, so no page can write a line of its own.
  void note(const std::string& line);
  bool takeLearner(const std::string& login, std::string& why);
  // The package's own name of a file asked for, found regardless of case
  // when not as written.
  std::optional<std::string> locate(const std::string& asked);
  std::optional<desktop::MoviePage::PackageFile> packageFile(
      const std::string& asked);
  // What the page sent: a call of window.API, or one of zept's screens
  // (only with the secret of this page's own script).
  std::string received(const std::vector<std::string>& message);
  std::string screen(const std::vector<std::string>& message);
  std::string saveResults();
  // A file a page asked for that the package lacks: named once in the
  // journal, and listed in --strict's summary.
  void missingFile(const std::string& file, const std::string& page);
  // Asked when what the learner did could not be stored: true to try again.
  bool retryStore(const std::string& why);
  // Every way out: unloads the SCO's page, so that its own handlers reach
  // the runtime, stores, and closes the window.
  void finish(bool bySignal);
  // What the store could not take as the program ends by a signal, kept
  // where the next start of the course stores it first.
  void keepUnstored();
  // The window made as large as the content asks (its page's size with
  // the screens around it), up to the screen.
  void growTo(int width, int height);
  void recover();
  // Alt+P, Alt+N, Alt+M, Alt+X: the controls around a SCO, wherever the
  // focus is (a SCO's frame keeps the page's access keys from them).
  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
  // The desktop's theme changed: the screens take its contrast.
  static void OnTheme(GObject*, GParamSpec*, gpointer self);
  gulong themeWatch_ = 0;
  bool showPage();
  // Runs action once on the main loop, after ms.
  void later(void (*action)(PackageSession&), guint ms = 0);

  Context& ctx_;
  desktop::MoviePage& page_;
  scorm::PackageFiles& files_;
  const scorm::Manifest& manifest_;
  scorm::ProgressStore& store_;
  std::string key_;
  PackageRunOptions options_;
  std::function<void(const WideString&)> print_;
  desktop::DesktopWindow window_;
  desktop::GtkDialogs dialogs_;
  desktop::PackageViews views_;
  std::unique_ptr<scorm::PackagePlayer> player_;
  // The same player when it plays a cmi5 course: its AU talks to zept's LRS.
  cmi5::CoursePlayer* cmi5_ = nullptr;
  std::unique_ptr<platform::HeldLock> learnerLock_;
  std::unique_ptr<desktop::QuitSignals> signals_;
  std::string summaries_;
  // Files asked for and lacking, each with the page that first asked.
  std::map<std::string, std::string> missing_;
  std::map<std::string, std::string> byLowerName_;
  // The large files of a .zip, streamed to the page.
  desktop::EntryStreams streams_;
  GMainLoop* loop_ = nullptr;
  guint storeTimer_ = 0;
  // Sends the course's statements while the learner plays; none without
  // an LRS configured.
  std::unique_ptr<ResultsSender> sender_;
  guint senderTimer_ = 0;
  std::string resultsNote_;     // as the page shows it
  std::vector<guint> pending_;  // sources of later()
  bool leaving_ = false;
  bool bySignal_ = false;
  bool quitUnsaved_ = false;  // the learner chose to quit without saving
  // A signal ended the program with the learner's values not stored in
  // the data folder (kept elsewhere for the next start, if they could be).
  bool endedUnstored_ = false;
  // The key of zept's own screen script on the page now: learnt from its
  // first message, forgotten when the page starts again.
  std::string secret_;
  int refused_ = 0;  // screen messages refused, said in the journal
  // The SCO's own view lies over the screens, where they say its area is.
  GtkWidget* overlay_ = nullptr;
  GdkRectangle contentArea_{0, 0, 0, 0};
  bool contentShown_ = false;
  std::string contentLaunch_;  // the launch the content's view plays
  std::string contentItem_;    // and its item
  std::set<std::string> blocked_;  // origins named, per course
  void placeContent(const std::vector<std::string>& where);
  void contentView(WebKitWebView* view, bool placed);
  // Tells the screens what became of the content's launch.
  void tellContent(const std::string& what, const std::string& error = "",
                   const std::string& page = "");
  void contentSays(const std::vector<std::string>& said);
  // The conformance harness's channel (ZEPT_TEST_CHANNEL), else null.
  std::unique_ptr<TestChannel> test_;
  void testCommand(const std::vector<std::string>& fields);
  // The harness's view of a cmi5 AU's document (its result, its buttons).
  void addAuTestScript();
};

}  // namespace zept
