#include "shell/UnitZept.h"

#include <cmath>

#include "engine/pdf.h"
#include "engine/picture.h"
#include "engine/printer.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "report/ReportPrinter.h"
#include "shell/Course.h"
#include "shell/api.h"
#include "util/file_io.h"
#include "util/textlib.h"

namespace zept {
namespace {

constexpr int kTimerSWF = 1;
constexpr int kTimerInterval = 100;
const WideString kReturnValue = u"<string>1</string>";

int ScaleModeNumber(const WideString& name, int otherwise) {
  if (name == u"ShowAll") return 0;
  if (name == u"NoBorder") return 1;
  if (name == u"ExactFit") return 2;
  if (name == u"NoScale") return 3;
  return otherwise;
}

std::int32_t ToInt(const WideString& text) {
  std::optional<std::int32_t> value = StrToInt(text);
  if (!value)
    throw EConvertError("'" + WideToUtf8(text) +
                        "' is not a valid integer value");
  return *value;
}

// An attribute value that survives the report's ANSI text: markup escaped,
// and every character beyond ASCII as a numeric reference, so that a TEMP
// folder such as "/home/józef/tmp" or "/tmp/a&b" still names the picture.
WideString XmlAttributeText(const WideString& text) {
  WideString out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'&') {
      out += u"&amp;";
    } else if (c == u'<') {
      out += u"&lt;";
    } else if (c == u'>') {
      out += u"&gt;";
    } else if (c == u'"') {
      out += u"&quot;";
    } else if (c < 0x80) {
      out += c;
    } else {
      char32_t code = c;
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() &&
          text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        code = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
      }
      out += u"&#" + IntToStr(static_cast<std::int32_t>(code)) + u";";
    }
  }
  return out;
}

}  // namespace

int RoundHalfEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

TFormZept::TFormZept(Services services, WideString programFolder)
    : Api(services.ctx, Parcours),
      s_(std::move(services)),
      programFolder_(std::move(programFolder)) {
  Api.TellLearner = [this](const WideString& text) {
    s_.dialogs.showMessage(text);
  };
  enableTimer();  // enabled at creation; the first tick finds nothing to do
  FormCreate();
}

TFormZept::~TFormZept() = default;

void TFormZept::enableTimer() {
  s_.timers.start(kTimerSWF, kTimerInterval, [this] { TimerSWFTimer(); });
}

void TFormZept::FormCreate() {
  TraceMessage(s_.ctx, u"TFormZept.FormCreate");
  try {
    platform::FileSystem& fs = s_.ctx.platform.files;
    bDebug = fs.fileExists(programFolder_ + u"debug.txt") &&
             fs.directoryExists(programFolder_ + u".svn");
    readLaunchIni(programFolder_ + u"cdrom\\launch.ini");
    s_.window.setSizeable(bDebug || bStandardWindow);
  } catch (const std::exception& e) {
    TraceMessage(s_.ctx,
                 u"TFormZept.FormCreate - error : " + Utf8ToWide(e.what()));
  }
  // Parcours and Api exist whatever happened above.
  iCurrentSco = -1;
  sCurrentLogin.clear();
  sCurrentLang.clear();
}

void TFormZept::FormShow() {
  TraceMessage(s_.ctx, u"TFormZept.FormShow");
  try {
    s_.window.setBlack();
    s_.window.setDebugPanelVisible(bDebug);
    Parcours.LoadManifest(s_.ctx, programFolder_ + u"imsmanifest.xml");
    startMenuMovie(u"");
  } catch (const std::exception& e) {
    TraceMessage(s_.ctx,
                 u"TFormZept.FormShow - error : " + Utf8ToWide(e.what()));
  }
}

void TFormZept::FormClose() {
  TraceMessage(s_.ctx, u"TFormZept.FormClose");
  // Open: a learner logged in and a session begun but not yet finished.
  if (Api.Login.empty() || Api.CurrentSession <= 0) return;
  try {
    Api.LMSCommit();
    Api.LMSFinish();
  } catch (const std::exception& e) {
    TraceMessage(s_.ctx,
                 u"TFormZept.FormClose - error : " + Utf8ToWide(e.what()));
  }
}

