#include <gtest/gtest.h>

#include "util/fake_env.h"
#include "util/file_io.h"

namespace zept {
namespace {

using platform::RegistryRoot;
using testing::FakeEnv;

class ConfigReportTest : public ::testing::Test, protected FakeEnv {
 protected:
  ConfigReportTest() {
    for (const WideString folder :
         {u"C:\\Program Files\\var-deno", u"C:\\Program Files (x86)\\var-deno",
          u"C:\\Program Files\\vardeno", u"C:\\Program Files (x86)\\vardeno",
          u"C:\\Users\\u\\AppData\\Roaming\\var-deno\\Quarvelin LCMS"}) {
      fake.files.addDirectory(folder);
    }
    fake.folders.shortNames
        [u"C:\\Users\\u\\AppData\\Roaming\\var-deno\\Quarvelin LCMS"] =
        u"C:\\Users\\u\\AppData\\Roaming\\var-deno\\QUARVE~1";
  }
};

constexpr char kSystemAccess[] =
    "<p>Traces du 06/12/2026 10:30:15</p>\r\n"
    "<table class=\"LogConfiguration\">\r\n"
    "<tr><td><table class=\"LogSystemAccess\">\r\n"
    "\t<tr><th>System Access</th><th>Path</th><th>Test</th></tr>\r\n"
    "\t<tr><td>Path to My documents</td><td>C:\\Users\\u\\Documents\\</td><td "
    "class=\"OK\">File writing is possible</td></tr>\r\n"
    "\t<tr><td>Path to Desktop</td><td>C:\\Users\\u\\Desktop\\</td><td "
    "class=\"OK\">File writing is possible</td></tr>\r\n"
    "\t<tr><td>Path to "
    "AppData</td><td>C:\\Users\\u\\AppData\\Roaming\\</td><td "
    "class=\"OK\">File writing is possible</td></tr>\r\n"
    "\t<tr><td>Path to "
    "Temp</td><td>C:\\Users\\u\\AppData\\Local\\Temp\\morl_1\\</td><td "
    "class=\"OK\">File writing is possible</td></tr>\r\n"
    "\t<tr><td>Path to Programdata</td><td>C:\\ProgramData\\</td><td "
    "class=\"OK\">File writing is possible</td></tr>\r\n"
    "\t<tr><td>Path to Programfiles var-deno</td><td>C:\\Program "
    "Files\\var-deno\\</td><td class=\"OK\">File writing is "
    "possible</td></tr>\r\n"
    "\t<tr><td>Path to Programfilesx86 var-deno</td><td>C:\\Program Files "
    "(x86)\\var-deno\\</td><td class=\"OK\">File writing is "
    "possible</td></tr>\r\n"
    "\t<tr><td>Path to Programfiles vardeno</td><td>C:\\Program "
    "Files\\vardeno\\</td><td class=\"OK\">File writing is "
    "possible</td></tr>\r\n"
    "\t<tr><td>Path to Programfilesx86 vardeno</td><td>C:\\Program Files "
    "(x86)\\vardeno\\</td><td class=\"OK\">File writing is "
    "possible</td></tr>\r\n"
    "<tr><td>Data "
    "Folder</td><td>C:\\Users\\u\\AppData\\Roaming\\var-deno\\Quarvelin "
    "LCMS</td><td class=\"OK\">Folder exists</td></tr>\r\n"
    "</table></td></tr>\r\n";

constexpr char kParameters[] =
    "<tr><td><table class=\"LogParameters\">\r\n"
    "\t<tr><th>Data</th><th>Value</th></tr>\r\n"
    "\t<tr><td>ExePath</td><td></td></tr>\r\n"
    "\t<tr><td>InstallPath</td><td></td></tr>\r\n"
    "\t<tr><td>Version</td><td></td></tr>\r\n"
    "\t<tr><td>Release</td><td>6.0.3.67</td></tr>\r\n"
    "\t<tr><td>Data "
    "ExtractShortPathName</"
    "td><td>C:\\Users\\u\\AppData\\Roaming\\var-deno\\QUARVE~1</td></tr>\r\n"
    "\t<tr><td>Data Protected "
    "Path</td><td>C:\\Users\\u\\AppData\\Roaming\\var-deno\\QUARVE~1</td></"
    "tr>\r\n"
    "</table></td></tr>\r\n"
    "</table>";

TEST_F(ConfigReportTest, EverythingPassesAndNoVirtualStore) {
  EXPECT_EQ(BuildConfigurationReport(ctx),
            std::string(kSystemAccess) + kParameters);
  // The write tests leave their traces: a morl_ folder and the test values.
  EXPECT_TRUE(fake.files.directoryExists(
      u"C:\\Users\\u\\AppData\\Local\\Temp\\morl_1"));
  EXPECT_FALSE(fake.files.fileExists(u"C:\\Users\\u\\Desktop\\test.txt"));
  EXPECT_EQ(fake.registry.readString(RegistryRoot::LocalMachine,
                                     u"Software\\vardeno\\Morl_machine",
                                     u"testWrite"),
            u"Défini");
}

TEST_F(ConfigReportTest, MissingFoldersAndUnwritableOnes) {
  FakeEnv env;  // no program files folders, no data folder
  env.fake.files.failWritesUnder(u"C:\\Users\\u\\Desktop");
  env.fake.registry.writeString(RegistryRoot::CurrentUser,
                                u"\\SOFTWARE\\vardeno\\Tesk 5", u"ExePath",
                                u"C:\\Tesk\\tesk.exe");
  env.fake.registry.writeString(RegistryRoot::LocalMachine,
                                u"\\SOFTWARE\\vardeno\\Tesk 5", u"Release",
                                u"5.2");
  const std::string report = BuildConfigurationReport(env.ctx);
  EXPECT_NE(report.find(
                "\t<tr><td>Path to Desktop</td><td>C:\\Users\\u\\Desktop\\</td>"
                "<td class=\"KO\">File writing is impossible</td></tr>\r\n"),
            std::string::npos);
  EXPECT_NE(
      report.find(
          "\t<tr><td>Path to Programfilesx86 vardeno</td><td>C:\\Program "
          "Files (x86)\\vardeno\\</td><td>Folder doesn't exist</td></tr>\r\n"
          "<tr><td>Data Folder</td><td>C:\\Users\\u\\AppData\\Roaming\\"
          "var-deno\\Quarvelin LCMS</td><td class=\"KO\">Folder doesn't "
          "exist</td></tr>\r\n"),
      std::string::npos);
  EXPECT_NE(
      report.find(
          "\t<tr><td>ExePath</td><td>C:\\Tesk\\tesk.exe</td></tr>\r\n"
          "\t<tr><td>InstallPath</td><td></td></tr>\r\n"
          "\t<tr><td>Version</td><td></td></tr>\r\n"
          "\t<tr><td>Release</td><td>5.2</td></tr>\r\n"
          "\t<tr><td>Data ExtractShortPathName</td><td></td></tr>\r\n"
          "\t<tr><td>Data Protected Path</td><td>\"C:\\Users\\u\\AppData\\"
          "Roaming\\var-deno\\Quarvelin LCMS\"</td></tr>\r\n"),
      std::string::npos)
      << report;
  // The failed write of test.txt is an error row of the trace log.
  EXPECT_NE(env.log().find("EFileError error 28041"), std::string::npos);
}

TEST_F(ConfigReportTest, UnresolvableSpecialFoldersShowNo) {
  fake.folders.special.erase(38);
  const std::string report = BuildConfigurationReport(ctx);
  EXPECT_NE(
      report.find(
          "\t<tr><td>Path to Programfiles var-deno</td><td>\\var-deno\\</td>"
          "<td>Folder doesn't exist</td></tr>\r\n"),
      std::string::npos);
}

TEST_F(ConfigReportTest, FailedRegistryKeysGetRows) {
  fake.registry.setReadOnly(RegistryRoot::LocalMachine, true);
  // An earlier run left the value: writing fails, reading succeeds.
  fake.registry.writeString(RegistryRoot::CurrentUser,
                            u"\\Software\\vardeno\\Tesk 5", u"testWrite",
                            u"Défini");
  const std::string report = BuildConfigurationReport(ctx);
  const std::string expected =
      std::string(kSystemAccess) +
      "<tr><td><table class=\"LogRegistry\">\r\n"
      "\t<tr><th>Registry key</th><th>Writing</th><th>Reading</th></tr>"
      "\t<tr><td>HKEY_LOCAL_MACHINE\\Software\\vardeno\\Morl_machine\\</td>"
      "<td class=\"KO\">No</td><td class=\"KO\">No</td></tr>\r\n"
      "\t<tr><td>HKEY_LOCAL_MACHINE\\Software\\vardeno\\Tesk 5\\</td>"
      "<td class=\"KO\">No</td><td class=\"OK\">Yes</td></tr>\r\n"
      "</table></td></tr>\r\n" +
      kParameters;
  EXPECT_EQ(report, expected);
}

TEST_F(ConfigReportTest, VirtualStoreBesideARoamingFolder) {
  const WideString store = u"C:\\Users\\u\\AppData\\Local\\VirtualStore\\";
  fake.files.addDirectory(store + u"Program files (x86)");
  fake.files.addDirectory(store + u"ProgramData\\vardeno\\A");
  fake.files.addDirectory(store + u"ProgramData\\vardeno\\B");
  const std::string report = BuildConfigurationReport(ctx);
  const std::string expected =
      std::string(kSystemAccess) +
      "<tr><td><table class=\"LogVirtualStore\">\r\n"
      "\t<tr><th>Local VirtualStore Path</th><th>Test</th></tr>\r\n"
      "\t<tr><td>C:\\Users\\u\\AppData\\Local\\VirtualStore\\Program files "
      "(x86)</td>"
      "<td>exists</td></tr>\r\n"
      "\t<tr><td>C:\\Users\\u\\AppData\\Local\\VirtualStore\\ProgramData</td>"
      "<td>exists</td></tr>\r\n"
      "\t<tr><td>C:"
      "\\Users\\u\\AppData\\Local\\VirtualStore\\ProgramData\\vardeno</td>"
      "<td class=\"KO\">exists -- please delete the following subfolders"
      "<br/>- "
      "C:\\Users\\u\\AppData\\Local\\VirtualStore\\ProgramData\\vardeno\\A"
      "<br/>- "
      "C:\\Users\\u\\AppData\\Local\\VirtualStore\\ProgramData\\vardeno\\B"
      "</td></tr>\r\n"
      "</table></td></tr>\r\n" +
      kParameters;
  EXPECT_EQ(report, expected);
}

TEST_F(ConfigReportTest, VirtualStoreUnderANonRoamingFolder) {
  fake.folders.special[26] = u"/home/u/.local/share";
  fake.files.addDirectory(
      u"/home/u/.local/share/Local/VirtualStore/Program files");
  const std::string report = BuildConfigurationReport(ctx);
  EXPECT_NE(report.find(
                "\t<tr><td>/home/u/.local/share\\Local\\VirtualStore\\Program "
                "files</td><td>exists</td></tr>\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace zept
