#include "package/package.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "package/package_internal.h"

namespace zept::scorm {
namespace {

namespace fs = std::filesystem;

// A minimal zip writer, so that the tests can write what no zip library
// writes: names that climb out, repeated names, sizes that lie.
struct RawEntry {
  std::string name;
  std::string data;
  bool deflated = false;  // one stored deflate block: method 8, no zlib
  std::optional<std::uint32_t> statedSize = std::nullopt;
  bool dataOffsetPastEnd = false;
};

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void Put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

std::string ZipBytes(const std::vector<RawEntry>& entries) {
  std::string out;
  std::string central;
  for (const RawEntry& e : entries) {
    std::string payload = e.data;
    if (e.deflated) {
      payload = "\x01";
      Put(payload, e.data.size(), 2);
      Put(payload, ~e.data.size() & 0xFFFF, 2);
      payload += e.data;
    }
    const std::uint32_t offset = e.dataOffsetPastEnd ? 1u << 30 : out.size();
    // Shared by the local header and the central record.
    std::string common;
    Put(common, 20, 2);     // version needed
    Put(common, 0x800, 2);  // names are UTF-8
    Put(common, e.deflated ? 8 : 0, 2);
    Put(common, 0, 2);     // time
    Put(common, 0x21, 2);  // date
    Put(common, Crc32(e.data), 4);
    Put(common, payload.size(), 4);
    Put(common, e.statedSize.value_or(e.data.size()), 4);
    Put(common, e.name.size(), 2);
    Put(common, 0, 2);  // extra field
    Put(out, 0x04034b50, 4);
    out += common + e.name + payload;
    Put(central, 0x02014b50, 4);
    Put(central, 20, 2);  // version made by
    central += common;
    Put(central, 0, 2);  // comment
    Put(central, 0, 2);  // disk
    Put(central, 0, 2);  // internal attributes
    Put(central, 0, 4);  // external attributes
    Put(central, offset, 4);
    central += e.name;
  }
  const std::uint32_t centralAt = out.size();
  out += central;
  Put(out, 0x06054b50, 4);
  Put(out, 0, 4);  // disks
  Put(out, entries.size(), 2);
  Put(out, entries.size(), 2);
  Put(out, central.size(), 4);
  Put(out, centralAt, 4);
  Put(out, 0, 2);  // comment
  return out;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zept-pkg-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override { fs::remove_all(root); }

  std::string write(const std::string& relative, const std::string& bytes) {
    const fs::path path = root / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  static std::vector<std::string> Paths(const PackageFiles& package) {
    std::vector<std::string> paths;
    for (const PackageEntry& entry : package.entries())
      paths.push_back(entry.path);
    return paths;
  }

  fs::path root;
};

struct ZipCase {
  const char* name;
  std::vector<RawEntry> entries;
  std::vector<std::string> served;
  std::vector<std::string> warnings;
};

TEST_F(PackageTest, ZipEntriesAreServedOnlyWhenTheirNamesAreSafe) {
  const std::string thousand(1000, 'x');
  const ZipCase cases[] = {
      {"plain entries, folders, backslashes, dots",
       {{"index.html", "<p>hi</p>"},
        {"sco1/page.html", "page"},
        {"dir/", ""},
        {"sub\\file.txt", "sub"},
        {"./a/./b.txt", "b"},
        {"ok/../fine.txt", "fine"},
        {"d.txt", "deflated", true}},
       {"index.html", "sco1/page.html", "sub/file.txt", "a/b.txt", "fine.txt",
        "d.txt"},
       {}},
      {"names that are absolute or leave the package",
       {{"../x", "x"},
        {"/abs", "a"},
        {"C:/win.txt", "w"},
        {"a\\..\\..\\up", "u"},
        {"\\\\server\\share", "s"},
        {"keep.txt", "k"}},
       {"keep.txt"},
       {"entry '../x' left out: its name leaves the package",
        "entry '/abs' left out: its name is absolute",
        "entry 'C:/win.txt' left out: its name is absolute",
        "entry 'a\\..\\..\\up' left out: its name leaves the package",
        "entry '\\\\server\\share' left out: its name is absolute"}},
      {"repeated names: no copy is served",
       {{"a.txt", "1"},
        {"b/c.txt", "2"},
        {"a.txt", "3"},
        {"b\\c.txt", "4"},
        {"A.txt", "5"}},
       {"A.txt"},
       {"entry 'a.txt' left out: 2 entries have that name",
        "entry 'b/c.txt' left out: 2 entries have that name"}},
      {"sizes that lie and data that is not there",
       {{"big.txt", "twenty bytes of text", false, 5},
        {"bomb.txt", thousand, true, 3},
        {"short.txt", "ten bytes.", false, 50},
        {"lost.txt", "lost", false, std::nullopt, true},
        {"fine.txt", thousand, true}},
       {"big.txt", "bomb.txt", "short.txt", "lost.txt", "fine.txt"},
       {}},
  };
  for (const ZipCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string zip = write("case.zip", ZipBytes(c.entries));
    const std::unique_ptr<PackageFiles> package = OpenZipPackage(zip);
    EXPECT_EQ(package->location(), zip);
    EXPECT_EQ(Paths(*package), c.served);
    EXPECT_EQ(package->warnings(), c.warnings);
    for (const RawEntry& e : c.entries) {
      const std::optional<std::string> path = StoredName(e.name);
      if (!path || !package->exists(*path)) continue;
      SCOPED_TRACE(*path);
      EXPECT_EQ(package->nativeFile(*path), "");
      const bool honest =
          e.statedSize.value_or(e.data.size()) == e.data.size() &&
          !e.dataOffsetPastEnd;
      if (honest) {
        EXPECT_EQ(package->read(*path), e.data);
      } else {
        try {
          package->read(*path);
          ADD_FAILURE() << "read what should fail";
        } catch (const EPackageError& err) {
          EXPECT_NE(std::string(err.what())
                        .find("'" + *path + "' of package '" + zip + "'"),
                    std::string::npos)
              << err.what();
        }
      }
    }
    EXPECT_EQ(package->open("../x"), nullptr);
    EXPECT_EQ(package->read("missing.txt"), std::nullopt);
  }
}

TEST_F(PackageTest, AnEntryIsCutAtItsStatedSizeWhateverItInflatesTo) {
  const std::string zip = write(
      "lie.zip", ZipBytes({{"bomb.txt", std::string(5000, 'x'), true, 6}}));
  const std::unique_ptr<EntryReader> reader =
      OpenZipPackage(zip)->open("bomb.txt");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->size(), 6u);
  char buffer[4];
  EXPECT_EQ(reader->read(buffer, sizeof buffer), 4u);
  try {
    reader->read(buffer, sizeof buffer);
    ADD_FAILURE() << "read past the stated size";
  } catch (const EPackageError& e) {
    EXPECT_NE(std::string(e.what()).find("inflates past its stated size of 6 "
                                         "bytes"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(OpenZipPackage(zip)->read("bomb.txt", 5), EPackageError);
}

TEST_F(PackageTest, AStoredEntrySeeksAndAnInflatedOneReadsFromItsStart) {
  std::string data;
  for (int i = 0; data.size() < 5000; ++i) data += std::to_string(i) + ",";
  const std::unique_ptr<PackageFiles> package = OpenZipPackage(
      write("seek.zip", ZipBytes({{"stored.bin", data},
                                  {"packed.bin", data, /*deflated=*/true}})));
  const std::unique_ptr<EntryReader> stored = package->open("stored.bin");
  ASSERT_TRUE(stored->canSeek());
  for (const std::size_t offset :
       {data.size() - 7, std::size_t{0}, 1234ul, data.size()}) {
    stored->seek(offset);
    char buffer[16];
    const std::size_t n = stored->read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), data.substr(offset, 16)) << offset;
  }
  EXPECT_THROW(stored->seek(data.size() + 1), EPackageError);
  const std::unique_ptr<EntryReader> packed = package->open("packed.bin");
  EXPECT_FALSE(packed->canSeek());
  EXPECT_THROW(packed->seek(10), EPackageError);
}

TEST_F(PackageTest, ADamagedZipIsAnErrorNamingTheFile) {
  const std::string good = ZipBytes({{"a.txt", "some text"}});
  std::string tooMany = good;
  tooMany[tooMany.size() - 12] = 3;  // entries on this disk
  tooMany[tooMany.size() - 14] = 3;  // entries in all
  const std::pair<const char*, std::string> cases[] = {
      {"garbage.zip", "this is not a zip at all, however long it goes on"},
      {"empty.zip", ""},
      {"cut.zip", good.substr(0, good.size() - 10)},
      {"count.zip", tooMany},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const std::string path = write(name, bytes);
    try {
      OpenZipPackage(path);
      ADD_FAILURE() << "opened";
    } catch (const EPackageError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(
                    "cannot open package '" + path + "': ", 0),
                0u)
          << e.what();
    }
    EXPECT_THROW(OpenZipPackageBytes(bytes, name), EPackageError);
  }
  EXPECT_THROW(OpenZipPackage((root / "none.zip").string()), EPackageError);
}

TEST_F(PackageTest, AFolderServesOnlyFilesInsideIt) {
  write("pkg/index.html", "index");
  write("pkg/sco1/page.html", "page");
  write("pkg/sub/deep/x.txt", "x");
  const std::string outside = write("elsewhere/secret.txt", "secret");
  const fs::path pkg = root / "pkg";
  fs::create_symlink(outside, pkg / "out.txt");
  fs::create_symlink("index.html", pkg / "in.txt");
  fs::create_symlink(root / "elsewhere", pkg / "outdir");
  fs::create_symlink(".", pkg / "loop");
  fs::create_symlink("nowhere.txt", pkg / "dangling.txt");

  const std::unique_ptr<PackageFiles> package = OpenFolderPackage(pkg.string());
  EXPECT_EQ(Paths(*package),
            (std::vector<std::string>{"in.txt", "index.html", "sco1/page.html",
                                      "sub/deep/x.txt"}));
  std::vector<std::string> warnings = package->warnings();
  std::sort(warnings.begin(), warnings.end());
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                "'dangling.txt' left out: a link that leads outside the "
                "package or nowhere",
                "'out.txt' left out: a link that leads outside the package "
                "or nowhere",
                "'outdir' left out: a link that leads outside the package or "
                "nowhere"}));
  const std::pair<const char*, std::optional<std::string>> reads[] = {
      {"index.html", "index"},
      {"in.txt", "index"},
      {"sub/deep/x.txt", "x"},
      {"out.txt", std::nullopt},
      {"outdir/secret.txt", std::nullopt},
      {"sco1", std::nullopt},
      {"../elsewhere/secret.txt", std::nullopt},
      {"sco1/../index.html", std::nullopt},
      {"/etc/passwd", std::nullopt},
      {"missing", std::nullopt},
  };
  for (const auto& [path, content] : reads) {
    SCOPED_TRACE(path);
    EXPECT_EQ(package->read(path), content);
    EXPECT_EQ(package->exists(path), content.has_value());
    EXPECT_EQ(package->nativeFile(path).empty(), !content.has_value());
  }
  EXPECT_EQ(package->nativeFile("in.txt"),
            fs::canonical(pkg / "index.html").string());
  EXPECT_THROW(package->read("index.html", 4), EPackageError);
  EXPECT_THROW(OpenFolderPackage(outside), EPackageError);
  EXPECT_THROW(OpenFolderPackage((root / "none").string()), EPackageError);
}