bool TFormZept::StoreOpenSession() {
  TraceMessage(s_.ctx, u"TFormZept.StoreOpenSession");
  if (Api.Login.empty() || Api.CurrentSession <= 0) return false;
  try {
    Api.LMSCommit();
  } catch (const std::exception& e) {
    TraceMessage(s_.ctx, u"TFormZept.StoreOpenSession - error : " +
                             Utf8ToWide(e.what()));
    return false;
  }
  return true;
}

void TFormZept::RestartMenu() {
  CourseMovie.reset();
  MenuMovie.reset();
  retiredMovies_.clear();
  startMenuMovie(Api.Login.empty() ? WideString() : WideString(u"back"));
}

void TFormZept::readLaunchIni(const WideString& path) {
  iScaleMode = 0;
  bFullScreen = true;
  iWindowWidth = 790;
  iWindowHeight = 575;
  bStandardWindow = false;
  sWindowTitle = u"fennick";
  bTopMost = false;
  iOverrideLook = 0;
  if (!s_.ctx.platform.files.fileExists(path)) return;
  // readTextFile reads the ANSI text and ends every line with CR LF.
  for (const WideString& line : Explode(readTextFile(s_.ctx, path), u"\r\n")) {
    TWideStringArray pieces = Explode(line, u"=");
    if (pieces.size() < 2) continue;  // empty lines and lines without "="
    applyLaunchSetting(pieces[0], pieces[1]);
  }
}

void TFormZept::applyLaunchSetting(const WideString& key,
                                   const WideString& value) {
  if (key == u"ScaleMode") {
    iScaleMode = ScaleModeNumber(value, iScaleMode);
  } else if (key == u"FullScreen") {
    bFullScreen = value == u"1";
  } else if (key == u"WindowSize") {
    TWideStringArray pieces = Explode(value, u",");
    if (pieces.size() < 2) return;
    // The brackets are cut off unexamined: (800,600) and [800,600] alike.
    const WideString width =
        pieces[0].empty() ? pieces[0] : pieces[0].substr(1);
    const WideString height = pieces[1].empty()
                                  ? pieces[1]
                                  : pieces[1].substr(0, pieces[1].size() - 1);
    iWindowWidth = ToInt(width);
    iWindowHeight = ToInt(height);
  } else if (key == u"WindowStyle") {
    if (value == u"Standard") bStandardWindow = true;
  } else if (key == u"WindowTitle") {
    sWindowTitle = value;
  } else if (key == u"WindowZOrder") {
    if (value == u"Top") bTopMost = true;
  } else if (key == u"OverRideLook") {
    if (value == u"All")
      iOverrideLook = 1;
    else if (value == u"FullScreen")
      iOverrideLook = 2;
    else if (value == u"ScaleMode")
      iOverrideLook = 3;
    else if (value == u"Both")
      iOverrideLook = 4;
  }
}

void TFormZept::ButtonBackZeptClick() { startMenuMovie(u""); }

std::unique_ptr<MovieHost> TFormZept::newMovie(bool menu) {
  std::unique_ptr<MovieHost> movie = s_.movies.create();
  // An error leaving a command handler is reported, never fatal.
  auto guard = [this](auto&& action) {
    try {
      action();
    } catch (const std::exception& e) {
      if (s_.reportError) s_.reportError(e);
    }
  };
  if (menu) {
    movie->OnFSCommand = [this, guard](MovieHost&, const WideString& c,
                                       const WideString& a) {
      guard([&] { menuCommand(c, a); });
    };
    movie->OnFlashCall = [this, guard](MovieHost&, const WideString& r) {
      guard([&] { menuCall(r); });
    };
  } else {
    movie->OnFSCommand = [this, guard](MovieHost&, const WideString& c,
                                       const WideString& a) {
      guard([&] { courseCommand(c, a); });
    };
    movie->OnFlashCall = [this, guard](MovieHost&, const WideString& r) {
      guard([&] { courseCall(r); });
    };
  }
  movie->AllowScriptAccess = u"always";
  movie->Quality = 1;
  return movie;
}

WideString TFormZept::menuUrl(const WideString& param) const {
  return u"sLogin=" + sCurrentLogin + u"&sParam=" + PercentEncode(param) +
         u"&sLang=" + PercentEncode(sCurrentLang) + u"&sCdromPath=" +
         PercentEncode(programFolder_) + u"&sTitle=" +
         PercentEncode(Parcours.Title);
}

