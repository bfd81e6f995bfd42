// What a package is, found once from its folder, .zip (zip64 too) or bare
// description, and each refusal with the fault it names.

#include "app/package_kind.h"

#include <gtest/gtest.h>

#include "app/package_harness.h"
#include "scorm2004/reader.h"
#include "store/progress_store.h"

namespace zept {
namespace {

using test::As;
using test::Files;

struct KindCase {
  const char* name;
  Files files;
  PackageKind kind;
  std::string title;
};

std::vector<KindCase> KindCases() {
  return {
      {"SCORM 1.2", test::Scorm12Package(), PackageKind::kScorm12, "Lifting"},
      {"SCORM 2004", test::Scorm2004Package(), PackageKind::kScorm2004, "Golf"},
      {"cmi5", test::Cmi5Package(), PackageKind::kCmi5, "Fire safety"},
      {"Tin Can", test::TinCanPackage(), PackageKind::kTinCan, "Golf"},
      // A package carrying both descriptions is what its cmi5.xml or
      // tincan.xml says: a SCORM manifest beside them is the export's spare.
      {"cmi5 before SCORM",
       [] {
         Files files = test::Cmi5Package();
         files.merge(test::Scorm12Package());
         return files;
       }(),
       PackageKind::kCmi5, "Fire safety"},
      {"Tin Can before SCORM",
       [] {
         Files files = test::TinCanPackage();
         files.merge(test::Scorm12Package());
         return files;
       }(),
       PackageKind::kTinCan, "Golf"},
  };
}

std::string TitleOf(const OpenedPackage& package) {
  switch (package.kind) {
    case PackageKind::kCmi5:
      return cmi5::Pick(package.course->title, "en");
    case PackageKind::kTinCan:
      return cmi5::Pick(package.tincan->main().name, "en");
    case PackageKind::kScorm2004:
      return package.package2004->title;
    default:
      return package.manifest.title;
  }
}

TEST(PackageKind, EachKindIsFoundInAFolderAZipAndAZip64) {
  const test::Scratch scratch;
  int n = 0;
  for (const KindCase& c : KindCases()) {
    for (const As as : {As::kFolder, As::kZip, As::kZip64}) {
      SCOPED_TRACE(std::string(c.name) + " as " +
                   std::to_string(static_cast<int>(as)));
      const auto path =
          test::Write(scratch.root() / std::to_string(n++), c.files, as);
      ASSERT_TRUE(IsPackagePath(path));
      const OpenedPackage package = OpenAnyPackage(path);
      EXPECT_EQ(package.kind, c.kind);
      EXPECT_EQ(TitleOf(package), c.title);
      ASSERT_TRUE(package.files);
      EXPECT_EQ(package.course.has_value(), c.kind == PackageKind::kCmi5);
      EXPECT_EQ(package.tincan.has_value(), c.kind == PackageKind::kTinCan);
      EXPECT_EQ(package.package2004.has_value(),
                c.kind == PackageKind::kScorm2004);
      // Every file reads whole, from the zip64 archive too.
      for (const auto& [name, bytes] : c.files)
        EXPECT_EQ(package.files->read(name), bytes) << name;
    }
  }
}

TEST(PackageKind, AShellCourseFolderIsTheShells) {
  const test::Scratch scratch;
  const auto path =
      test::Write(scratch.root() / "course", test::ShellCourse(), As::kFolder);
  EXPECT_FALSE(IsPackagePath(path));
  const OpenedPackage package = OpenAnyPackage(path);
  EXPECT_EQ(package.kind, PackageKind::kShellCourse);
  EXPECT_EQ(package.manifest.title, "Fire safety at work");
}

TEST(PackageKind, IsPackagePathTellsPackagesFromShellCourses) {
  const test::Scratch scratch;
  struct Case {
    const char* name;
    Files files;
    bool package;
  };
  int n = 0;
  for (const Case& c : std::vector<Case>{
           {"cmi5 folder", test::Cmi5Package(), true},
           {"Tin Can folder", test::TinCanPackage(), true},
           {"SCORM folder", test::Scorm12Package(), true},
           {"shell course", test::ShellCourse(), false},
           {"empty folder", {}, false},
       }) {
    SCOPED_TRACE(c.name);
    const auto path = scratch.root() / std::to_string(n++);
    test::WriteFolder(path, c.files);
    EXPECT_EQ(IsPackagePath(path), c.package);
  }
  test::WriteFile(scratch.root() / "bare" / "cmi5.xml",
                  test::Cmi5Xml({"https://lms.example.org/a"}));
  EXPECT_TRUE(IsPackagePath(scratch.root() / "bare" / "cmi5.xml"));
}

TEST(PackageKind, ADescriptionOnItsOwnIsAPackageWithoutFiles) {
  const test::Scratch scratch;
  const auto path = scratch.root() / "cmi5.xml";
  test::WriteFile(path, test::Cmi5Xml({"https://lms.example.org/fire/a.html",
                                       "https://lms.example.org/fire/b.html"}));
  const OpenedPackage package = OpenAnyPackage(path);
  EXPECT_EQ(package.kind, PackageKind::kCmi5);
  EXPECT_FALSE(package.files);
  ASSERT_EQ(package.course->aus.size(), 2u);
  EXPECT_FALSE(package.course->aus[0].relative());

  const auto tincan = scratch.root() / "tincan.xml";
  test::WriteFile(tincan, test::TinCanXml("https://lms.example.org/golf"));
  const OpenedPackage alone = OpenAnyPackage(tincan);
  EXPECT_EQ(alone.kind, PackageKind::kTinCan);
  EXPECT_FALSE(alone.files);
  EXPECT_FALSE(alone.tincan->main().launches[0].relative());

  // Under another name, a course structure is known by its root element.
  const auto named = scratch.root() / "101-course.XML";
  std::string commented =
      test::Cmi5Xml({"https://lms.example.org/a", "https://lms.example.org/b"});
  commented.insert(commented.find('\n') + 1, "<!-- a course -->\n");
  test::WriteFile(named, commented);
  EXPECT_EQ(OpenAnyPackage(named).kind, PackageKind::kCmi5);
  const auto other = scratch.root() / "notes.xml";
  test::WriteFile(other, "<notes/>");
  EXPECT_THROW(OpenAnyPackage(other), scorm::EPackageError);
}

// The SCORM 1.2 reading still names a 2004 package's store: the manifest
// parsed once gives what the two readers gave apart.
TEST(PackageKind, OneParseReadsA2004ManifestAsBothReadersDid) {
  const std::string bytes = test::Scorm2004Package().at("imsmanifest.xml");
  const scorm2004::ManifestReading reading = scorm2004::ReadAnyManifest(bytes);
  const scorm::Manifest apart = scorm::ReadManifest(bytes);
  EXPECT_EQ(scorm::PackageKey(reading.manifest), scorm::PackageKey(apart));
  EXPECT_EQ(reading.manifest.title, apart.title);
  EXPECT_EQ(scorm::LaunchableItems(reading.manifest).size(), 2u);
  ASSERT_TRUE(reading.package2004);
  EXPECT_EQ(reading.package2004->version, "2004 4th Edition");
  EXPECT_EQ(reading.package2004->root.children.size(), 2u);
  EXPECT_FALSE(
      scorm2004::ReadAnyManifest(test::Scorm12Package().at("imsmanifest.xml"))
          .package2004);
}

TEST(PackageKind, RefusesWithAMessageNamingTheFault) {
  struct Case {
    const char* name;
    Files files;
    std::string message;  // after the package's path
  };
  const auto with = [](Files files, const std::string& name,
                       const std::string& bytes) {
    files[name] = bytes;
    return files;
  };
  const auto without = [](Files files, const std::string& name) {
    files.erase(name);
    return files;
  };
  const test::Scratch scratch;
  int n = 0;
  for (const Case& c : std::vector<Case>{
           {"no description",
            {{"index.html", ""}},
            " is not a package zept plays: it has no imsmanifest.xml, "
            "cmi5.xml or tincan.xml"},
           {"cmi5 AU file missing",
            without(test::Cmi5Package(), "intro/index.html"),
            ": cmi5.xml: line 4: au url 'intro/index.html' names a file the "
            "package lacks"},
           {"cmi5 not XML", with({}, "cmi5.xml", "<courseStructure>"),
            ": cmi5.xml is not well-formed"},
           {"Tin Can launch missing",
            without(test::TinCanPackage(), "story.html"),
            ": tincan.xml: line 3: launch 'story.html' names a file the "
            "package lacks"},
           {"Tin Can id not an IRI",
            with({{"a.html", ""}}, "tincan.xml",
                 "<tincan><activities><activity id=\"golf\"><launch>a.html"
                 "</launch></activity></activities></tincan>"),
            ": tincan.xml: line 1: activity id 'golf' is not an IRI"},
           {"manifest not XML", with({}, "imsmanifest.xml", "<manifest"),
            "/imsmanifest.xml: the manifest is not well-formed"},
           {"2004 without organization",
            with({}, "imsmanifest.xml",
                 "<manifest xmlns=\"http://www.imsglobal.org/xsd/imscp_v1p1\">"
                 "<metadata><schemaversion>2004 3rd Edition</schemaversion>"
                 "</metadata></manifest>"),
            "/imsmanifest.xml: line 1: the manifest has no organization"},
       }) {
    for (const As as : {As::kFolder, As::kZip}) {
      SCOPED_TRACE(std::string(c.name) + (as == As::kZip ? " zip" : ""));
      const auto path =
          test::Write(scratch.root() / std::to_string(n++), c.files, as);
      try {
        OpenAnyPackage(path);
        ADD_FAILURE() << "opened";
      } catch (const scorm::EPackageError& e) {
        const std::string expected = path.string() + c.message;
        EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected)
            << e.what();
      }
    }
  }
  // Not a zip, and a bare cmi5.xml with a relative AU.
  test::WriteFile(scratch.root() / "bad.zip", "PK not really");
  EXPECT_THROW(OpenAnyPackage(scratch.root() / "bad.zip"),
               scorm::EPackageError);
  test::WriteFile(scratch.root() / "alone" / "cmi5.xml",
                  test::Cmi5Xml({"index.html"}));
  try {
    OpenAnyPackage(scratch.root() / "alone" / "cmi5.xml");
    ADD_FAILURE() << "opened";
  } catch (const scorm::EPackageError& e) {
    EXPECT_NE(std::string(e.what()).find(
                  "au url 'index.html' is relative, which needs the course in "
                  "a package"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace zept
