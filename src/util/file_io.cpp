#include "util/file_io.h"

#include "platform/codepage.h"
#include "util/reglib.h"
#include "util/textlib.h"

namespace zept {

namespace {
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
}  // namespace

WideString GetSpecialFolder(Context& ctx, int csidl) {
  return ctx.platform.folders.specialFolder(csidl);
}

WideString GetMyDocumentsFolder(Context& ctx) {
  return GetSpecialFolder(ctx, platform::kCsidlMyDocuments);
}

WideString GetTempFolder(Context& ctx) {
  return ctx.platform.folders.tempFolder() + u"\\";
}

WideString CreateTempSubfolder(Context& ctx, const WideString& prefix) {
  platform::FileSystem& fs = ctx.platform.files;
  const WideString temp = GetTempFolder(ctx);
  if (!fs.directoryExists(temp)) return u"";
  for (std::int64_t n = 1; n <= 2147483645; ++n) {
    WideString candidate = temp + prefix + IntToStr(n) + u"\\";
    if (fs.directoryExists(candidate) || fs.fileExists(candidate)) continue;
    try {
      fs.createDirectories(candidate);
    } catch (const std::exception&) {
      return u"";
    }
    return candidate;
  }
  return u"";
}

WideString GetWindowsFolder(Context& ctx) {
  return ctx.platform.folders.windowsFolder();
}

WideString GetSystemRoot(Context& ctx) {
  const WideString windows = GetWindowsFolder(ctx);
  const std::size_t slash = windows.find(u'\\');
  return slash == WideString::npos ? u"" : windows.substr(0, slash);
}

WideString GetProgramFilesFolder(Context& ctx) {
  std::optional<WideString> value = ctx.platform.registry.readString(
      platform::RegistryRoot::LocalMachine,
      u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", u"ProgramFilesDir");
  return value.value_or(u"");
}

WideString WithTrailingBackslash(const WideString& path) {
  if (!path.empty() && path.back() == u'\\') return path;
  return path + u"\\";
}

WideString ExtractFileName(const WideString& path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return path.substr(i);
}

WideString ExtractFilePath(const WideString& path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return path.substr(0, i);
}

TWideStringArray ListSubfolders(Context& ctx, const WideString& folder) {
  TWideStringArray result;
  platform::FileSystem& fs = ctx.platform.files;
  if (!fs.directoryExists(folder)) return result;
  const WideString base = WithTrailingBackslash(folder);
  for (const platform::DirEntry& entry : fs.listDirectory(folder)) {
    if (entry.isDirectory) ArrayAdd(result, base + entry.name);
  }
  return result;
}

bool DeleteOneFile(Context& ctx, const WideString& fileName) {
  return ctx.platform.files.deleteFile(fileName);
}

bool DeleteFolder(Context& ctx, const WideString& folder, bool recursive) {
  platform::FileSystem& fs = ctx.platform.files;
  bool result = true;
  if (recursive) {
    try {
      for (const platform::DirEntry& entry : fs.listDirectory(folder)) {
        const WideString path = folder + u"\\" + entry.name;
        result = entry.isDirectory ? DeleteFolder(ctx, path, true)
                                   : DeleteOneFile(ctx, path);
        if (!result) break;
      }
    } catch (const std::exception& e) {
      LogError(ctx, e, u"file_io", u"DeleteFolder", 1504081531);
      result = false;
    }
  }
  if (result) result = fs.removeDirectory(folder);
  return result;
}

WideString readTextFile(Context& ctx, const WideString& fileName) {
  std::optional<std::string> bytes = ctx.platform.files.readFile(fileName);
  if (!bytes) return u"";
  WideString text;
  text.reserve(bytes->size() + bytes->size() / 16);
  std::size_t start = 0;
  const std::size_t n = bytes->size();
  while (start < n) {
    std::size_t lf = bytes->find('\n', start);
    std::size_t end = lf == std::string::npos ? n : lf;
    std::size_t lineEnd = end;
    if (lf != std::string::npos && lineEnd > start &&
        (*bytes)[lineEnd - 1] == '\r') {
      --lineEnd;
    }
    text += AnsiToWide(bytes->substr(start, lineEnd - start));
    text += u"\r\n";
    start = lf == std::string::npos ? n : lf + 1;
  }
  return text;
}

bool writeTextFile(Context& ctx, const std::string& content,
                   const WideString& fileName) {
  try {
    ctx.platform.files.replaceFile(fileName, content);
    return true;
  } catch (const std::exception& e) {
    LogError(ctx, e, u"file_io", u"writeTextFile", 28041);
    return false;
  }
}

WideString ProtectPath(Context& ctx, const WideString& path, bool quote) {
  WideString result = path;
  try {
    result = ctx.platform.folders.shortPathName(path);
  } catch (const std::exception& e) {
    LogError(ctx, e, u"file_io", u"ProtectPath", 403);
    result = path;
  }
  if (result.empty() && !path.empty()) result = path;
  if (quote && result.find(u' ') != WideString::npos) {
    result = u"\"" + path + u"\"";
  }
  return result;
}

}  // namespace zept
