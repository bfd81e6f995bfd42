#pragma once
// What the package kind and --check tests share: a scratch folder, packages
// written into it as folders, .zip files (zip64 ones too, by the writer
// below, so that no tool is needed) or a description on its own, a sample
// of each kind, and a run of the zept program.

#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace zept::test {

namespace fs = std::filesystem;

// Package path -> content.
using Files = std::map<std::string, std::string>;

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/zept-kinds-XXXXXX";
    root_ = ::mkdtemp(pattern);
  }
  ~Scratch() {
    std::error_code error;
    fs::remove_all(root_, error);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline void WriteFolder(const fs::path& folder, const Files& files) {
  fs::create_directories(folder);
  for (const auto& [name, bytes] : files) WriteFile(folder / name, bytes);
}

// A .zip of the files, stored. zip64: every size and offset in zip64 extra
// fields and the zip64 end records, as archivers write for large or
// streamed archives.
inline void WriteZip(const fs::path& path, const Files& files,
                     bool zip64 = false) {
  std::string out, central;
  const auto put = [](std::string& to, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to += static_cast<char>(value >> (8 * i));
  };
  const std::uint32_t kAll = 0xFFFFFFFF;
  for (const auto& [name, bytes] : files) {
    const std::uint64_t offset = out.size();
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
              static_cast<uInt>(bytes.size())));
    const auto header = [&](std::string& to, bool centralHeader) {
      put(to, centralHeader ? 0x02014b50 : 0x04034b50, 4);
      if (centralHeader) put(to, 45, 2);  // made by
      put(to, zip64 ? 45 : 20, 2);        // needed
      put(to, 0, 2);                      // flags
      put(to, 0, 2);                      // stored
      put(to, 0, 2);                      // time
      put(to, 0x21, 2);                   // date: 1980-01-01
      put(to, crc, 4);
      put(to, zip64 ? kAll : bytes.size(), 4);
      put(to, zip64 ? kAll : bytes.size(), 4);
      put(to, name.size(), 2);
      put(to, zip64 ? (centralHeader ? 28 : 20) : 0, 2);
      if (centralHeader) {
        put(to, 0, 2);  // comment
        put(to, 0, 2);  // disk
        put(to, 0, 2);  // internal attributes
        put(to, 0, 4);  // external attributes
        put(to, zip64 ? kAll : offset, 4);
      }
      to += name;
      if (zip64) {
        put(to, 0x0001, 2);
        put(to, centralHeader ? 24 : 16, 2);
        put(to, bytes.size(), 8);
        put(to, bytes.size(), 8);
        if (centralHeader) put(to, offset, 8);
      }
    };
    header(out, false);
    out += bytes;
    header(central, true);
  }
  const std::uint64_t centralAt = out.size();
  out += central;
  if (zip64) {
    const std::uint64_t recordAt = out.size();
    put(out, 0x06064b50, 4);
    put(out, 44, 8);
    put(out, 45, 2);
    put(out, 45, 2);
    put(out, 0, 4);
    put(out, 0, 4);
    put(out, files.size(), 8);
    put(out, files.size(), 8);
    put(out, central.size(), 8);
    put(out, centralAt, 8);
    put(out, 0x07064b50, 4);
    put(out, 0, 4);
    put(out, recordAt, 8);
    put(out, 1, 4);
  }
  put(out, 0x06054b50, 4);
  put(out, 0, 2);
  put(out, 0, 2);
  put(out, zip64 ? 0xFFFF : files.size(), 2);
  put(out, zip64 ? 0xFFFF : files.size(), 2);
  put(out, zip64 ? kAll : central.size(), 4);
  put(out, zip64 ? kAll : centralAt, 4);
  put(out, 0, 2);
  WriteFile(path, out);
}

// How a sample is written for a test.
enum class As { kFolder, kZip, kZip64 };

inline fs::path Write(const fs::path& at, const Files& files, As as) {
  if (as == As::kFolder) {
    WriteFolder(at, files);
    return at;
  }
  const fs::path zip = at.string() + ".zip";
  WriteZip(zip, files, as == As::kZip64);
  return zip;
}

inline std::string Scorm12Manifest(const std::string& title = "Lifting") {
  return "<?xml version=\"1.0\"?>\n"
         "<manifest identifier=\"lifting\" "
         "xmlns=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2\" "
         "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_rootv1p2\">\n"
         "<organizations default=\"org\"><organization identifier=\"org\">"
         "<title>" +
         title +
         "</title>\n"
         "<item identifier=\"part\"><title>Part</title>\n"
         "<item identifier=\"one\" identifierref=\"r1\"><title>One</title>"
         "</item>\n"
         "<item identifier=\"two\" identifierref=\"r2\"><title>Two</title>"
         "</item></item>\n"
         "</organization></organizations>\n"
         "<resources>"
         "<resource identifier=\"r1\" type=\"webcontent\" "
         "adlcp:scormtype=\"sco\" href=\"one.html\"/>"
         "<resource identifier=\"r2\" type=\"webcontent\" "
         "adlcp:scormtype=\"sco\" href=\"two/index.html?p=1\"/>"
         "</resources></manifest>\n";
}

