#include "app/package_kind.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "scorm2004/reader.h"
#include "util/utf8.h"

namespace zept {

namespace {

namespace fs = std::filesystem;
using scorm::EPackageError;

constexpr char kCmi5[] = "cmi5.xml";
constexpr char kTinCan[] = "tincan.xml";
constexpr char kManifest[] = "imsmanifest.xml";
// The shell's course folders hold its menu movie beside the manifest.
constexpr char kShellMenu[] = "cdrom/cdrom.swf";
constexpr char kShellCode[] = "bin/flash.ocx";

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// The description file given on its own, without content ("" when path
// is not one): its name says which.
std::string BareDescription(const fs::path& path) {
  const std::string name = path.filename().string();
  if (name == kCmi5 || name == kTinCan) return name;
  // A course structure under another name ("course.xml") is told by its
  // root element.
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(c));
  if (ext != ".xml") return "";
  std::ifstream in(path, std::ios::binary);
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  for (std::size_t at = head.find('<'); at != std::string::npos;
       at = head.find('<', at + 1)) {
    if (at + 1 < head.size() && (head[at + 1] == '?' || head[at + 1] == '!'))
      continue;
    std::size_t end = head.find_first_of(" \t\r\n/>", at + 1);
    if (end == std::string::npos) end = head.size();
    std::string root = head.substr(at + 1, end - at - 1);
    if (const std::size_t colon = root.find(':'); colon != std::string::npos)
      root.erase(0, colon + 1);
    if (root == "courseStructure") return kCmi5;
    if (root == "tincan") return kTinCan;
    return "";
  }
  return "";
}

std::string ReadBare(const std::string& nativePath) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(nativePath, error);
  if (error)
    throw EPackageError(
        SystemErrorMessage("read file", nativePath, error.message()));
  // As a package's own file is held (PackageFiles::read).
  if (size > scorm::PackageFiles::kReadLimit)
    throw EPackageError(nativePath + " is too large to be read at once");
  std::ifstream in(nativePath, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(size)))
    throw EPackageError(
        SystemErrorMessage("read file", nativePath, std::strerror(errno)));
  return bytes;
}

// The launch location's file ("sco1/a.html?x=1" -> "sco1/a.html"); "" when
// it names none.
std::string LaunchFile(const std::string& launch) {
  return scorm::PackagePath("", launch.substr(0, launch.find_first_of("?#")))
      .value_or("");
}