void TFormZept::startMenuMovie(const WideString& param) {
  const WideString path = programFolder_ + u"cdrom\\cdrom.swf";
  if (!s_.ctx.platform.files.fileExists(path)) return;
  scheduleCourseMovieDrop();
  if (MenuMovie) {
    // The earlier menu movie goes at the next tick, as a course movie does.
    MenuMovie->Visible = false;
    retiredMovies_.push_back(std::move(MenuMovie));
    enableTimer();
  }
  MenuMovie = newMovie(true);
  MenuMovie->ScaleMode = iScaleMode;
  MenuMovie->Width = s_.window.state().width;
  MenuMovie->Height = s_.window.state().height;
  MenuMovie->setMovie(native(path) + u"?" + menuUrl(param));
  placeMenuWindow();
  // The movie fills the window's client area, whatever size it now has.
  MenuMovie->Width = s_.window.state().width;
  MenuMovie->Height = s_.window.state().height;
}

void TFormZept::placeMenuWindow() {
  if (bTopMost) s_.window.makeTopMost();
  platform::Window& w = s_.window;
  if (bFullScreen) {
    w.setBounds(0, 0, w.screenWidth(), w.screenHeight());
  } else {
    w.setBounds(RoundHalfEven((w.screenWidth() - iWindowWidth) / 2.0),
                RoundHalfEven((w.screenHeight() - iWindowHeight) / 2.0),
                iWindowWidth, iWindowHeight);
  }
  w.setCaption(sWindowTitle);
}

void TFormZept::openSco(const WideString& numberText, const WideString& param) {
  if (numberText.empty()) return;
  iCurrentSco = StrToInt(numberText).value_or(-1);
  TSCO* sco = Parcours.GetSCO(static_cast<std::int64_t>(iCurrentSco) - 1);
  if (!sco) return;
  Api.CurrentSCO = iCurrentSco;
  const WideString path =
      programFolder_ + TSCO::FolderName(iCurrentSco) + u"\\player.swf";
  if (s_.ctx.platform.files.fileExists(path)) {
    scheduleCourseStart(path, param);
  } else {
    startMenuMovie(u"");
  }
}

void TFormZept::openNextSco() {
  iCurrentSco = iCurrentSco > 0 ? iCurrentSco + 1 : 1;
  openSco(IntToStr(iCurrentSco), u"");
}

void TFormZept::openPreviousSco() {
  if (iCurrentSco > 0) --iCurrentSco;
  openSco(IntToStr(iCurrentSco), u"");
}

void TFormZept::scheduleCourseStart(const WideString& path,
                                    const WideString& param) {
  if (!s_.ctx.platform.files.fileExists(ExtractFilePath(path) + u"player.swf"))
    return;
  bCourseStartPending = true;
  sCoursePlayerPath = path;
  sCourseParam = param;
  scheduleCourseMovieDrop();
  scheduleMenuMovieDrop();
}

void TFormZept::scheduleCourseMovieDrop() {
  bDropCourseMovie = true;
  enableTimer();
}

void TFormZept::scheduleMenuMovieDrop() {
  bDropMenuMovie = true;
  enableTimer();
}

void TFormZept::dropCourseMovie() {
  if (!CourseMovie) return;
  CourseMovie->Visible = false;
  CourseMovie.reset();
}

void TFormZept::dropMenuMovie() {
  if (!MenuMovie) return;
  MenuMovie->Visible = false;
  MenuMovie.reset();
}

void TFormZept::TimerSWFTimer() {
  s_.timers.stop(kTimerSWF);
  retiredMovies_.clear();
  if (bDropCourseMovie) {
    bDropCourseMovie = false;
    dropCourseMovie();
  }
  if (bDropMenuMovie) {
    bDropMenuMovie = false;
    dropMenuMovie();
  }
  if (bCourseStartPending) {
    bCourseStartPending = false;
    startCourseMovie(sCoursePlayerPath, sCourseParam);
    return;
  }
  sCoursePlayerPath.clear();
  sCourseParam.clear();
}

void TFormZept::loadCourseLook(const WideString& scoFolder) {
  TCourse course;
  course.loadFromFile(s_.ctx, scoFolder + u"_course\\course.xml");
  TLook look;
  look.loadFromFile(
      s_.ctx, programFolder_ + u"_shared\\" + course.Look + u"\\look.xml");
  sLookBgColor = look.BgColor;
  iLookWidth = look.Width;
  iLookHeight = look.Height;
  bLookWindowed = !look.FullScreen;
  iLookScaleMode = ScaleModeNumber(look.ScaleMode, 3);
  course.releaseRoot();
}

