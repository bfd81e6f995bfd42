#pragma once
// In-memory stand-ins for the platform services, for tests. Each can be set
// up freely and told to fail where a test needs a failure.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "platform/http.h"
#include "platform/platform.h"
#include "platform/printers.h"

namespace zept::platform {

// Paths are normalised: "/" and "\" both separate, doubled and trailing
// separators are dropped. Names are case-sensitive. Native paths are this
// platform's, with "/".
class FakeFileSystem final : public FileSystem {
 public:
  struct File {
    std::string bytes;
    bool readOnly = false;
  };

  static WideString Normalize(const WideString& path);

  // Set-up and inspection.
  void addFile(const WideString& path, const std::string& bytes,
               bool readOnly = false);
  void addDirectory(const WideString& path);
  const File* file(const WideString& path) const;
  std::size_t fileCount() const { return files_.size(); }

  // Failures: writes (append or replace) to paths starting with the prefix;
  // the next n appends; the next n renames of replaceFile (after the data
  // was written); listing of one folder.
  void failWritesUnder(const WideString& prefix) {
    failPrefix_ = Normalize(prefix);
  }
  void failNextAppends(int n) { failAppends_ = n; }
  void failNextRenames(int n) { failRenames_ = n; }
  void failListing(const WideString& path) { failList_ = Normalize(path); }
  int appendCalls() const { return appendCalls_; }

  WideString nativePath(const WideString& path) const override;
  bool fileExists(const WideString& path) override;
  bool directoryExists(const WideString& path) override;
  void createDirectories(const WideString& path) override;
  std::optional<std::string> readFile(const WideString& path) override;
  void appendFile(const WideString& path, const std::string& bytes) override;
  void replaceFile(const WideString& path, const std::string& bytes) override;
  bool deleteFile(const WideString& path) override;
  bool removeDirectory(const WideString& path) override;
  std::vector<DirEntry> listDirectory(const WideString& path) override;

 private:
  void checkWritable(const WideString& path);

  std::map<WideString, File> files_;
  std::set<WideString> dirs_;
  WideString failPrefix_;
  WideString failList_ = u"\x01";
  int failAppends_ = 0;
  int failRenames_ = 0;
  int appendCalls_ = 0;
};

class FakeRegistry final : public RegistryStore {
 public:
  // A read-only hive cannot open keys for writing; a broken store throws on
  // every read.
  void setReadOnly(RegistryRoot root, bool readOnly) {
    readOnly_[Index(root)] = readOnly;
  }
  void setBroken(bool broken) { broken_ = broken; }
  // Keys open but writes throw (a full disk).
  void setFailWrites(bool fail) { failWrites_ = fail; }

  bool keyExists(RegistryRoot root, const WideString& key) override;
  bool createKey(RegistryRoot root, const WideString& key) override;
  std::optional<WideString> readString(RegistryRoot root, const WideString& key,
                                       const WideString& name) override;
  void writeString(RegistryRoot root, const WideString& key,
                   const WideString& name, const WideString& value) override;
  bool deleteValue(RegistryRoot root, const WideString& key,
                   const WideString& name) override;
  bool deleteKey(RegistryRoot root, const WideString& key) override;
  std::vector<WideString> listSubkeys(RegistryRoot root,
                                      const WideString& key) override;
  std::vector<std::pair<WideString, WideString>> listValues(
      RegistryRoot root, const WideString& key) override;
  // Only this process sees it.
  WideString location(RegistryRoot) const override { return u""; }

 private:
  struct Key {
    WideString name;
    std::map<WideString, std::pair<WideString, WideString>> values;  // by fold
  };
  static int Index(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine;
  }
  static WideString Fold(const WideString& key);
  void ensure(RegistryRoot root, const WideString& key);

  std::map<WideString, Key> keys_[2];  // by folded path
  bool readOnly_[2] = {false, false};
  bool broken_ = false;
  bool failWrites_ = false;
};

// Locks kept in memory and shared by everything on one fake platform, as a
// user's processes share the real ones. A wait ends at once: nothing else
// runs meanwhile that could let a lock go.
class FakeLocks final : public Locks {
 public:
  // Locking is not possible: tryLock throws.
  void setBroken(bool broken) { broken_ = broken; }
  bool held(const WideString& name) const { return held_->count(name) > 0; }

  std::unique_ptr<HeldLock> tryLock(const WideString& name,
                                    int waitMs) override;

 private:
  // Shared with the held locks, which may outlive the fake.
  std::shared_ptr<std::set<WideString>> held_ =
      std::make_shared<std::set<WideString>>();
  bool broken_ = false;
};

class FakeSystemFolders final : public SystemFolders {
 public:
  explicit FakeSystemFolders(FileSystem& files) : files_(files) {}

  std::map<int, WideString> special;
  WideString temp = u"/tmp";
  WideString windows;
  WideString program = u"/opt/zept/zept";
  std::optional<VersionNumbers> version = VersionNumbers{6, 0, 3, 67};
  // Short forms of existing paths; an existing path without one is its own.
  std::map<WideString, WideString> shortNames;
  bool shortNamesFail = false;

  WideString specialFolder(int csidl) override {
    auto it = special.find(csidl);
    return it == special.end() ? u"" : it->second;
  }
  WideString tempFolder() override { return temp; }
  WideString windowsFolder() override { return windows; }
  WideString programPath() override { return program; }
  WideString shortPathName(const WideString& path) override;
  std::optional<VersionNumbers> fileVersion(const WideString& file) override {
    return file.empty() || file == program ? version : std::nullopt;
  }

 private:
  FileSystem& files_;
};

class FakeClock final : public Clock {
 public:
  DateTime time{2026, 12, 6, 10, 30, 15, 250};
  RegionalSettings settings;

  DateTime now() override { return time; }
  RegionalSettings regionalSettings() override { return settings; }
};

// Printers that keep the documents they are sent.
class FakePrinters final : public Printers {
 public:
  std::vector<WideString> names;
  std::pair<double, double> paper{8.5, 11};
  struct Job {
    WideString printer, title;
    std::string pdf;
  };
  std::vector<Job> jobs;
  bool refuse = false;

  std::vector<WideString> destinations() override { return names; }
  std::optional<std::pair<double, double>> defaultPaper(
      const WideString&) override {
    return paper;
  }
  void submitPdf(const WideString& name, const WideString& title,
                 const std::string& pdf) override;
};

// An HTTP server played from a script: each request is recorded and gets the
// next scripted answer; when the script is used up, a transport failure.
class FakeHttp final : public Http {
 public:
  static HttpResponse Answer(int status, std::string body = "",
                             std::map<std::string, std::string> headers = {});
  static HttpResponse Failure(std::string error);

  std::deque<HttpResponse> script;
  // When set, answers instead of the script.
  std::function<HttpResponse(const HttpRequest&)> answer;
  std::vector<HttpRequest> requests;

  HttpResponse send(const HttpRequest& request) override;
};

// All fakes together, wired as a Platform.
struct FakePlatform {
  FakeFileSystem files;
  FakeRegistry registry;
  FakeSystemFolders folders{files};
  FakeClock clock;
  FakeLocks locks;
  Platform platform{registry, folders, files, clock, locks};
};

}  // namespace zept::platform