// An attribute's value without the white space around it.
std::string Trimmed(const std::string& text) {
  const char* space = " \t\r\n\f";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A reference to the network: a URL of http:, https: or another network
// scheme, or "//host/..." (the page's own scheme, which zept's is not).
bool IsRemote(const std::string& reference) {
  const std::string lower = AsciiLower(reference.substr(0, 8));
  return lower.starts_with("http:") || lower.starts_with("https:") ||
         lower.starts_with("ftp:") || lower.starts_with("ws:") ||
         lower.starts_with("wss:") || lower.starts_with("//");
}

// A reference with a scheme ("data:", "javascript:"), which names no file.
bool HasScheme(const std::string& reference) {
  const std::size_t colon = reference.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(reference[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = reference[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' &&
        c != '.')
      return false;
  }
  // "C:/..." is a Windows path, no scheme.
  return colon > 1;
}

void CountItems(const std::vector<scorm::Item>& items, std::size_t& count) {
  for (const scorm::Item& item : items) {
    ++count;
    CountItems(item.children, count);
  }
}

void WalkActivities(
    const scorm2004::Activity& parent,
    const std::function<void(const scorm2004::Activity&)>& visit) {
  for (const scorm2004::Activity& child : parent.children) {
    visit(child);
    WalkActivities(child, visit);
  }
}

struct Description {
  std::string title;
  std::string counts;
  std::size_t launchable = 0;
  std::vector<std::string> notOffline;
  std::vector<std::string> notes;
  // Launch pages whose references were read already.
  std::set<std::string> pagesRead;
};

// The attributes by which a page loads something as it opens (links the
// learner follows are left out): script, stylesheet, picture, frame,
// media and plug-in sources.
struct LoadingAttribute {
  const char* tag;
  const char* attribute;
};
constexpr LoadingAttribute kLoadingAttributes[] = {
    {"script", "src"},   {"link", "href"},  {"img", "src"},
    {"iframe", "src"},   {"frame", "src"},  {"embed", "src"},
    {"object", "data"},  {"audio", "src"},  {"video", "src"},
    {"video", "poster"}, {"source", "src"}, {"track", "src"},
    {"input", "src"},
};
// Of <link>, only these relations load what they name.
constexpr std::string_view kLoadingRelations[] = {"stylesheet", "icon",
                                                  "preload", "modulepreload"};

struct Tag {
  std::string name;                               // lower case
  std::map<std::string, std::string> attributes;  // names in lower case
};

// The start tags of an HTML page, in order, without what comments and the
// text of scripts and styles hold.
std::vector<Tag> StartTags(const std::string& html) {
  std::vector<Tag> tags;
  const auto lower = [](std::string text) {
    return AsciiLower(std::move(text));
  };
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
  };
  std::size_t at = 0;
  while ((at = html.find('<', at)) != std::string::npos) {
    if (html.compare(at, 4, "<!--") == 0) {
      const std::size_t end = html.find("-->", at + 4);
      if (end == std::string::npos) break;
      at = end + 3;
      continue;
    }
    std::size_t i = at + 1;
    if (i >= html.size() ||
        !std::isalpha(static_cast<unsigned char>(html[i]))) {
      ++at;
      continue;
    }
    Tag tag;
    while (i < html.size() && !space(html[i]) && html[i] != '>' &&
           html[i] != '/')
      tag.name += html[i++];
    tag.name = lower(tag.name);
    while (i < html.size() && html[i] != '>') {
      if (space(html[i]) || html[i] == '/') {
        ++i;
        continue;
      }
      std::string name;
      while (i < html.size() && !space(html[i]) && html[i] != '>' &&
             html[i] != '=' && html[i] != '/')
        name += html[i++];
      while (i < html.size() && space(html[i])) ++i;
      std::string value;
      if (i < html.size() && html[i] == '=') {
        ++i;
        while (i < html.size() && space(html[i])) ++i;
        if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
          const char quote = html[i++];
          const std::size_t end = html.find(quote, i);
          if (end == std::string::npos) return tags;
          value = html.substr(i, end - i);
          i = end + 1;
        } else {
          while (i < html.size() && !space(html[i]) && html[i] != '>')
            value += html[i++];
        }
      }
      tag.attributes.emplace(lower(name), value);
    }
    at = i;
    const bool raw = tag.name == "script" || tag.name == "style";
    tags.push_back(std::move(tag));
    if (raw) {
      // Their text ends at their end tag, in any case.
      const std::string end = "</" + tags.back().name;
      while ((at = html.find("</", at)) != std::string::npos &&
             lower(html.substr(at, end.size())) != end)
        at += 2;
      if (at == std::string::npos) break;
    }
  }
  return tags;
}

// The few character references a URL in an attribute carries.
std::string Unescaped(std::string text) {
  for (const auto& [from, to] :
       {std::pair<const char*, const char*>{"&amp;", "&"}, {"&#38;", "&"}}) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + 1))
      text.replace(at, std::strlen(from), to);
  }
  return text;
}

// A package path the package has, as it is written or in another case (the
// window finds it so); false for none.
bool HasFile(const scorm::PackageFiles& files, const std::string& path) {
  if (files.exists(path)) return true;
  const std::string wanted = AsciiLower(path);
  for (const scorm::PackageEntry& entry : files.entries())
    if (AsciiLower(entry.path) == wanted) return true;
  return false;
}

// What the launch page at page (a package path) loads that offline it
// cannot: from the network, or files the package lacks; once per page.
void PageNotes(const scorm::PackageFiles& files, const std::string& page,
               Description& out) {
  if (page.empty() || !out.pagesRead.insert(page).second) return;
  std::optional<std::string> html;
  try {
    html = files.read(page);
  } catch (const std::exception&) {
    return;  // said where it is played
  }
  if (!html) return;
  std::string folder = page.substr(0, page.rfind('/') + 1);
  if (page.find('/') == std::string::npos) folder.clear();
  bool networkBase = false;
  std::set<std::string> said;
  const auto say = [&](const std::string& line) {
    if (said.insert(line).second) out.notes.push_back(page + ": " + line);
  };
  for (const Tag& tag : StartTags(*html)) {
    if (tag.name == "base") {
      const auto href = tag.attributes.find("href");
      if (href == tag.attributes.end()) continue;
      const std::string base = Unescaped(Trimmed(href->second));
      if (IsRemote(base)) {
        networkBase = true;
        say("needs the network: " + base);
      } else if (const auto path = scorm::PackagePath(folder, base)) {
        folder = path->empty() || path->back() == '/'
                     ? *path
                     : path->substr(0, path->rfind('/') + 1);
      }
      continue;
    }
    for (const LoadingAttribute& loading : kLoadingAttributes) {
      if (tag.name != loading.tag) continue;
      const auto found = tag.attributes.find(loading.attribute);
      if (found == tag.attributes.end()) continue;
      if (tag.name == "link") {
        const auto rel = tag.attributes.find("rel");
        const std::string relations =
            rel == tag.attributes.end() ? "" : AsciiLower(rel->second);
        bool loads = false;
        for (const std::string_view relation : kLoadingRelations)
          loads = loads || relations.find(relation) != std::string::npos;
        if (!loads) continue;
      }
      const std::string reference = Unescaped(Trimmed(found->second));
      // What a script fills in, and what is not a file, is not looked for.
      if (reference.empty() || reference[0] == '#' ||
          reference.find("{{") != std::string::npos ||
          reference.find("${") != std::string::npos ||
          reference.find("<%") != std::string::npos)
        continue;
      if (IsRemote(reference)) {
        say("needs the network: " + reference);
        continue;
      }
      if (HasScheme(reference) || networkBase) continue;
      const std::string file =
          reference.substr(0, reference.find_first_of("?#"));
      if (file.empty()) continue;
      const std::optional<std::string> path = scorm::PackagePath(folder, file);
      if (!path || path->empty() || path->back() == '/' ||
          !HasFile(files, *path))
        say("missing: " + (path && !path->empty() ? *path : reference));
    }
  }
}

