#pragma once
// The main window on the in-memory platform, for the shell's fuzz targets.

#include "moviehost/headless.h"
#include "platform/fake/fakes.h"
#include "shell/UnitZept.h"

namespace zept::fuzzing {

struct Shell {
  platform::FakePlatform fake;
  Context ctx{fake.platform};
  std::function<void(const WideString&)> print = [](const WideString&) {};
  platform::HeadlessWindow window{1280, 1024, print};
  platform::ScriptedDialogs dialogs{print};
  platform::VirtualTimers timers;
  HeadlessHostFactory movies{{ctx, print, dialogs, window, u"/c/"}};
  platform::FakePrinters printers;
  platform::HeadlessShellOpen shell{fake.files, print};

  Shell() {
    // No trace log: each input would otherwise build the day's head block.
    fake.registry.writeString(platform::RegistryRoot::CurrentUser,
                              u"Software\\vardeno\\Tesk Runtime", u"ModeDebug",
                              u"0");
    fake.folders.special[5] = u"/docs";
    fake.files.addDirectory(u"/docs");
    fake.files.addFile(u"/c/cdrom/cdrom.swf", "");
    std::string manifest = "<manifest><organizations><organization>";
    for (int i = 1; i <= 3; ++i) {
      manifest += "<item><title>U</title></item>";
      fake.files.addFile(
          u"/c/SCO_000" + std::u16string(1, u'0' + i) + u"/player.swf", "");
    }
    fake.files.addFile(u"/c/imsmanifest.xml",
                       manifest + "</organization></organizations></manifest>");
  }

  std::unique_ptr<TFormZept> create() {
    return std::make_unique<TFormZept>(TFormZept::Services{ctx,
                                                           window,
                                                           movies,
                                                           timers,
                                                           dialogs,
                                                           nullptr,
                                                           printers,
                                                           shell,
                                                           {8.5, 11},
                                                           print},
                                       u"/c/");
  }
};

}  // namespace zept::fuzzing