WideString TFormZept::courseUrl(const WideString& folder,
                                const WideString& param) {
  WideString url =
      native(folder + u"player.swf") + u"?bAPIBased=1&tracking=SCORM12&";
  const std::int64_t last = static_cast<std::int64_t>(Parcours.count()) - 1;
  if (last >= iCurrentSco) url += u"sNavRequestValidContinue=true&";
  if (iCurrentSco > 0) url += u"sNavRequestValidPrevious=true&";
  if (!Api.TrackingId.empty()) {
    const WideString location =
        param.empty() ? Api.LMSGetValue(u"cmi.core.lesson_location") : param;
    journal(u"trackinteractions : " +
            WideString(Api.TrackInteractions ? u"True" : u"False"));
    if (Api.TrackInteractions) url += u"bTrackInteractions=1&";
    url += u"sSuspendData=" +
           PercentEncodeLatin(Api.LMSGetValue(u"cmi.suspend_data")) + u"&";
    url += u"sLessonLocation=" + PercentEncodeLatin(location) + u"&";
    url += u"sLessonStatus=" +
           PercentEncodeLatin(Api.LMSGetValue(u"cmi.core.lesson_status")) +
           u"&";
  } else if (!param.empty()) {
    url += u"sSuspendData=" +
           PercentEncodeLatin(u"%26%3D%26%3D%26%3D%26%3D" + param + u"%26%3D" +
                              u"%26%3D") +
           u"&";
    url += u"sLessonLocation=" + PercentEncodeLatin(param) + u"&";
    url += u"sLessonStatus=i&";
  }
  return url + u"bIsCDRom=1";
}

void TFormZept::startCourseMovie(const WideString& path,
                                 const WideString& param) {
  const WideString folder = ExtractFilePath(path);
  if (!s_.ctx.platform.files.fileExists(folder + u"player.swf")) return;
  loadCourseLook(folder);
  platform::Window& w = s_.window;
  if (iOverrideLook != 1) {
    if (bFullScreen ||
        (bLookWindowed && iOverrideLook != 2 && iOverrideLook != 4)) {
      w.setBounds(0, 0, w.screenWidth(), w.screenHeight());
    } else {
      w.setBounds(RoundHalfEven(w.screenWidth() / 2.0 - iLookWidth / 2.0),
                  RoundHalfEven(w.screenHeight() / 2.0 - iLookHeight / 2.0),
                  iLookWidth, iLookHeight);
    }
  }
  CourseMovie = newMovie(false);
  CourseMovie->ScaleMode =
      (iOverrideLook == 1 || iOverrideLook == 3 || iOverrideLook == 4)
          ? iScaleMode
          : iLookScaleMode;
  CourseMovie->BGColor = sLookBgColor;
  CourseMovie->StandartMenu = true;
  CourseMovie->Width = w.state().width;
  CourseMovie->Height = w.state().height;
  const WideString url = courseUrl(folder, param);
  CourseMovie->setMovie(url);
  journal(url);
}

WideString TFormZept::expandPathMacros(const WideString& path) {
  Context& ctx = s_.ctx;
  const WideString application =
      programFolder_.substr(0, programFolder_.size() - 1);
  const std::pair<const char16_t*, WideString> macros[] = {
      {u"[$PROGRAMFILES]", GetProgramFilesFolder(ctx)},
      {u"[$WINDOWS]", GetWindowsFolder(ctx)},
      {u"[$ROOT]", GetSystemRoot(ctx)},
      {u"[$MYDOCUMENTS]", GetMyDocumentsFolder(ctx)},
      {u"[$APPLICATION]", application}};
  WideString result = path;
  for (const auto& [macro, value] : macros)
    result = ReplaceAll(result, macro, value);
  return result;
}

void TFormZept::storeUserData(const WideString& key, const WideString& value) {
  const int i = ArrayIndexOf(UserDataKeys, key);
  if (i < 0) {
    ArrayAdd(UserDataKeys, key);
    ArrayAdd(UserDataValues, value);
  } else {
    UserDataValues[static_cast<std::size_t>(i)] = value;
  }
}