TEST(PackagePathTest, ResolvesInsideThePackageOnly) {
  const std::tuple<const char*, const char*, std::optional<std::string>>
      cases[] = {
          {"", "index.html", "index.html"},
          {"sco1/", "page.html", "sco1/page.html"},
          {"sco1", "page.html", "sco1/page.html"},
          {"sco1/", "../shared/a.js", "shared/a.js"},
          {"sco1/", "./x/./y/../z.html", "sco1/x/z.html"},
          {"", "a//b.html", "a/b.html"},
          {"", "my%20file%2ehtml", "my file.html"},
          {"", "100%.html", "100%.html"},
          {"", "a%2", "a%2"},
          {"", "dir\\file.html", "dir/file.html"},
          {"", "a/", "a/"},
          {"", "a/..", ""},
          {"a%20b/", "c.html", "a%20b/c.html"},
          {"sco1/", "../../x.html", std::nullopt},
          {"", "..", std::nullopt},
          {"", "%2e%2e/x", std::nullopt},
          {"", "..%2fx", std::nullopt},
          {"", "/etc/passwd", std::nullopt},
          {"", "%2Fetc", std::nullopt},
          {"", "\\\\server\\x", std::nullopt},
          {"", "C:/x.html", std::nullopt},
          {"", "c:x.html", std::nullopt},
          {"", "http://example.com/a.html", std::nullopt},
          {"", "javascript:alert(1)", std::nullopt},
          {"", "a%00.html", std::nullopt},
          {"../", "x.html", std::nullopt},
          {"", "dir/a:b.html", "dir/a:b.html"},
      };
  for (const auto& [base, reference, expected] : cases) {
    SCOPED_TRACE(std::string(base) + " + " + reference);
    EXPECT_EQ(PackagePath(base, reference), expected);
  }
}

}  // namespace
}  // namespace zept::scorm
