#include "shell/UnitZept.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "shell/api.h"
#include "shell/shell_fixture.h"

namespace zept {
namespace {

using testing::ShellEnv;

class ShellTest : public ::testing::Test, protected ShellEnv {};

TEST_F(ShellTest, MenuUrlCarriesLoginParameterLanguageFolderAndTitle) {
  addCourse(1, "Intro");
  start();
  form->sCurrentLogin = u"jean a&b";
  form->sCurrentLang = u"fr";
  EXPECT_EQ(WideToUtf8(form->menuUrl(u"")),
            "sLogin=jean "
            "a&b&sParam=&sLang=fr&sCdromPath=C%3A%5CCourse%5C&sTitle=Intro");
  // The path is native; the values keep what they hold.
  EXPECT_EQ(line("movie: "),
            "movie: "
            "C:/Course/cdrom/cdrom.swf?sLogin=&sParam=&sLang=&sCdromPath=C%"
            "3A%5CCourse%5C"
            "&sTitle=Intro");
  EXPECT_NE(WideToUtf8(form->menuUrl(u"é€")).find("&sParam=%E9%20AC&"),
            std::string::npos);
}

TEST_F(ShellTest, CourseUrlItems) {
  addCourse(3);
  start();
  TFormZept& f = *form;
  f.iCurrentSco = 1;
  EXPECT_EQ(
      WideToUtf8(f.courseUrl(u"C:\\Course\\SCO_0001\\", u"")),
      "C:/Course/SCO_0001/player.swf?bAPIBased=1&tracking=SCORM12&"
      "sNavRequestValidContinue=true&sNavRequestValidPrevious=true&bIsCDRom=1");
  f.iCurrentSco = 3;
  EXPECT_EQ(WideToUtf8(f.courseUrl(u"F\\", u"")),
            "F/player.swf?bAPIBased=1&tracking=SCORM12&"
            "sNavRequestValidPrevious=true&bIsCDRom=1");
  // Untracked jump with a parameter.
  EXPECT_EQ(WideToUtf8(f.courseUrl(u"F\\", u"p1")),
            "F/player.swf?bAPIBased=1&tracking=SCORM12&"
            "sNavRequestValidPrevious=true&"
            "sSuspendData=%2526%253D%2526%253D%2526%253D%2526%253Dp1%2526%253D%"
            "2526%253D&"
            "sLessonLocation=p1&sLessonStatus=i&bIsCDRom=1");
  // Tracked: stored values, the location from the parameter when given.
  f.Api.TrackingId = u"c1";
  f.Api.TrackInteractions = true;
  f.Api.LMSInitialize();
  f.Api.CurrentSCO = 3;
  f.Api.LMSSetValue(u"cmi.suspend_data", u"é;€");
  EXPECT_EQ(WideToUtf8(f.courseUrl(u"F\\", u"")),
            "F/player.swf?bAPIBased=1&tracking=SCORM12&"
            "sNavRequestValidPrevious=true&"
            "bTrackInteractions=1&sSuspendData=é%3B%20AC&sLessonLocation=1&"
            "sLessonStatus=not%20attempted&bIsCDRom=1");
  EXPECT_NE(WideToUtf8(f.courseUrl(u"F\\", u"chap 2"))
                .find("&sLessonLocation=chap%202&"),
            std::string::npos);
  EXPECT_TRUE(said("trackinteractions : True"));
}

TEST_F(ShellTest, WindowGeometryRoundsHalvesToEven) {
  EXPECT_EQ(RoundHalfEven(287.5), 288);
  EXPECT_EQ(RoundHalfEven(286.5), 286);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  addCourse(2);
  addFile(u"cdrom\\launch.ini", "FullScreen=0\r\nWindowSize=(790,573)\r\n");
  addFile(u"SCO_0001\\_course\\course.xml",
          "<course><design><look><![CDATA[blue]]></look></design></course>");
  addFile(u"_shared\\blue\\look.xml",
          "<look width=\"800\" height=\"600\" bgcolor=\"\"/>");
  start();
  // (1280 - 790) / 2 = 245; (1024 - 573) / 2 = 225.5 goes to 226.
  EXPECT_EQ(window.state().left, 245);
  EXPECT_EQ(window.state().top, 226);
  EXPECT_EQ(window.state().height, 573);
  form->openSco(u"1", u"");
  run();
  EXPECT_EQ(window.state().left, 240);
  EXPECT_EQ(window.state().top, 212);
  EXPECT_EQ(window.state().width, 800);
  EXPECT_EQ(form->sLookBgColor, u"#000000");
  ASSERT_TRUE(form->CourseMovie);
  EXPECT_EQ(form->CourseMovie->BGColor, u"#000000");
  EXPECT_TRUE(form->CourseMovie->StandartMenu);
}

TEST_F(ShellTest, WindowedLookFillsTheScreenUnlessOverridden) {
  addCourse(1);
  addFile(u"cdrom\\launch.ini",
          "FullScreen=0\nOverRideLook=Both\nScaleMode=NoScale\n");
  addFile(u"SCO_0001\\_course\\course.xml",
          "<course><design><look>w</look></design></course>");
  addFile(u"_shared\\w\\look.xml",
          "<look width=\"640\" height=\"480\" fullscreen=\"0\" "
          "scalemode=\"noborder\"/>");
  start();
  form->openSco(u"1", u"");
  run();
  EXPECT_EQ(window.state().width, 640);  // Both: the launch setting wins
  EXPECT_EQ(form->iLookScaleMode, 3);    // lower case is not NoBorder
  EXPECT_EQ(form->CourseMovie->ScaleMode, 3);
  form->iOverrideLook = 0;
  form->openSco(u"1", u"");
  run();
  EXPECT_EQ(window.state().width, 1280);
  EXPECT_EQ(window.state().left, 0);
}

TEST_F(ShellTest, LaunchSettings) {
  addCourse(1);
  addFile(u"cdrom\\launch.ini",
          "ScaleMode = NoBorder\r\nscalemode=NoBorder\r\nFullScreen=yes\r\n"
          "WindowTitle=First\r\nWindowTitle=A=B\r\nno equals sign\r\n\r\n"
          "WindowSize=[800,600]\r\nWindowZOrder=top\r\nOverRideLook=Scale\r\n"
          "WindowStyle=Standard\r\nWindowTitle=caf\xE9");
  create();
  EXPECT_EQ(form->iScaleMode, 0);
  EXPECT_FALSE(form->bFullScreen);
  EXPECT_EQ(form->sWindowTitle, u"café");
  EXPECT_EQ(form->iWindowWidth, 800);
  EXPECT_EQ(form->iWindowHeight, 600);
  EXPECT_FALSE(form->bTopMost);
  EXPECT_EQ(form->iOverrideLook, 0);
  EXPECT_TRUE(form->bStandardWindow);
  EXPECT_TRUE(window.state().sizeable);

  form->applyLaunchSetting(u"WindowTitle", u"A");
  form->applyLaunchSetting(u"WindowSize", u"800,600");  // digits cut off
  EXPECT_EQ(form->iWindowWidth, 0);
  EXPECT_EQ(form->iWindowHeight, 60);
  form->applyLaunchSetting(u"FullScreen", u"1");
  EXPECT_TRUE(form->bFullScreen);
}

TEST_F(ShellTest, BadWindowSizeIsTracedAndSkipsTheRestOfFormCreate) {
  addCourse(1);
  addFile(u"cdrom\\launch.ini",
          "WindowStyle=Standard\nWindowSize=(wide,600)\n");
  window.setSizeable(false);
  create();
  EXPECT_NE(
      log().find(
          "TFormZept.FormCreate - error : 'wide' is not a valid integer value"),
      std::string::npos);
  EXPECT_FALSE(window.state().sizeable);  // the border step did not run
  form->FormShow();
  EXPECT_TRUE(form->MenuMovie);  // start-up goes on
}

TEST_F(ShellTest, DeveloperModeNeedsBothMarkers) {
  addCourse(1);
  addFile(u"debug.txt", "");
  start();
  EXPECT_FALSE(form->bDebug);
  EXPECT_FALSE(window.state().debugPanel);
  EXPECT_FALSE(window.state().sizeable);
  fake.files.addDirectory(u"C:\\Course\\.svn");
  start();
  EXPECT_TRUE(form->bDebug);
  EXPECT_TRUE(window.state().debugPanel);
  EXPECT_TRUE(window.state().sizeable);
}

TEST_F(ShellTest, MissingMenuMovieLeavesTheWindowBlackWithNoMovie) {
  fake.files.addFile(u"C:\\Course\\imsmanifest.xml", "<manifest/>");
  start();
  EXPECT_FALSE(form->MenuMovie);
  EXPECT_TRUE(window.state().black);
  run();
  EXPECT_TRUE(said("idle"));
}

TEST_F(ShellTest, NavigationBetweenScos) {
  addCourse(3);
  start();
  TFormZept& f = *form;
  f.openSco(u"2", u"");
  EXPECT_EQ(f.iCurrentSco, 2);
  EXPECT_EQ(f.Api.CurrentSCO, 2);
  EXPECT_TRUE(f.MenuMovie);  // swapped at the tick
  run();
  EXPECT_FALSE(f.MenuMovie);
  ASSERT_TRUE(f.CourseMovie);
  EXPECT_EQ(f.sCoursePlayerPath, u"C:\\Course\\SCO_0002\\player.swf");
  f.openNextSco();
  run();
  EXPECT_EQ(f.iCurrentSco, 3);
  f.openSco(u"x", u"");
  EXPECT_EQ(f.iCurrentSco, -1);
  f.openSco(u"7", u"");
  EXPECT_EQ(f.iCurrentSco, 7);
  f.iCurrentSco = 1;
  f.openPreviousSco();  // SCO 0 does not exist: the course goes on
  EXPECT_EQ(f.iCurrentSco, 0);
  EXPECT_FALSE(f.bCourseStartPending);
  // A SCO without its player: the menu starts instead.
  fake.files.deleteFile(u"C:\\Course\\SCO_0001\\player.swf");
  f.openSco(u"1", u"");
  EXPECT_TRUE(f.MenuMovie);
}

TEST_F(ShellTest, MenuCommands) {
  addCourse(3);
  start();
  TFormZept& f = *form;
  f.menuCommand(u"sendquit", u"");
  EXPECT_FALSE(window.state().closed);
  EXPECT_TRUE(said("sendquit : "));
  f.menuCommand(u"GoToSCO", u"2;a;b");
  EXPECT_FALSE(f.bCourseStartPending);
  f.menuCommand(u"GoToSCO", u"2;chapter3");
  EXPECT_EQ(f.sCourseParam, u"chapter3");
  f.menuCommand(u"SetTrackInteractions", u"True");
  EXPECT_FALSE(f.Api.TrackInteractions);
  f.menuCommand(u"SetTrackInteractions", u"true");
  EXPECT_TRUE(f.Api.TrackInteractions);
  f.menuCommand(u"SetTrackHistory", u"many");
  EXPECT_EQ(f.Api.HistoryLimit, 0);
  f.menuCommand(u"SetTrackHistory", u"5");
  EXPECT_EQ(f.Api.HistoryLimit, 5);
  EXPECT_THROW(f.menuCommand(u"SetSCO", u"two"), EConvertError);
  f.menuCommand(u"SetUserData", u"k;v1");
  f.menuCommand(u"SetUserData", u"k;v2");
  f.menuCommand(u"SetUserData", u"lonely");
  EXPECT_EQ(f.UserDataKeys.size(), 1u);
  f.menuCommand(u"GetUserData", u"k");
  f.menuCommand(u"GetUserData", u"never");
  EXPECT_EQ(f.MenuMovie->GetVariable(u"k"), u"v2");
  EXPECT_EQ(f.MenuMovie->GetVariable(u"never"), u"");
  f.menuCommand(
      u"SetTrackPath",
      u"[$APPLICATION]\\t;[$MYDOCUMENTS];[$ROOT][$WINDOWS];[$mydocuments]");
  EXPECT_EQ(
      f.Api.TrackPath,
      u"C:\\Course\\t;C:\\Users\\u\\Documents;C:C:\\WINDOWS;[$mydocuments]");
  f.menuCommand(u"SetLogin", u"anna");
  f.menuCommand(u"SetLang", u"de");
  f.startMenuMovie(u"");
  EXPECT_NE(
      line("movie: C:/Course/cdrom/cdrom.swf?sLogin=anna&sParam=&sLang=de")
          .size(),
      0u);
  f.menuCommand(u"AddUser", u"solo");
  EXPECT_TRUE(f.Api.Users.Users.empty());
  f.menuCommand(u"sendQuit", u"");
  EXPECT_TRUE(window.state().closed);
}

// Closing the window keeps an open session's progress as "sendQuit" would.
TEST_F(ShellTest, ClosingTheWindowCommitsAnOpenSession) {
  const WideString stored = u"C:\\data\\c1\\anna\\tracking.xml";
  auto storedText = [&] {
    const auto* f = fake.files.file(stored);
    return f ? f->bytes : std::string("<missing>");
  };
  addCourse(2);
  start();
  TFormZept& f = *form;
  for (auto [command, args] : {std::pair{u"SetTrackMode", u"file"},
                               {u"SetTrackPath", u"C:\\data"},
                               {u"SetTrackingId", u"c1"},
                               {u"GetUserList", u""},
                               {u"AddUser", u"anna;pw"}}) {
    f.menuCommand(command, args);
  }
  f.FormClose();  // no login, no session: nothing stored
  EXPECT_EQ(storedText(), "<missing>");
  f.menuCommand(u"SetLogin", u"anna");
  f.menuCommand(u"LMSLoad", u"");
  f.FormClose();  // logged in, no session begun
  EXPECT_EQ(storedText(), "<missing>");
  f.menuCommand(u"LMSInitialize", u"");
  f.menuCommand(u"GoToSCO", u"2");
  run();
  ASSERT_TRUE(f.CourseMovie);
  f.courseCommand(u"LMSSetValue", u"cmi.core.lesson_location;page 7");
  f.courseCommand(u"LMSSetValue", u"cmi.suspend_data;a=1");
  f.FormClose();
  EXPECT_EQ(f.Api.CurrentSession, 0);  // finished
  const std::string text = storedText();
  EXPECT_NE(text.find("page 7"), std::string::npos) << text;
  EXPECT_NE(text.find("a=1"), std::string::npos) << text;
  EXPECT_NE(fake.files.file(u"C:\\data\\c1\\users.xml"), nullptr);
  EXPECT_NE(log().find("TFormZept.FormClose"), std::string::npos);
  // What was stored comes back as the next session's start.
  f.menuCommand(u"LMSLoad", u"");
  f.menuCommand(u"LMSInitialize", u"");
  EXPECT_EQ(f.Api.LMSGetValue(u"cmi.core.lesson_location"), u"page 7");
  // Finished (as "sendQuit" leaves it): closing stores nothing again.
  f.courseCommand(u"sendQuit", u"");
  ASSERT_TRUE(fake.files.deleteFile(stored));
  f.FormClose();
  EXPECT_EQ(storedText(), "<missing>");
}

TEST_F(ShellTest, CourseCommands) {
  TFormZept& f = sessionInFirstSco();
  f.courseCommand(u"sendAPILoaded", u"");
  f.courseCommand(u"LMSSetValue", u"cmi.core.lesson_location;p1;p2");
  EXPECT_EQ(f.Api.LMSGetValue(u"cmi.core.lesson_location"), u"p1");
  f.courseCommand(u"LMSSetValue", u"cmi.core.lesson_location");
  EXPECT_EQ(f.Api.LMSGetValue(u"cmi.core.lesson_location"), u"p1");
  f.courseCommand(u"LMSCommit", u"");  // not a course command
  f.courseCommand(u"sendGoToHome", u"");
  EXPECT_NE(
      line("movie: C:/Course/cdrom/cdrom.swf?sLogin=&sParam=back&").size(), 0u);
  EXPECT_TRUE(f.CourseMovie);  // freed at the tick
  run();
  EXPECT_FALSE(f.CourseMovie);
}

TEST_F(ShellTest, ExternalInterfaceRequests) {
  TFormZept& f = sessionInFirstSco();
  f.courseCall(
      u"<invoke name=\"LMSSetValue\" "
      u"returntype=\"xml\"><arguments><string>cmi.suspend_data;"
      u"a&amp;b "
      u"&lt;&#233;&#x20AC;&#128512;&#0;&bogus;</string></arguments></invoke>");
  // The value ends at the next ";" (the character reference's own).
  EXPECT_EQ(f.Api.LMSGetValue(u"cmi.suspend_data"), u"a&b <é€\U0001F600&#0");
  f.courseCall(
      u"<invoke name=\"doEICommand\" "
      u"returntype=\"xml\"><arguments><string>sendChooseSCO"
      u"</string><string>3</string></arguments></invoke>");
  EXPECT_TRUE(f.bCourseStartPending);
  EXPECT_EQ(f.iCurrentSco, 3);
  f.courseCall(u"no marker at all");
  f.menuCall(
      u"<invoke "
      u"name=\"doEICommand\"><arguments><string>sendQuit</string><string>"
      u"</string></arguments></invoke>");
  EXPECT_FALSE(window.state().closed);
  EXPECT_TRUE(said("doEICommand : sendQuit</string><string>"));
}

TEST_F(ShellTest, EventQueue) {
  addCourse(1);
  script(u"cdrom\\cdrom.swf", "");
  start();
  TFormZept& f = *form;
  f.menuCommand(u"GetUserList", u"");
  f.menuCommand(u"GetUserList", u"");
  const WideString users = f.Api.Users.ToXml(u"\t");
  EXPECT_EQ(
      f.MenuMovie->GetVariable(u"API._sCommand"),
      u"onUsersCompleteEvent;" + users + u"|onUsersCompleteEvent;" + users);
  f.MenuMovie->SetVariable(u"API._sCommand", u"undefined");
  const WideString longData(1500, u'x');
  tellFlashCommand(ctx, f.MenuMovie.get(), u"onX", longData);
  EXPECT_EQ(f.MenuMovie->GetVariable(u"API._sCommand"), u"onX;" + longData);
  EXPECT_NE(log().find("onX :: " + std::string(1024, 'x') + "</div>"),
            std::string::npos);
  tellFlashCommand(ctx, nullptr, u"onY", u"d");
  EXPECT_NE(log().find("<div>FlashPlayerControl = nil </div>"),
            std::string::npos);
}

TEST_F(ShellTest, MovieNotYetLoadedLosesTheEvent) {
  addCourse(1);
  script(u"cdrom\\cdrom.swf", "");
  addFile(u"cdrom\\cdrom.swf.movie.xml", "<movie readystate=\"3\"/>");
  start();
  form->menuCommand(u"GetUserList", u"");
  EXPECT_EQ(form->MenuMovie->GetVariable(u"API._sCommand"), u"");
  EXPECT_NE(log().find("<div>FlashPlayerControl.ReadyState=3</div>"),
            std::string::npos);
}

TEST_F(ShellTest, MalformedMovieScriptDoesNothingAndIsTraced) {
  addCourse(1);
  addFile(u"cdrom\\cdrom.swf.movie.xml", "<movie><log>never</movie>");
  start();
  run();
  EXPECT_FALSE(said("never"));
  EXPECT_TRUE(said("idle"));
  EXPECT_NE(log().find("movie script is not well-formed XML: "
                       "C:/Course/cdrom/cdrom.swf.movie.xml"),
            std::string::npos);
}

}  // namespace
}  // namespace zept

