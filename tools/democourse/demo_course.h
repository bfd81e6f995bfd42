#pragma once
// The demo course's movies, made from the course package (its manifest,
// launch settings and looks), the units' pages and questions, and the
// movies' ActionScript.

#include <filesystem>
#include <string>
#include <vector>

#include "democourse/ui.h"

namespace zept::democourse {

struct UnitInfo {
  std::string title;              // as the manifest gives it
  int masteryScore = 0;           // 0 when the manifest gives none
  int width = 800, height = 600;  // the unit's look
  Rgb background{0x1E, 0x3A, 0x5F};
};

struct CourseInfo {
  std::string title;
  std::string description;
  int width = 640, height = 480;  // the menu's window, from launch.ini
  std::vector<UnitInfo> units;    // SCO 1, 2, ... in manifest order
};

// Reads imsmanifest.xml, cdrom/launch.ini and each SCO's look. Throws
// std::runtime_error naming the file that is missing or unreadable.
CourseInfo ReadCourse(const std::filesystem::path& folder);

struct Page {
  std::string heading;
  std::string text;
  std::vector<std::string> boxes;  // words shown side by side, a diagram
};

struct Question {
  std::string text;
  std::vector<std::string> answers;  // a, b, c...
  char correct = 'a';
  std::string why;  // said after any answer
};

struct UnitContent {
  std::vector<Page> pages;
  std::vector<Question> quiz;  // asked after the pages, then a result page
};

// What unit n (1-based) of the demo course teaches.
UnitContent DemoUnitContent(int number);

// The movies' ActionScript: ui.as shared, menu.as and unit.as.
struct Scripts {
  std::string ui, menu, unit;
};
Scripts ReadScripts(const std::filesystem::path& folder);

// cdrom/cdrom.swf and SCO n's player.swf.
std::string BuildMenuMovie(const CourseInfo& course, const Scripts& scripts);
std::string BuildUnitMovie(const CourseInfo& course, int number,
                           const UnitContent& content, const Scripts& scripts);

// Copies the course package to out (files already there are replaced,
// others kept) and writes every movie into the copy.
void WriteDemoCourse(const std::filesystem::path& source,
                     const std::filesystem::path& scripts,
                     const std::filesystem::path& out);

}  // namespace zept::democourse
