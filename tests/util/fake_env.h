#pragma once
// A machine laid out like a Windows user's, on the in-memory platform.

#include "platform/fake/fakes.h"
#include "util/context.h"

namespace zept::testing {

struct FakeEnv {
  platform::FakePlatform fake;
  Context ctx{fake.platform};

  static constexpr char16_t kDocuments[] = u"C:\\Users\\u\\Documents";
  static constexpr char16_t kLogFolder[] =
      u"C:\\Users\\u\\Documents\\var-deno\\zp\\logs";

  FakeEnv() {
    auto& folders = fake.folders;
    folders.special[0] = u"C:\\Users\\u\\Desktop";
    folders.special[5] = kDocuments;
    folders.special[26] = u"C:\\Users\\u\\AppData\\Roaming";
    folders.special[35] = u"C:\\ProgramData";
    folders.special[38] = u"C:\\Program Files";
    folders.special[42] = u"C:\\Program Files (x86)";
    folders.temp = u"C:\\Users\\u\\AppData\\Local\\Temp";
    folders.windows = u"C:\\WINDOWS";
    folders.program = u"C:\\Program Files\\vardeno\\zept.exe";
    for (const auto& [csidl, path] : folders.special) {
      if (csidl != 38 && csidl != 42) fake.files.addDirectory(path);
    }
    fake.files.addDirectory(folders.temp);
  }

  // The day's trace file, or "" when there is none.
  std::string log(const char16_t* date = u"2026-12-06") {
    const auto* f =
        fake.files.file(WideString(kLogFolder) + u"\\traces_" + date + u".htm");
    return f ? f->bytes : std::string();
  }
};

}  // namespace zept::testing
