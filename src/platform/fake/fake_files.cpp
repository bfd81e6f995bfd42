#include <algorithm>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/fake/fakes.h"

namespace zept::platform {
namespace {

WideString Parent(const WideString& path) {
  std::size_t slash = path.rfind(u'\\');
  return slash == WideString::npos ? u"" : path.substr(0, slash);
}

bool StartsWith(const WideString& text, const WideString& prefix) {
  return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

[[noreturn]] void Fail(const char* operation, const WideString& path,
                       const char* reason) {
  throw EFileError(SystemErrorMessage(operation, WideToUtf8(path), reason));
}

}  // namespace

WideString FakeFileSystem::Normalize(const WideString& path) {
  WideString out;
  for (char16_t c : path) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && !out.empty() && out.back() == u'\\') continue;
    out += c;
  }
  if (out.size() > 1 && out.back() == u'\\') out.pop_back();
  return out;
}

void FakeFileSystem::addFile(const WideString& path, const std::string& bytes,
                             bool readOnly) {
  const WideString p = Normalize(path);
  addDirectory(Parent(p));
  files_[p] = File{bytes, readOnly};
}

void FakeFileSystem::addDirectory(const WideString& path) {
  WideString p = Normalize(path);
  while (!p.empty() && p != u"\\") {
    dirs_.insert(p);
    p = Parent(p);
  }
}

const FakeFileSystem::File* FakeFileSystem::file(const WideString& path) const {
  auto it = files_.find(Normalize(path));
  return it == files_.end() ? nullptr : &it->second;
}

WideString FakeFileSystem::nativePath(const WideString& path) const {
  WideString native = path;
  std::replace(native.begin(), native.end(), u'\\', u'/');
  return native;
}

bool FakeFileSystem::fileExists(const WideString& path) {
  return files_.count(Normalize(path)) > 0;
}

bool FakeFileSystem::directoryExists(const WideString& path) {
  const WideString p = Normalize(path);
  return p == u"\\" || dirs_.count(p) > 0;
}

void FakeFileSystem::createDirectories(const WideString& path) {
  const WideString p = Normalize(path);
  if (StartsWith(p, failPrefix_)) Fail("create folder", p, "Permission denied");
  for (WideString q = p; !q.empty(); q = Parent(q)) {
    if (files_.count(q)) Fail("create folder", q, "Not a directory");
  }
  addDirectory(p);
}

std::optional<std::string> FakeFileSystem::readFile(const WideString& path) {
  auto it = files_.find(Normalize(path));
  if (it == files_.end()) return std::nullopt;
  return it->second.bytes;
}

void FakeFileSystem::checkWritable(const WideString& p) {
  if (StartsWith(p, failPrefix_)) Fail("open file", p, "Permission denied");
  if (!directoryExists(Parent(p)))
    Fail("open file", p, "No such file or directory");
  if (dirs_.count(p)) Fail("open file", p, "Is a directory");
  auto it = files_.find(p);
  if (it != files_.end() && it->second.readOnly) {
    Fail("open file", p, "Permission denied");
  }
}

void FakeFileSystem::appendFile(const WideString& path,
                                const std::string& bytes) {
  const WideString p = Normalize(path);
  ++appendCalls_;
  if (failAppends_ > 0) {
    --failAppends_;
    Fail("open file", p, "Resource temporarily unavailable");
  }
  checkWritable(p);
  files_[p].bytes += bytes;
}

void FakeFileSystem::replaceFile(const WideString& path,
                                 const std::string& bytes) {
  const WideString p = Normalize(path);
  checkWritable(p);
  if (failRenames_ > 0) {
    --failRenames_;
    Fail("replace file", p, "Input/output error");
  }
  files_[p].bytes = bytes;
}

bool FakeFileSystem::deleteFile(const WideString& path) {
  auto it = files_.find(Normalize(path));
  if (it == files_.end() || it->second.readOnly) return false;
  files_.erase(it);
  return true;
}

bool FakeFileSystem::removeDirectory(const WideString& path) {
  const WideString p = Normalize(path);
  if (!dirs_.count(p) || !listDirectory(p).empty()) return false;
  dirs_.erase(p);
  return true;
}

std::vector<DirEntry> FakeFileSystem::listDirectory(const WideString& path) {
  const WideString p = Normalize(path);
  if (p == failList_) Fail("list folder", p, "Permission denied");
  std::vector<DirEntry> entries;
  for (const auto& [name, f] : files_) {
    if (Parent(name) == p)
      entries.push_back({name.substr(p.size() + 1), false});
  }
  for (const WideString& dir : dirs_) {
    if (Parent(dir) == p) entries.push_back({dir.substr(p.size() + 1), true});
  }
  std::sort(
      entries.begin(), entries.end(),
      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return entries;
}

WideString FakeSystemFolders::shortPathName(const WideString& path) {
  if (shortNamesFail)
    throw EFileError("cannot get short name: Access is denied");
  if (!files_.fileExists(path) && !files_.directoryExists(path)) return u"";
  auto it = shortNames.find(path);
  return it == shortNames.end() ? path : it->second;
}

}  // namespace zept::platform