void MissingLaunch(const scorm::PackageFiles& files, const std::string& what,
                   const std::string& launch, Description& out) {
  const std::string file = LaunchFile(launch);
  if (file.empty() || !files.exists(file)) {
    out.notOffline.push_back(what + ": its launch file " +
                             (file.empty() ? launch : file) + " is missing");
    return;
  }
  PageNotes(files, file, out);
}

Description DescribeScorm(const OpenedPackage& package) {
  Description out;
  if (package.package2004) {
    const scorm2004::Package2004& tree = *package.package2004;
    out.title = tree.title;
    std::size_t count = 0;
    WalkActivities(tree.root, [&](const scorm2004::Activity& activity) {
      ++count;
      if (activity.launch.empty()) return;
      ++out.launchable;
      MissingLaunch(*package.files, "activity " + activity.identifier,
                    activity.launch, out);
    });
    out.counts = "activities: " + std::to_string(count) +
                 ", launchable: " + std::to_string(out.launchable);
    for (const std::string& line : tree.problems)
      out.notes.push_back(std::string(kManifest) + ": " + line);
    return out;
  }
  const scorm::Manifest& manifest = package.manifest;
  out.title = manifest.title;
  std::size_t count = 0;
  CountItems(manifest.items, count);
  for (const scorm::Item* item : scorm::LaunchableItems(manifest)) {
    ++out.launchable;
    MissingLaunch(*package.files, "item " + item->identifier, item->launch,
                  out);
  }
  out.counts = "items: " + std::to_string(count) +
               ", launchable: " + std::to_string(out.launchable);
  for (const std::string& line : manifest.problems)
    out.notes.push_back(std::string(kManifest) + ": " + line);
  return out;
}

Description DescribeCmi5(const cmi5::Course& course,
                         const scorm::PackageFiles* files) {
  Description out;
  out.title = cmi5::Pick(course.title, "");
  out.counts = "AUs: " + std::to_string(course.aus.size()) +
               ", blocks: " + std::to_string(course.blocks.size());
  out.launchable = course.aus.size();
  for (const cmi5::Au& au : course.aus) {
    if (!au.relative())
      out.notOffline.push_back("AU " + au.id + ": at " + au.url +
                               ", a fully qualified URL");
    else if (files)
      PageNotes(*files, au.packagePath, out);
  }
  for (const std::string& line : course.notes)
    out.notes.push_back(std::string(kCmi5) + ": " + line);
  return out;
}

Description DescribeTinCan(const tincan::Package& package,
                           const scorm::PackageFiles* files) {
  Description out;
  out.title = cmi5::Pick(package.main().name, "");
  if (out.title.empty()) out.title = package.main().id;
  out.launchable = package.launchable.size();
  out.counts = "activities: " + std::to_string(package.activities.size()) +
               ", launchable: " + std::to_string(out.launchable);
  for (const std::size_t i : package.launchable) {
    const tincan::Activity& activity = package.activities[i];
    bool offline = false;
    for (const tincan::Launch& launch : activity.launches) {
      offline = offline || launch.relative();
      if (launch.relative() && files)
        PageNotes(*files, launch.packagePath, out);
    }
    if (!offline)
      out.notOffline.push_back("activity " + activity.id + ": at " +
                               activity.launches.front().url +
                               ", a fully qualified URL");
  }
  for (const std::string& line : package.notes)
    out.notes.push_back(std::string(kTinCan) + ": " + line);
  return out;
}

}  // namespace

