#pragma once
// The main window on the fake platform, with the headless movie host: movie
// scripts live in the fake file system, the transcript in memory.

#include <string>
#include <vector>

#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "shell/UnitZept.h"
#include "util/fake_env.h"

namespace zept::testing {

struct ShellEnv : FakeEnv {
  static constexpr char16_t kFolder[] = u"C:\\Course\\";
  std::vector<std::string> lines;
  std::vector<std::string> errors;
  std::function<void(const WideString&)> print =
      [this](const WideString& line) { lines.push_back(WideToUtf8(line)); };
  platform::HeadlessWindow window{1280, 1024, print};
  platform::ScriptedDialogs dialogs{print};
  platform::VirtualTimers timers;
  HeadlessHostFactory movies{{ctx, print, dialogs, window, kFolder}};
  platform::FakePrinters printers;
  platform::HeadlessShellOpen shell{fake.files, print};
  std::unique_ptr<TFormZept> form;

  // A course of n SCOs, each with its player; menu and SCO scripts empty.
  void addCourse(int scos, const std::string& title = "Intro") {
    std::string manifest =
        "<manifest><organizations><organization><title>" + title + "</title>";
    for (int i = 1; i <= scos; ++i) {
      manifest += "<item identifier=\"i" + std::to_string(i) +
                  "\"><title>Unit " + std::to_string(i) + "</title></item>";
      fake.files.addFile(
          WideString(kFolder) + TSCO::FolderName(i) + u"\\player.swf", "");
    }
    manifest += "</organization></organizations></manifest>";
    fake.files.addFile(WideString(kFolder) + u"imsmanifest.xml", manifest);
    fake.files.addFile(WideString(kFolder) + u"cdrom\\cdrom.swf", "");
  }
  void addFile(const WideString& relative, const std::string& text) {
    fake.files.addFile(WideString(kFolder) + relative, text);
  }
  void script(const WideString& movie, const std::string& steps) {
    addFile(movie + u".movie.xml", "<movie>" + steps + "</movie>");
  }
  TFormZept& create() {
    form = std::make_unique<TFormZept>(
        TFormZept::Services{
            ctx,
            window,
            movies,
            timers,
            dialogs,
            [this](const std::exception& e) { errors.push_back(e.what()); },
            printers,
            shell,
            {8.5, 11},
            print},
        kFolder);
    return *form;
  }
  void start() {
    create();
    form->FormShow();
  }
  void run() { RunHeadless(movies, timers, window, print); }
  // A three-SCO course started, a session begun and SCO 1 playing.
  TFormZept& sessionInFirstSco() {
    addCourse(3);
    start();
    form->Api.LMSInitialize();
    form->openSco(u"1", u"");
    run();
    return *form;
  }
  bool said(const std::string& line) const {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  // The first transcript line starting with prefix, or "".
  std::string line(const std::string& prefix) const {
    for (const std::string& l : lines) {
      if (l.rfind(prefix, 0) == 0) return l;
    }
    return "";
  }
};

}  // namespace zept::testing