WideString TFormZept::lookupUserData(const WideString& key) const {
  const int i = ArrayIndexOf(UserDataKeys, key);
  return i < 0 ? WideString() : UserDataValues[static_cast<std::size_t>(i)];
}

WideString TFormZept::documentPath(const WideString& base,
                                   const WideString& text) const {
  if (platform::HeadlessShellOpen::IsLink(text) ||
      (text.size() >= 2 && text[1] == u':')) {
    return text;
  }
  return base + ReplaceAll(text, u"/", u"\\");
}

void TFormZept::openResolved(const WideString& target) {
  const bool link = platform::HeadlessShellOpen::IsLink(target);
  if (std::optional<WideString> error =
          s_.shell.open(link ? target : native(target)))
    s_.dialogs.showMessage(*error);
}

void TFormZept::shellOpenDocument(const WideString& text) {
  if (text.empty()) return;  // nothing to open
  openResolved(documentPath(programFolder_, text));
}

void TFormZept::openCourseDocument(const WideString& text) {
  if (text.empty()) return;
  // The course movie's folder is already absolute: it is not taken from the
  // program folder a second time.
  openResolved(documentPath(ExtractFilePath(sCoursePlayerPath), text));
}

void TFormZept::writeTextToFile(const WideString& args) {
  TWideStringArray pieces = Explode(args, u";");
  if (pieces.empty()) return;
  const WideString path = pieces.front();
  ArrayDelete(pieces, 0);
  if (pieces.empty()) return;  // only a path: nothing to write
  writeText(path, Implode(pieces, u";"));
}

void TFormZept::writeTextToFileAs(const WideString& args) {
  TWideStringArray pieces = Explode(args, u";");
  if (pieces.size() < 2) return;  // no file name to propose
  SaveDialog.DefaultExt = pieces[0];
  SaveDialog.Filter = u"*." + pieces[0] + u"|*." + pieces[0];
  SaveDialog.FileName = pieces[1];
  ArrayDelete(pieces, 1);
  ArrayDelete(pieces, 0);
  const WideString text = Implode(pieces, u";");
  if (executeSaveDialog()) writeText(SaveDialog.FileName, text);
}

void TFormZept::writeText(const WideString& path, const WideString& text) {
  const WideString file = expandPathMacros(path);
  const WideString folder = ExtractFilePath(file);
  platform::FileSystem& fs = s_.ctx.platform.files;
  if (!folder.empty() && !fs.directoryExists(folder)) {
    try {
      fs.createDirectories(folder);
    } catch (const std::exception&) {
      // A folder that cannot be created: nothing is written.
    }
  }
  if (folder.empty() || fs.directoryExists(folder))
    writeTextFile(s_.ctx, WideToAnsi(text), file);
}

bool TFormZept::executeSaveDialog() {
  const platform::DialogAnswer answer = s_.dialogs.saveFile(
      SaveDialog.DefaultExt, SaveDialog.Filter, native(SaveDialog.FileName),
      native(SaveDialog.InitialDir));
  if (!answer.ok) return false;
  SaveDialog.FileName = answer.file;
  return true;
}

void TFormZept::printReport(const WideString& xml, ReportSystem& system) {
  TReportPrinter printer({s_.ctx, s_.movies, programFolder_ + u"bin\\"});
  printer.SetXml(WideToAnsi(xml));
  printer.SetReportSystem(&system);
  printer.SetMargins(0.5, 0.5, 0.5, 0.5);
  printer.Print();
}

void TFormZept::saveReportAsPdf(const WideString& xml) {
  SaveDialog.InitialDir = Api.TrackPath;
  SaveDialog.DefaultExt = u".pdf";
  SaveDialog.Filter = u"*.pdf|*.pdf";
  if (!executeSaveDialog() || SaveDialog.FileName.empty()) return;
  PdfReportSystem system(s_.ctx, s_.paper.first, s_.paper.second);
  system.DefaultDest = ReportDestination::File;
  system.AllowSetup = false;
  system.OutputFileName = SaveDialog.FileName;
  printReport(xml, system);
}

