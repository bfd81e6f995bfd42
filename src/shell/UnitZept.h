#pragma once
// The main window's logic: start-up, the launch settings, the menu and
// course movies with their start parameters, the two command vocabularies
// and the calls into the movies.

#include <memory>
#include <vector>

#include "moviehost/moviehost.h"
#include "platform/dialogs.h"
#include "platform/printers.h"
#include "platform/shell_open.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "report/surface.h"
#include "tracking/lms.h"
#include "util/arraylib.h"

namespace zept {

class TFormZept {
 public:
  struct Services {
    Context& ctx;
    platform::Window& window;
    MovieHostFactory& movies;
    platform::Timers& timers;
    platform::Dialogs& dialogs;
    // Reports an error that left a command handler.
    std::function<void(const std::exception&)> reportError;
    platform::Printers& printers;
    platform::ShellOpen& shell;
    // The default paper of PDF files, inches.
    std::pair<double, double> paper{210 / 25.4, 297 / 25.4};
    // Transcript lines of the printer destination ("print: ...").
    std::function<void(const WideString&)> transcript;
  };

  // The main window's file-save dialog; it keeps its settings between uses.
  struct SaveDialogSettings {
    WideString DefaultExt;
    WideString Filter = u"XML|*.xml";
    WideString FileName;
    WideString InitialDir;
  };

  // Creates the window: runs FormCreate. programFolder ends with its
  // separator.
  TFormZept(Services services, WideString programFolder);
  ~TFormZept();

  void FormCreate();
  void FormShow();
  // The window is closing other than by "sendQuit" (the window manager's
  // close button, the end of the session): an open learner's session is
  // committed and finished as "sendQuit" does, so its progress is kept.
  void FormClose();
  // The movies were lost with what played them (the desktop's page ended):
  // an open learner's session is committed now, as "sendGoToHome" does;
  // true when there was one. RestartMenu then starts the menu movie again,
  // back at the learner's units when one is logged in.
  bool StoreOpenSession();
  void RestartMenu();
  void readLaunchIni(const WideString& path);
  void applyLaunchSetting(const WideString& key, const WideString& value);
  void ButtonBackZeptClick();

  // Movies (start parameters, navigation, the deferred swaps).
  void startMenuMovie(const WideString& param);
  // The window placed, sized and titled for the menu movie, as the launch
  // settings ask; startMenuMovie does it, and a front end that shows the
  // window before the menu can play does it first.
  void placeMenuWindow();
  void openSco(const WideString& numberText, const WideString& param);
  void openNextSco();
  void openPreviousSco();
  void scheduleCourseStart(const WideString& path, const WideString& param);
  void startCourseMovie(const WideString& path, const WideString& param);
  void scheduleCourseMovieDrop();
  void scheduleMenuMovieDrop();
  void dropCourseMovie();
  void dropMenuMovie();
  void TimerSWFTimer();
  void loadCourseLook(const WideString& scoFolder);
  WideString menuUrl(const WideString& param) const;
  WideString courseUrl(const WideString& folder, const WideString& param);

  // Documents, links, text files, print and PDF requests, the capture.
  void shellOpenDocument(const WideString& text);
  void openCourseDocument(const WideString& text);
  void writeTextToFile(const WideString& args);
  void writeTextToFileAs(const WideString& args);
  void writeText(const WideString& path, const WideString& text);
  void saveReportAsPdf(const WideString& xml);
  void printReportXml(const WideString& xml);
  void capturePageToPdf();
  SaveDialogSettings SaveDialog;

  // Commands and calls.
  void menuCommand(const WideString& command, const WideString& args);
  void courseCommand(const WideString& command, const WideString& args);
  void menuCall(const WideString& request);
  void courseCall(const WideString& request);
  // Replaces [$PROGRAMFILES], [$WINDOWS], [$ROOT], [$MYDOCUMENTS] and
  // [$APPLICATION] (case-sensitive, every occurrence).
  WideString expandPathMacros(const WideString& path);
  void storeUserData(const WideString& key, const WideString& value);
  WideString lookupUserData(const WideString& key) const;

  // Shell state.
  bool bDebug = false;
  int iScaleMode = 0;
  bool bFullScreen = true;
  int iWindowWidth = 790, iWindowHeight = 575;
  bool bStandardWindow = false;
  WideString sWindowTitle = u"fennick";
  bool bTopMost = false;
  int iOverrideLook = 0;
  WideString sLookBgColor;
  int iLookWidth = 0, iLookHeight = 0;
  bool bLookWindowed = false;
  int iLookScaleMode = 0;
  std::unique_ptr<MovieHost> MenuMovie, CourseMovie;
  bool bDropCourseMovie = false, bDropMenuMovie = false,
       bCourseStartPending = false;
  WideString sCoursePlayerPath, sCourseParam;
  TParcours Parcours;
  TLMSAPI Api;
  int iCurrentSco = -1;
  WideString sCurrentLogin, sCurrentLang;
  TWideStringArray UserDataKeys, UserDataValues;

  const WideString& programFolder() const { return programFolder_; }

 private:
  void journal(const WideString& line) { s_.window.appendJournal(line); }
  // The native form of a path the shell hands outside the core.
  WideString native(const WideString& path) const {
    return s_.ctx.platform.files.nativePath(path);
  }
  void enableTimer();
  std::unique_ptr<MovieHost> newMovie(bool menu);
  // Relative document texts are taken from base; links and drive paths
  // are left alone.
  WideString documentPath(const WideString& base, const WideString& text) const;
  // Links go to the shell as they are, paths in their native form.
  void openResolved(const WideString& target);
  // Shows the save dialog with its settings, its folder and file name in
  // their native form; true, with FileName set, on OK.
  bool executeSaveDialog();
  void printReport(const WideString& xml, ReportSystem& system);

  Services s_;
  WideString programFolder_;
  // Menu movies replaced by a newer one, freed at the next timer tick.
  std::vector<std::unique_ptr<MovieHost>> retiredMovies_;
};

// Decodes the XML character references of an ExternalInterface argument:
// the five entities and numeric references of any code.
WideString UnescapeXml(const WideString& text);

// Half-way values go to the even neighbour.
int RoundHalfEven(double value);

}  // namespace zept
