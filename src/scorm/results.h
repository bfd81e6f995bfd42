#pragma once
// The results of a standard package as JSON, what zept-results prints: per
// learner and launchable item, the values the SCO would get at its next
// launch.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "package/manifest.h"
#include "platform/errors.h"
#include "scorm/runtime.h"
#include "store/progress_store.h"
#include "util/utf8.h"

namespace zept::scorm {

// The learner asked for has no progress in the store.
class EUnknownLearner : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EUnknownLearner"; }
};

// What an item's stored values show: NextLaunchValues, or a stand-in in
// tests.
using NextValuesFunction =
    std::function<Values(const Values& stored, const LaunchContext& context)>;

// {"course": {"identifier", "title"}, "learners": [{"login", "items":
// [{"identifier", "title", "values": {ELEMENT: VALUE}}]}]}, indented by two
// spaces, with a final newline. learner: one login, or "" for every learner
// in the order they were added; items in organization order, elements by
// name. Throws EUnknownLearner, or EStoreError from the store.
std::string ResultsJson(const Manifest& manifest, ProgressStore& store,
                        const std::string& learner = "",
                        const NextValuesFunction& next = NextLaunchValues);

// The order of element names in the results: as text, but array indexes
// by number ("cmi.objectives.2" before "cmi.objectives.10").
bool ElementBefore(std::string_view a, std::string_view b);

// The LaunchContext of a learner's launch of an item in mode (its
// cmi.core.lesson_mode): the login is both the student id and name; the
// rest comes from the manifest.
LaunchContext ContextFor(const std::string& login, const Item& item,
                         const std::string& mode = "normal");

// A score as the menus and the results show it: "8 of 10" where the raw
// score and its maximum are known, the raw score alone without a maximum,
// else the scaled score (-1 .. 1, as text) as a percentage ("80%"); "" when
// none is known. Texts that are not numbers count as unknown.
std::string ScoreText(const std::string& raw, const std::string& max,
                      const std::string& scaled = "");

// JSON strings are written alike everywhere (util/utf8.h).
using ::zept::JsonString;

// Pretty-printed JSON, two spaces a level, written as it goes.
class JsonWriter {
 public:
  std::string take() { return std::move(out_) + "\n"; }

  void open(char bracket) {
    next();
    out_ += bracket;
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    --depth_;
    if (!first_) newline();
    out_ += bracket;
    first_ = false;
  }
  void key(std::string_view name) {
    next();
    out_ += JsonString(name);
    out_ += ": ";
    keyed_ = true;
  }
  void string(std::string_view text) {
    next();
    out_ += JsonString(text);
  }
  void number(std::size_t n) {
    next();
    out_ += std::to_string(n);
  }
  // A value written as given: a number, true, false, null.
  void raw(std::string_view text) {
    next();
    out_ += text;
  }

 private:
  // Before a member or an element: the comma and the indentation, unless
  // its key was just written.
  void next() {
    if (keyed_) {
      keyed_ = false;
      return;
    }
    if (!first_) out_ += ',';
    if (depth_ > 0) newline();
    first_ = false;
  }
  void newline() {
    out_ += '\n';
    out_.append(2 * depth_, ' ');
  }

  std::string out_;
  int depth_ = 0;
  bool first_ = true;
  bool keyed_ = false;
};
// values as a JSON object, elements in the order of ElementBefore; those
// whose names start with leaveOut (when not empty) are left out.
void WriteValues(JsonWriter& json, const Values& values,
                 std::string_view leaveOut = {});

// The learners whose results are asked for: learner alone, or every
// learner in the order they were added for "". Throws EUnknownLearner
// (naming what has no progress of theirs: "package", "course").
std::vector<std::string> ResultsLearners(ProgressStore& store,
                                         const std::string& learner,
                                         std::string_view of = "package");

// A learner's part of a package's results: what follows "login" and
// "pending_statements" in their object.
using LearnerResults =
    std::function<void(JsonWriter& json, const std::string& login)>;
// The results of every kind of package: {"course": {"identifier",
// "title"}, "learners": [{"login", "pending_statements", ...}]}, indented
// by two spaces with a final newline. learner: one login, or "" for every
// learner in the order they were added. Throws EUnknownLearner, or
// EStoreError from the store.
std::string ResultsDocument(const std::string& identifier,
                            const std::string& title, ProgressStore& store,
                            const std::string& learner,
                            const LearnerResults& results);

// A status ("passed", "" for never attempted) as the learner reads it, in
// the learner's language: "Passed", "Not attempted".
std::string StatusName(const std::string& status);

// Text for the report printer's XML: markup escaped, and everything past
// ASCII as a character reference, so the bytes read the same in any
// encoding.
std::string ReportText(const std::string& text);
// The report's head (the course's title, the learner, a table begun) and
// its tail.
std::string ReportHead(const std::string& title, const std::string& learner);
inline constexpr char kReportTail[] = "</table>\n</export>\n";

}  // namespace zept::scorm