void TFormZept::printReportXml(const WideString& xml) {
  PrinterReportSystem system(s_.ctx, s_.printers);
  if (!system.printSetup(s_.dialogs)) return;
  system.DefaultDest = ReportDestination::Printer;
  system.AllowSetup = false;
  system.onPrinted = [this](const WideString& destination, int pages) {
    if (s_.transcript)
      s_.transcript(u"print: " + destination + u" " + IntToStr(pages));
  };
  printReport(xml, system);
}

void TFormZept::capturePageToPdf() {
  if (!CourseMovie) return;
  const Bitmap bitmap = CourseMovie->GetFrameBitmap();
  const WideString folder = CreateTempSubfolder(s_.ctx, u"fennick");
  if (folder.empty() || !s_.ctx.platform.files.directoryExists(folder)) return;
  // The folder goes whatever happens to the capture or the PDF.
  struct Cleanup {
    TFormZept& form;
    WideString folder;
    ~Cleanup() {
      DeleteFolder(form.s_.ctx, folder.substr(0, folder.size() - 1), true);
    }
  } cleanup{*this, folder};
  s_.ctx.platform.files.replaceFile(folder + u"capture.jpg",
                                    EncodeJpeg(bitmap, 100));
  journal(u"Capture dans : " + native(folder));
  saveReportAsPdf(u"<export><img src=\"" +
                  XmlAttributeText(native(folder) + u"capture.jpg") +
                  u"\"/></export>");
}

void TFormZept::menuCommand(const WideString& command, const WideString& args) {
  journal(command + u" : " + args);
  Context& ctx = s_.ctx;
  const TWideStringArray pieces = Explode(args, u";");
  if (command == u"sendQuit") {
    s_.window.close();
  } else if (command == u"GoToSCO") {
    if (pieces.size() == 1) openSco(pieces[0], u"");
    if (pieces.size() == 2) openSco(pieces[0], pieces[1]);
  } else if (command == u"OnOpenDocument") {
    shellOpenDocument(args);
  } else if (command == u"PrintDocument") {
    saveReportAsPdf(args);
  } else if (command == u"PrintReport") {
    printReportXml(args);
  } else if (command == u"LMSInitialize") {
    Api.LMSInitialize();
  } else if (command == u"LMSFinish") {
    Api.LMSFinish();
  } else if (command == u"LMSCommit") {
    Api.LMSCommit();
  } else if (command == u"LMSLoad") {
    Api.LMSLoad();
  } else if (command == u"SetTrackingId") {
    Api.TrackingId = args;
  } else if (command == u"SetLogin") {
    Api.Login = args;
    sCurrentLogin = args;
  } else if (command == u"SetSCO") {
    Api.CurrentSCO = ToInt(args);
  } else if (command == u"SetTrackInteractions") {
    Api.TrackInteractions = args == u"1" || args == u"true";
  } else if (command == u"SetTrackMode") {
    Api.StorageMode = args;
  } else if (command == u"SetTrackPath") {
    Api.TrackPath = expandPathMacros(args);
  } else if (command == u"GetTracking") {
    tellFlashCommand(ctx, MenuMovie.get(), u"onLoadTrackingCompleteEvent",
                     Api.BuildTrackingsXml());
  } else if (command == u"SetTrackHistory") {
    if (auto limit = StrToInt(args)) Api.HistoryLimit = *limit;
  } else if (command == u"WriteTextFile") {
    writeTextToFile(args);
  } else if (command == u"WriteTextFileAs") {
    writeTextToFileAs(args);
  } else if (command == u"SetUserData") {
    if (pieces.size() >= 2) storeUserData(pieces[0], pieces[1]);
  } else if (command == u"GetUserData") {
    if (MenuMovie) MenuMovie->SetVariable(args, lookupUserData(args));
  } else if (command == u"AddUser") {
    if (pieces.size() >= 2) Api.Users.AddUser(pieces[0], pieces[1], u"");
    Api.SaveUsers();
  } else if (command == u"GetUserList") {
    Api.LoadUsers();
    tellFlashCommand(ctx, MenuMovie.get(), u"onUsersCompleteEvent",
                     Api.Users.ToXml(u"\t"));
  } else if (command == u"GetUsersSessions") {
    tellFlashCommand(ctx, MenuMovie.get(), u"onUsersSessionInfoLoadedEvent",
                     Api.UsersSessionsXml());
  } else if (command == u"GetUserSessionByName") {
    tellFlashCommand(ctx, MenuMovie.get(), u"onUserSessionByNameLoadedEvent",
                     Api.UserTrackingXml(args, false));
  } else if (command == u"SetLang") {
    sCurrentLang = args;
  }
}