const char* KindName(PackageKind kind) {
  switch (kind) {
    case PackageKind::kScorm12:
      return "SCORM 1.2 package";
    case PackageKind::kScorm2004:
      return "SCORM 2004 package";
    case PackageKind::kCmi5:
      return "cmi5 course";
    case PackageKind::kTinCan:
      return "Tin Can package";
    case PackageKind::kShellCourse:
      break;
  }
  return "course of the zept shell";
}

bool IsPackagePath(const std::string& nativePath) {
  const fs::path path(nativePath);
  if (IsFile(path)) return true;
  std::error_code error;
  return IsFile(path / kCmi5) || IsFile(path / kTinCan) ||
         (IsFile(path / kManifest) && !fs::exists(path / kShellMenu, error));
}

OpenedPackage OpenAnyPackage(const std::string& nativePath) {
  OpenedPackage opened;
  const fs::path path(nativePath);
  std::error_code error;
  const bool folder = fs::is_directory(path, error);
  if (!folder) {
    const std::string bare = BareDescription(path);
    if (bare == kCmi5) {
      opened.kind = PackageKind::kCmi5;
      try {
        opened.course = cmi5::ParseCourse(ReadBare(nativePath), nullptr);
      } catch (const cmi5::ECourseError& e) {
        throw EPackageError(nativePath + ": " + e.what());
      }
      return opened;
    }
    if (bare == kTinCan) {
      opened.kind = PackageKind::kTinCan;
      try {
        opened.tincan = tincan::ReadPackage(ReadBare(nativePath), nullptr);
      } catch (const tincan::EPackageError& e) {
        throw EPackageError(nativePath + ": " + e.what());
      }
      return opened;
    }
  }
  opened.files = folder ? scorm::OpenFolderPackage(nativePath)
                        : scorm::OpenZipPackage(nativePath);
  const scorm::PackageFiles& files = *opened.files;
  const std::string& at = files.location();
  if (const std::optional<std::string> bytes = files.read(kCmi5)) {
    opened.kind = PackageKind::kCmi5;
    try {
      opened.course = cmi5::ParseCourse(*bytes, &files);
    } catch (const cmi5::ECourseError& e) {
      throw EPackageError(at + ": " + e.what());
    }
    return opened;
  }
  if (const std::optional<std::string> bytes = files.read(kTinCan)) {
    opened.kind = PackageKind::kTinCan;
    try {
      opened.tincan = tincan::ReadPackage(*bytes, &files);
    } catch (const tincan::EPackageError& e) {
      throw EPackageError(at + ": " + e.what());
    }
    return opened;
  }
  const std::optional<std::string> bytes = files.read(kManifest);
  if (!bytes)
    throw EPackageError(at +
                        " is not a package zept plays: it has no "
                        "imsmanifest.xml, cmi5.xml or tincan.xml");
  try {
    scorm2004::ManifestReading reading = scorm2004::ReadAnyManifest(*bytes);
    opened.manifest = std::move(reading.manifest);
    opened.package2004 = std::move(reading.package2004);
  } catch (const scorm::EManifestError& e) {
    throw EPackageError(at + "/" + kManifest + ": " + e.what());
  }
  opened.kind =
      opened.package2004 ? PackageKind::kScorm2004 : PackageKind::kScorm12;
  if (folder && files.exists(kShellMenu)) {
    opened.kind = PackageKind::kShellCourse;
    if (!files.exists(kShellCode))
      throw EPackageError(at + " is a course of the zept shell without " +
                          kShellCode + ": it cannot play");
  }
  return opened;
}

std::vector<std::string> DescribePackage(const OpenedPackage& package) {
  Description about;
  switch (package.kind) {
    case PackageKind::kCmi5:
      about = DescribeCmi5(*package.course, package.files.get());
      break;
    case PackageKind::kTinCan:
      about = DescribeTinCan(*package.tincan, package.files.get());
      break;
    default:
      about = DescribeScorm(package);
      break;
  }
  std::string kind = KindName(package.kind);
  if (package.package2004) kind += " (" + package.package2004->version + ")";
  std::vector<std::string> lines{
      "kind: " + kind,
      "title: " + about.title,
      about.counts,
      "offline: " + std::to_string(about.launchable - about.notOffline.size()) +
          " of " + std::to_string(about.launchable) + " playable",
  };
  for (const std::string& line : about.notOffline)
    lines.push_back("not offline: " + line);
  if (package.files) {
    for (const std::string& line : package.files->warnings())
      lines.push_back("note: " + line);
  }
  for (const std::string& line : about.notes) lines.push_back("note: " + line);
  for (std::string& line : lines) line = OneLine(line);
  return lines;
}

}  // namespace zept