inline Files Scorm12Package() {
  return {{"imsmanifest.xml", Scorm12Manifest()},
          {"one.html", "<p>one</p>"},
          {"two/index.html", "<p>two</p>"}};
}

inline Files Scorm2004Package() {
  return {{"imsmanifest.xml",
           "<?xml version=\"1.0\"?>\n"
           "<manifest identifier=\"golf\" "
           "xmlns=\"http://www.imsglobal.org/xsd/imscp_v1p1\" "
           "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_v1p3\">\n"
           "<metadata><schema>ADL SCORM</schema>"
           "<schemaversion>2004 4th Edition</schemaversion></metadata>\n"
           "<organizations default=\"org\"><organization identifier=\"org\">"
           "<title>Golf</title>\n"
           "<item identifier=\"play\" identifierref=\"r1\"><title>Play</title>"
           "</item>\n"
           "<item identifier=\"score\" identifierref=\"r2\"><title>Score"
           "</title></item>\n"
           "</organization></organizations>\n"
           "<resources>"
           "<resource identifier=\"r1\" type=\"webcontent\" "
           "adlcp:scormType=\"sco\" href=\"play.html\"/>"
           "<resource identifier=\"r2\" type=\"webcontent\" "
           "adlcp:scormType=\"sco\" href=\"score.html\"/>"
           "</resources></manifest>\n"},
          {"play.html", "<p>play</p>"},
          {"score.html", "<p>score</p>"}};
}

inline const std::string kCourseId = "https://example.org/courses/fire";

// A cmi5.xml of aus AUs at the urls given, in one block after the first.
inline std::string Cmi5Xml(const std::vector<std::string>& urls) {
  const auto au = [](std::size_t i, const std::string& url) {
    return "<au id=\"" + kCourseId + "/au" + std::to_string(i) +
           "\" moveOn=\"Completed\"><title><langstring lang=\"en-US\">AU " +
           std::to_string(i) +
           "</langstring></title><description><langstring lang=\"en-US\">d"
           "</langstring></description><url>" +
           url + "</url></au>\n";
  };
  std::string body = au(0, urls.at(0)) + "<block id=\"" + kCourseId +
                     "/block\"><title><langstring lang=\"en-US\">Block"
                     "</langstring></title><description><langstring "
                     "lang=\"en-US\">d</langstring></description>\n";
  for (std::size_t i = 1; i < urls.size(); ++i) body += au(i, urls[i]);
  body += "</block>\n";
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<courseStructure "
         "xmlns=\"https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd\">"
         "\n<course id=\"" +
         kCourseId +
         "\"><title><langstring lang=\"en-US\">Fire safety</langstring>"
         "</title><description><langstring lang=\"en-US\">About</langstring>"
         "</description></course>\n" +
         body + "</courseStructure>\n";
}

inline Files Cmi5Package() {
  return {{"cmi5.xml", Cmi5Xml({"intro/index.html",
                                "https://lms.example.org/fire/quiz.html"})},
          {"intro/index.html", "<p>intro</p>"}};
}

inline std::string TinCanXml(const std::string& launch) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<tincan xmlns=\"http://projecttincan.com/tincan.xsd\"><activities>\n"
         "<activity id=\"http://example.org/tincan/golf\" "
         "type=\"http://adlnet.gov/expapi/activities/course\">"
         "<name lang=\"und\">Golf</name><description lang=\"und\">Swing"
         "</description><launch lang=\"und\">" +
         launch +
         "</launch></activity>\n"
         "<activity id=\"http://example.org/tincan/golf/q1\" "
         "type=\"http://adlnet.gov/expapi/activities/cmi.interaction\">"
         "<name lang=\"und\">Q1</name></activity>\n"
         "</activities></tincan>\n";
}

inline Files TinCanPackage() {
  return {{"tincan.xml", TinCanXml("story.html")},
          {"story.html", "<p>story</p>"}};
}

// A course folder of the shell: its manifest, menu movie and player code.
inline Files ShellCourse() {
  return {{"imsmanifest.xml", Scorm12Manifest("Fire safety at work")},
          {"cdrom/cdrom.swf", "FWS"},
          {"bin/flash.ocx", "MZ"},
          {"one.html", ""},
          {"two/index.html", ""}};
}

struct Run {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// zept with args (each quoted), without a display, its data and
// configuration under home.
inline Run RunZept(const fs::path& home, const std::string& args) {
  const std::string command =
      "env -u DISPLAY -u WAYLAND_DISPLAY HOME='" + home.string() +
      "' XDG_DATA_HOME='" + (home / "data").string() + "' XDG_CONFIG_HOME='" +
      (home / "config").string() + "' " ZEPT_BINARY " " + args + " >'" +
      (home / "out").string() + "' 2>'" + (home / "err").string() + "'";
  Run run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = Slurp(home / "out");
  run.err = Slurp(home / "err");
  fs::remove(home / "out");
  fs::remove(home / "err");
  return run;
}

}  // namespace zept::test
