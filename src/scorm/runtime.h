#pragma once
// The SCORM 1.2 runtime behind window.API: the state machine of the eight
// functions and the cmi data model, for one launch of one item.

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scorm/api.h"
#include "store/values.h"

namespace zept::scorm {

// What the runtime provides rather than the SCO: from the learner and from
// the item in the manifest.
struct LaunchContext {
  std::string studentId;
  std::string studentName;
  std::string launchData;       // adlcp:datafromlms
  std::string masteryScore;     // adlcp:masteryscore
  std::string maxTimeAllowed;   // adlcp:maxtimeallowed
  std::string timeLimitAction;  // adlcp:timelimitaction
  // cmi.core.credit and cmi.core.lesson_mode; the player always launches for
  // credit, in the mode the run was started in (zept --mode).
  std::string credit = "credit";
  std::string lessonMode = "normal";
};

struct RuntimeOptions {
  // The standard's limits (405 past them) instead of the lenient ones, and
  // the record behind conformanceSummary().
  bool strict = false;
  // What the values of one item may take, in bytes of names and values
  // (with a small charge per element): past it a set is refused (101) so a
  // SCO cannot grow the store without bound. Far above what content needs.
  std::size_t maxValueBytes = std::size_t{16} << 20;
};

class Runtime {
 public:
  enum class State { kNotInitialized, kRunning, kFinished };

  // stored: what the store holds for the learner and item ({} the first
  // time). A new Runtime is a new session.
  // A session the store holds as still open (the program ended before the
  // SCO finished) is closed first, as end() would have closed it.
  Runtime(LaunchContext context, Values stored, RuntimeOptions options = {});
  ~Runtime();
  Runtime(Runtime&&) noexcept;
  Runtime& operator=(Runtime&&) noexcept;

  // The API, with the standard's names. Never throws.
  std::string LMSInitialize(const std::string& parameter);
  std::string LMSFinish(const std::string& parameter);
  std::string LMSGetValue(const std::string& element);
  std::string LMSSetValue(const std::string& element, const std::string& value);
  std::string LMSCommit(const std::string& parameter);
  std::string LMSGetLastError();
  std::string LMSGetErrorString(const std::string& code);
  std::string LMSGetDiagnostic(const std::string& code);
  // The same by function name, arguments as the page passed them; an
  // unknown name answers "false" and sets 401. Never throws.
  std::string call(const std::string& function,
                   const std::vector<std::string>& arguments);

  State state() const { return state_; }

  // The learner left while the session runs (another item, the menu, the
  // window closed, a signal): closes it as LMSFinish would. Nothing when
  // it is not running.
  void end();

  // What the store should hold for the learner and item now: the stored
  // values with this session's. After LMSFinish or end(), the values of
  // the next launch (total_time summed, entry, status settled). While the
  // session runs it also holds "zept.session" = "open" and total_time
  // without this session, so a relaunch from it closes the session once.
  Values toStore() const;
  // Something was set or the session ended since markStored().
  bool unstored() const { return unstored_; }
  void markStored() { unstored_ = false; }
  // A call the program answered "false" itself (what LMSCommit asked for
  // could not be stored; a call too large to take): LMSGetLastError gives
  // code and LMSGetDiagnostic diagnostic.
  void refuse(int code, std::string_view function, std::string diagnostic);

  // One line each time a leniency is first used in this session (a
  // suspend_data past 4,096 characters, say), for the journal and the
  // trace log.
  std::function<void(const std::string& line)> onLeniency;

  // Strict mode: calls made, errors by code with the elements that caused
  // them, elements used that a strict LMS refuses. Several lines of text.
  std::string conformanceSummary() const;

 private:
  struct Impl;
  std::string setValue(const std::string& element, const std::string& value);
  std::string getValue(const std::string& element);
  void fail(int code, std::string_view element, std::string diagnostic);
  void succeed();
  // Fails with 301 (naming function) and true when no session runs.
  bool outsideSession(std::string_view function, std::string_view element);
  void close();

  State state_ = State::kNotInitialized;
  bool unstored_ = false;
  std::unique_ptr<Impl> impl_;
};

// What LMSGetValue would give the SCO at its next launch (cmi.core.entry,
// total_time, lesson_status, ...), with the last session's write-only values
// as stored (cmi.core.exit, cmi.core.session_time, interactions), by full
// element name: what the results show.
Values NextLaunchValues(const Values& stored, const LaunchContext& context);

// The SCORM 1.2 API's names and codes.
extern const ApiVersion kScorm12Api;

// What a call answers where no session of its API is running (nothing
// launched, or an API of an earlier launch): "false", "" for LMSGetValue,
// "301" for LMSGetLastError, the standard's text for LMSGetErrorString, and
// why for LMSGetDiagnostic.
std::string AnswerOutsideSession(const std::string& function,
                                 const std::vector<std::string>& arguments,
                                 const std::string& why);

}  // namespace zept::scorm