namespace zept {
namespace {

// A 1 x 1 GIF whose only pixel is red.
const std::string kRedGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
    "!\xf9\x04\x00\x00\x00\x00\x00,"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    43);

TEST_F(ShellTest, HeadlessFramesShowPicturesStretched) {
  addCourse(1);
  addFile(u"SCO_0001\\shots\\red.gif", kRedGif);
  script(u"SCO_0001\\player.swf", "");
  addFile(u"SCO_0001\\player.swf.movie.xml",
          "<movie frame=\"shots\\red.gif\"/>");
  start();
  form->openSco(u"1", u"");
  run();
  ASSERT_TRUE(form->CourseMovie);
  Bitmap frame = form->CourseMovie->GetFrameBitmap();
  EXPECT_EQ(frame.width, window.state().width);
  EXPECT_EQ(frame.height, window.state().height);
  EXPECT_EQ(frame.pixels.front(), 0xFFFF0000u);
  EXPECT_EQ(frame.pixels.back(), 0xFFFF0000u);

  // A picture as the movie, with query variables.
  std::unique_ptr<MovieHost> picture = movies.create();
  picture->Width = 3;
  picture->Height = 2;
  picture->setMovie(u"C:\\Course\\SCO_0001\\shots\\red.gif?a=1&b=x%20y&c");
  EXPECT_EQ(picture->GetFrameBitmap().pixels,
            std::vector<std::uint32_t>(6, 0xFFFF0000u));
  EXPECT_EQ(picture->GetVariable(u"b"), u"x%20y");
  EXPECT_EQ(picture->ReadyState(), 4);
  EXPECT_TRUE(
      said("movie: C:\\Course\\SCO_0001\\shots\\red.gif?a=1&b=x%20y&c"));

  // Neither: the background colour, white without one.
  std::unique_ptr<MovieHost> plain = movies.create();
  plain->Width = plain->Height = 1;
  plain->setMovie(u"C:\\Course\\missing.swf");
  EXPECT_EQ(plain->ReadyState(), 0);
  EXPECT_EQ(plain->GetFrameBitmap().pixels[0], 0xFFFFFFFFu);
  plain->BGColor = u"#1E3A5F";
  EXPECT_EQ(plain->GetFrameBitmap().pixels[0], 0xFF1E3A5Fu);
}

}  // namespace
}  // namespace zept