void TFormZept::courseCommand(const WideString& command,
                              const WideString& args) {
  journal(command + u" : " + args);
  if (command == u"sendAPILoaded") {
    // Only the journal line.
  } else if (command == u"OnOpenDocument") {
    openCourseDocument(args);
  } else if (command == u"sendQuit") {
    Api.LMSCommit();
    Api.LMSFinish();
    s_.window.close();
  } else if (command == u"sendGoToHome") {
    Api.LMSCommit();
    startMenuMovie(args.empty() ? WideString(u"back") : args);
  } else if (command == u"sendChooseSCO") {
    openSco(args, u"");
  } else if (command == u"sendContinueSCO") {
    openNextSco();
  } else if (command == u"sendPreviousSCO") {
    openPreviousSco();
  } else if (command == u"sendPrintPagePDF") {
    capturePageToPdf();
  } else if (command == u"LMSSetValue") {
    const TWideStringArray pieces = Explode(args, u";");
    if (pieces.size() >= 2) Api.LMSSetValue(pieces[0], pieces[1]);
  }
}

namespace {

// The command name and argument text of an ExternalInterface request.
std::pair<WideString, WideString> ParseRequest(const WideString& request) {
  WideString name;
  const TWideStringArray head = Explode(request, u"<invoke name=\"");
  if (head.size() >= 2) {
    const TWideStringArray quoted = Explode(head[1], u"\"");
    if (!quoted.empty()) name = quoted[0];
  }
  WideString args;
  const WideString open = u"<arguments><string>";
  const std::size_t start = request.find(open);
  if (start != WideString::npos) {
    const std::size_t from = start + open.size();
    const std::size_t end =
        request.find(u"</string></arguments></invoke>", from);
    args = UnescapeXml(request.substr(
        from, end == WideString::npos ? WideString::npos : end - from));
  }
  return {name, args};
}

}  // namespace

void TFormZept::menuCall(const WideString& request) {
  auto [name, args] = ParseRequest(request);
  menuCommand(name, args);
  if (MenuMovie) MenuMovie->SetReturnValue(kReturnValue);
}

void TFormZept::courseCall(const WideString& request) {
  auto [name, args] = ParseRequest(request);
  if (name == u"doEICommand") {
    const TWideStringArray pieces = Explode(args, u"</string><string>");
    name = pieces.empty() ? WideString() : pieces[0];
    args = pieces.size() >= 2 ? pieces[1] : WideString();
  }
  courseCommand(name, args);
  if (CourseMovie) CourseMovie->SetReturnValue(kReturnValue);
}

WideString UnescapeXml(const WideString& text) {
  if (text.find(u'&') == WideString::npos) return text;
  WideString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') {
      out += text[i];
      continue;
    }
    const std::size_t semi = text.find(u';', i);
    if (semi == WideString::npos || semi - i > 12) {
      out += text[i];
      continue;
    }
    const WideString entity = text.substr(i + 1, semi - i - 1);
    char32_t code = 0;
    bool known = true;
    if (entity == u"amp")
      code = u'&';
    else if (entity == u"lt")
      code = u'<';
    else if (entity == u"gt")
      code = u'>';
    else if (entity == u"apos")
      code = u'\'';
    else if (entity == u"quot")
      code = u'"';
    else if (entity.size() > 1 && entity[0] == u'#') {
      const bool hex = entity[1] == u'x' || entity[1] == u'X';
      const WideString digits = entity.substr(hex ? 2 : 1);
      known = !digits.empty();
      for (char16_t c : digits) {
        int d = (c >= u'0' && c <= u'9') ? c - u'0'
                : hex && (c | 0x20) >= u'a' && (c | 0x20) <= u'f'
                    ? (c | 0x20) - u'a' + 10
                    : -1;
        if (d < 0 || code > 0x10FFFF) {
          known = false;
          break;
        }
        code = code * (hex ? 16 : 10) + static_cast<char32_t>(d);
      }
      if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        known = false;
    } else {
      known = false;
    }
    if (!known) {
      out += text[i];
      continue;
    }
    AppendCodePoint(out, code);
    i = semi;
  }
  return out;
}

}  // namespace zept
