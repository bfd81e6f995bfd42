#pragma once
// A cmi5 course structure (cmi5.xml): the course, its nested blocks and
// AUs, and the objectives they refer to. Blocks and AUs are kept in flat
// lists in document order and refer to each other by index, so that a
// course of thousands of AUs is walked without pointers to fix up.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace zept::scorm {
class PackageFiles;
}

namespace zept::cmi5 {

// cmi5.xml cannot be taken as a course: the message names the fault and,
// where it has one, the line.
class ECourseError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "ECourseError"; }
};

struct LangString {
  std::string lang;  // "" when the langstring has no lang attribute
  std::string text;

  bool operator==(const LangString&) const = default;
};
using LangStrings = std::vector<LangString>;

// The text for language (an exact tag, then its primary subtag, then the
// first langstring); "" for none.
std::string Pick(const LangStrings& strings, const std::string& language);

enum class MoveOn {
  kNotApplicable,
  kPassed,
  kCompleted,
  kCompletedAndPassed,
  kCompletedOrPassed
};
// The name cmi5.xml and the launch data use ("CompletedOrPassed").
const char* Name(MoveOn moveOn);

enum class LaunchMethod { kAnyWindow, kOwnWindow };

// A block or an AU among a parent's children, in document order.
struct Child {
  enum class Kind { kAu, kBlock };
  Kind kind = Kind::kAu;
  std::size_t index = 0;  // into Course::aus or Course::blocks

  bool operator==(const Child&) const = default;
};

constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);

struct Objective {
  std::string id;  // IRI
  LangStrings title;
  LangStrings description;
};

struct Au {
  std::string id;  // the publisher's IRI
  LangStrings title;
  LangStrings description;
  std::vector<std::string> objectives;  // ids of Course::objectives
  // The url as written (trimmed).
  std::string url;
  // For a relative url, the file of the package it names and the query and
  // fragment it carries ("index.html", "?a=1"); "" for a fully qualified
  // one.
  std::string packagePath;
  std::string packageSuffix;
  MoveOn moveOn = MoveOn::kNotApplicable;
  std::optional<double> masteryScore;  // 0 to 1
  LaunchMethod launchMethod = LaunchMethod::kAnyWindow;
  std::optional<std::string> launchParameters;
  std::optional<std::string> entitlementKey;
  std::string activityType;      // IRI or ""
  std::size_t block = kNoBlock;  // the enclosing block; kNoBlock: the course

  bool relative() const { return !packagePath.empty(); }
};

struct Block {
  std::string id;  // the publisher's IRI
  LangStrings title;
  LangStrings description;
  std::vector<std::string> objectives;
  std::vector<Child> children;   // at least one
  std::size_t block = kNoBlock;  // the enclosing block
};

struct Course {
  std::string id;  // the publisher's IRI
  LangStrings title;
  LangStrings description;
  std::vector<Objective> objectives;
  std::vector<Child> children;  // at least one
  std::vector<Block> blocks;    // document order: a block before its own
  std::vector<Au> aus;          // document order
  // What is odd but does not stop the course, one line each ("line 12:
  // objective reference ... names no objective of the course").
  std::vector<std::string> notes;

  // The AU whose publisher id is id; nullopt for none.
  std::optional<std::size_t> findAu(const std::string& id) const;
};

// True for an absolute IRI: a scheme, ":", and a rest of characters an IRI
// may hold ("%" only before two hex digits).
bool IsIri(const std::string& text);

// The course of the bytes of cmi5.xml. package: the files of the zip or
// folder the file came from, whose AUs may be relative URLs naming its
// files; nullptr for a cmi5.xml on its own, whose AU URLs must all be fully
// qualified. Throws ECourseError naming the first fault found: not
// well-formed, not the structure the cmi5 schema describes, an id that is
// not an IRI, an id used twice among blocks, AUs or objectives, an AU URL
// that is not a URL, is relative without a package or names a file the
// package lacks, or whose query holds a parameter the launch adds itself.
Course ParseCourse(const std::string& bytes,
                   const scorm::PackageFiles* package);

}  // namespace zept::cmi5