namespace zept {
namespace {

TEST_F(ShellTest, TopmostWindowAtEachMenuStart) {
  addCourse(1);
  addFile(u"cdrom\\launch.ini", "WindowZOrder=Top\n");
  start();
  EXPECT_TRUE(window.state().topMost);
  EXPECT_EQ(window.state().caption, u"fennick");
}

TEST_F(ShellTest, DialogStepsQueueAnswersForTheNextDialogs) {
  addCourse(1);
  script(u"cdrom\\cdrom.swf",
         "<dialog answer=\"ok\" file=\"out\\report.pdf\"/><dialog "
         "answer=\"cancel\"/>");
  start();
  run();
  EXPECT_TRUE(dialogs.saveFile(u"pdf", u"*.pdf|*.pdf", u"", u"C:\\data").ok);
  EXPECT_FALSE(dialogs.printSetup({u"office"}, u"office").ok);
  // Unanswered: cancelled.
  EXPECT_FALSE(dialogs.printSetup({u"office"}, u"office").ok);
  EXPECT_TRUE(
      said("dialog: save ext=pdf filter=*.pdf|*.pdf name= folder=C:\\data"));
  // The answer is native, as a real dialog's, though the script wrote "\".
  EXPECT_TRUE(said("dialog: answer ok C:/Course/out/report.pdf"));
  EXPECT_TRUE(said("dialog: print-setup"));
  EXPECT_TRUE(said("dialog: answer cancel"));
}

}  // namespace
}  // namespace zept
