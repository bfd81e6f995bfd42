// The configuration report at the head of each day's trace file: which
// folders accept a file, which registry keys can be written and read, the
// leftovers of file-system virtualisation, and installation parameters.

#include "platform/codepage.h"
#include "util/FileVersion.h"
#include "util/datetime.h"
#include "util/file_io.h"
#include "util/reglib.h"

namespace zept {
namespace {

using platform::RegistryRoot;

constexpr char16_t kCrLf[] = u"\r\n";
// Trace code of a registry value that could not be stored in a key that
// opened: the test shows "No" for writing and the report goes on.
constexpr int kRegistryTestWriteCode = 4302;

WideString DataFolder(Context& ctx) {
  return GetSpecialFolder(ctx, platform::kCsidlAppData) +
         u"\\var-deno\\Quarvelin LCMS";
}

WideString ResultCell(const WideString& result) {
  if (result == u"no") return u"<td>Folder doesn't exist</td>";
  if (result == u"ko")
    return u"<td class=\"KO\">File writing is impossible</td>";
  return u"<td class=\"OK\">File writing is possible</td>";
}

WideString YesNoCell(const WideString& result) {
  return result == u"ok" ? u"<td class=\"OK\">Yes</td>"
                         : u"<td class=\"KO\">No</td>";
}

WideString VirtualStoreRows(Context& ctx) {
  // Under a roaming folder the store lies beside it, in the local one.
  const WideString appData = GetSpecialFolder(ctx, platform::kCsidlAppData);
  const WideString base = appData.find(u"Roaming") != WideString::npos
                              ? ExtractFilePath(appData)
                              : appData + u"\\";
  struct Entry {
    const char16_t* folder;
    bool maker;
  };
  static const Entry kEntries[] = {
      {u"Local\\VirtualStore\\Program files", false},
      {u"Local\\VirtualStore\\Program files\\var-deno", true},
      {u"Local\\VirtualStore\\Program files\\vardeno", true},
      {u"Local\\VirtualStore\\Program files (x86)", false},
      {u"Local\\VirtualStore\\Program files (x86)\\var-deno", true},
      {u"Local\\VirtualStore\\Program files (x86)\\vardeno", true},
      {u"Local\\VirtualStore\\ProgramData", false},
      {u"Local\\VirtualStore\\ProgramData\\var-deno", true},
      {u"Local\\VirtualStore\\ProgramData\\vardeno", true},
  };
  WideString rows;
  for (const Entry& entry : kEntries) {
    const WideString folder = base + entry.folder;
    if (!ctx.platform.files.directoryExists(folder)) continue;
    rows += u"\t<tr><td>" + folder + u"</td>";
    if (!entry.maker) {
      rows += u"<td>exists</td>";
    } else {
      rows +=
          u"<td class=\"KO\">exists -- please delete the following subfolders";
      for (const WideString& sub : ListSubfolders(ctx, folder)) {
        rows += u"<br/>- " + sub;
      }
      rows += u"</td>";
    }
    rows += WideString(u"</tr>") + kCrLf;
  }
  return rows;
}

// The report shows a failure to get the short form as no short form.
WideString ShortPathOrEmpty(Context& ctx, const WideString& path) {
  try {
    return ctx.platform.folders.shortPathName(path);
  } catch (const std::exception&) {
    return u"";
  }
}

}  // namespace

std::vector<FolderAccessTest> TestSystemAccess(Context& ctx) {
  struct Entry {
    const char16_t* label;
    int csidl;  // -1: a new sub-folder of TEMP
    const char16_t* suffix;
  };
  static const Entry kEntries[] = {
      {u"My documents", platform::kCsidlMyDocuments, u""},
      {u"Desktop", platform::kCsidlDesktop, u""},
      {u"AppData", platform::kCsidlAppData, u""},
      {u"Temp", -1, u""},
      {u"Programdata", platform::kCsidlCommonAppData, u""},
      {u"Programfiles var-deno", platform::kCsidlProgramFiles, u"\\var-deno"},
      {u"Programfilesx86 var-deno", platform::kCsidlProgramFilesX86,
       u"\\var-deno"},
      {u"Programfiles vardeno", platform::kCsidlProgramFiles, u"\\vardeno"},
      {u"Programfilesx86 vardeno", platform::kCsidlProgramFilesX86,
       u"\\vardeno"},
  };
  std::vector<FolderAccessTest> tests;
  for (const Entry& entry : kEntries) {
    const WideString base = entry.csidl < 0
                                ? CreateTempSubfolder(ctx, u"morl_")
                                : GetSpecialFolder(ctx, entry.csidl);
    FolderAccessTest test{entry.label,
                          WithTrailingBackslash(base + entry.suffix), u"no"};
    // A folder this system cannot name is missing, whatever its suffix.
    if (!base.empty() && ctx.platform.files.directoryExists(test.folder)) {
      test.result =
          writeTextFile(ctx, "", test.folder + u"test.txt") ? u"ok" : u"ko";
    }
    if (!base.empty()) DeleteOneFile(ctx, test.folder + u"test.txt");
    tests.push_back(std::move(test));
  }
  return tests;
}

std::vector<RegistryAccessTest> TestRegistryAccess(Context& ctx) {
  static const std::pair<const char16_t*, const char16_t*> kKeys[] = {
      {u"\\Software\\vardeno\\Morl_machine\\", u"HKEY_LOCAL_MACHINE"},
      {u"\\Software\\vardeno\\Tesk 5\\", u"HKEY_LOCAL_MACHINE"},
      {u"\\Software\\vardeno\\Morl_user\\", u"HKEY_CURRENT_USER"},
      {u"\\Software\\vardeno\\Tesk Runtime\\", u"HKEY_CURRENT_USER"},
  };
  std::vector<RegistryAccessTest> tests;
  for (const auto& [key, root] : kKeys) {
    RegistryAccessTest test{key, root, u"ko", u"ko"};
    try {
      if (RegWriteString(ctx.platform.registry, key, u"testWrite", u"Défini",
                         root)) {
        test.writing = u"ok";
      }
    } catch (const std::exception& e) {
      // The key opened but the value could not be stored: writing failed.
      LogError(ctx, e, u"file_io", u"TestRegistryAccess",
               kRegistryTestWriteCode);
    }
    const WideString read =
        RegReadString(ctx.platform.registry, key, u"testWrite", u"Pas défini");
    test.reading = read != u"Pas défini" ? u"ok" : u"ko";
    tests.push_back(std::move(test));
  }
  return tests;
}

AnsiString BuildConfigurationReport(Context& ctx) {
  const platform::DateTime now = ctx.platform.clock.now();
  const platform::RegionalSettings settings =
      ctx.platform.clock.regionalSettings();
  WideString r = u"<p>Traces du " +
                 FormatDateTime(u"dd/mm/yyyy hh:nn:ss", now, settings) +
                 u"</p>" + kCrLf;
  r += WideString(u"<table class=\"LogConfiguration\">") + kCrLf;

  r += WideString(u"<tr><td><table class=\"LogSystemAccess\">") + kCrLf;
  r += WideString(
           u"\t<tr><th>System Access</th><th>Path</th><th>Test</th></tr>") +
       kCrLf;
  for (const FolderAccessTest& test : TestSystemAccess(ctx)) {
    r += u"\t<tr><td>Path to " + test.label + u"</td><td>" + test.folder +
         u"</td>" + ResultCell(test.result) + u"</tr>" + kCrLf;
  }
  const WideString dataFolder = DataFolder(ctx);
  const bool dataExists = ctx.platform.files.directoryExists(dataFolder);
  r += u"<tr><td>Data Folder</td><td>" + dataFolder + u"</td>" +
       (dataExists ? u"<td class=\"OK\">Folder exists</td>"
                   : u"<td class=\"KO\">Folder doesn't exist</td>") +
       u"</tr>" + kCrLf;
  r += WideString(u"</table></td></tr>") + kCrLf;

  const std::vector<RegistryAccessTest> registry = TestRegistryAccess(ctx);
  WideString failed;
  for (const RegistryAccessTest& test : registry) {
    if (test.writing == u"ok" && test.reading == u"ok") continue;
    failed += u"\t<tr><td>" + test.rootName + test.keyPath + u"</td>" +
              YesNoCell(test.writing) + YesNoCell(test.reading) + u"</tr>" +
              kCrLf;
  }
  if (!failed.empty()) {
    r += WideString(u"<tr><td><table class=\"LogRegistry\">") + kCrLf;
    r += u"\t<tr><th>Registry key</th><th>Writing</th><th>Reading</th></tr>";
    r += failed;
    r += WideString(u"</table></td></tr>") + kCrLf;
  }

  const WideString virtualStore = VirtualStoreRows(ctx);
  if (!virtualStore.empty()) {
    r += WideString(u"<tr><td><table class=\"LogVirtualStore\">") + kCrLf;
    r += WideString(
             u"\t<tr><th>Local VirtualStore Path</th><th>Test</th></tr>") +
         kCrLf;
    r += virtualStore;
    r += WideString(u"</table></td></tr>") + kCrLf;
  }

  const WideString key = u"\\SOFTWARE\\vardeno\\Tesk 5\\";
  platform::RegistryStore& reg = ctx.platform.registry;
  const WideString release = RegReadString(
      reg, key, u"Release",
      GetFileVersionString(ctx.platform.folders, u"", u"%d.%d.%d.%d"));
  const std::pair<const char16_t*, WideString> parameters[] = {
      {u"ExePath", RegReadString(reg, key, u"ExePath", u"")},
      {u"InstallPath", RegReadString(reg, key, u"InstallPath", u"")},
      {u"Version", RegReadString(reg, key, u"Version", u"")},
      {u"Release", release},
      {u"Data ExtractShortPathName", ShortPathOrEmpty(ctx, dataFolder)},
      {u"Data Protected Path", ProtectPath(ctx, dataFolder, true)},
  };
  r += WideString(u"<tr><td><table class=\"LogParameters\">") + kCrLf;
  r += WideString(u"\t<tr><th>Data</th><th>Value</th></tr>") + kCrLf;
  for (const auto& [head, value] : parameters) {
    r += u"\t<tr><td>" + WideString(head) + u"</td><td>" + value +
         u"</td></tr>" + kCrLf;
  }
  r += WideString(u"</table></td></tr>") + kCrLf;
  r += u"</table>";
  return WideToAnsi(r);
}

}  // namespace zept
