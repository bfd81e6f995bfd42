#include "scorm2004/conformance.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "util/utf8.h"

namespace zept::scorm2004::conformance {

namespace {

struct Abbreviation {
  std::string_view shortName, name;
};

// The suite's abbreviations: API calls, element names, then values. A
// segment that is none stays as written, as ADL's runner leaves it.
constexpr Abbreviation kAbbreviations[] = {
    {"a", "adl"},
    {"c", "cmi"},
    {"n", "nav"},
    {"r", "request"},
    {"rv", "request_valid"},
    {"DA", "data"},
    {"STR", "store"},
    {"V", "_version"},
    {"CHIL", "_children"},
    {"CNT", "_count"},
    {"CFLRNR", "comments_from_learner"},
    {"CFLMS", "comments_from_lms"},
    {"COM", "comment"},
    {"LOC", "location"},
    {"TS", "timestamp"},
    {"CS", "completion_status"},
    {"CT", "completion_threshold"},
    {"CDT", "credit"},
    {"E", "entry"},
    {"X", "exit"},
    {"INTR", "interactions"},
    {"ID", "id"},
    {"TY", "type"},
    {"OB", "objectives"},
    {"CR", "correct_responses"},
    {"P", "pattern"},
    {"W", "weighting"},
    {"LR", "learner_response"},
    {"R", "result"},
    {"LAT", "latency"},
    {"D", "description"},
    {"LD", "launch_data"},
    {"LI", "learner_id"},
    {"LN", "learner_name"},
    {"LP", "learner_preference"},
    {"AL", "audio_level"},
    {"LANG", "language"},
    {"DS", "delivery_speed"},
    {"AC", "audio_captioning"},
    {"MAXTA", "max_time_allowed"},
    {"M", "mode"},
    {"S", "score"},
    {"SCA", "scaled"},
    {"RW", "raw"},
    {"MN", "min"},
    {"MX", "max"},
    {"SS", "success_status"},
    {"PM", "progress_measure"},
    {"SPS", "scaled_passing_score"},
    {"ST", "session_time"},
    {"SD", "suspend_data"},
    {"TLA", "time_limit_action"},
    {"TT", "total_time"},
    {"comp", "completed"},
    {"incomp", "incomplete"},
    {"notatt", "not attempted"},
    {"pass", "passed"},
    {"fail", "failed"},
    {"unk", "unknown"},
    {"CDT.c", "credit"},
    {"CDT.n", "no-credit"},
    {"E.a", "ab-initio"},
    {"E.r", "resume"},
    {"es", ""},
    {"X.t", "time-out"},
    {"X.s", "suspend"},
    {"X.l", "logout"},
    {"TY.tf", "true-false"},
    {"TY.c", "choice"},
    {"TY.f", "fill-in"},
    {"TY.lf", "long-fill-in"},
    {"TY.l", "likert"},
    {"TY.m", "matching"},
    {"TY.p", "performance"},
    {"TY.s", "sequencing"},
    {"TY.n", "numeric"},
    {"TY.o", "other"},
    {"R.c", "correct"},
    {"R.i", "incorrect"},
    {"R.u", "unanticipated"},
    {"R.n", "neutral"},
    {"M.b", "browse"},
    {"M.n", "normal"},
    {"M.r", "review"},
    {"TLA.em", "exit,message"},
    {"TLA.cm", "continue,message"},
    {"TLA.enm", "exit,no message"},
    {"TLA.cnm", "continue,no message"},
    {"t", "true"},
    {"f", "false"},
    {"N.c", "continue"},
    {"N.p", "previous"},
    {"N.ea", "exitAll"},
    {"N.a", "abandon"},
    {"N.aa", "abandonAll"},
    {"N.sa", "suspendAll"},
    {"N.n", "_none_"},
    {"N.j", "jump"},
};

std::vector<std::string> Split(std::string_view s, std::string_view by) {
  std::vector<std::string> parts;
  for (;;) {
    const std::size_t at = s.find(by);
    if (at == std::string_view::npos) break;
    parts.emplace_back(s.substr(0, at));
    s.remove_prefix(at + by.size());
  }
  parts.emplace_back(s);
  return parts;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// \uXXXX in a step stands for that character. A backslash takes the
// character after it along as written, as ADL's loader reads them.
std::string Unescape(std::string_view s) {
  std::string out;
  auto hex4 = [&](std::size_t at, std::uint32_t& c) {
    if (at + 6 > s.size() || s[at] != '\\' || s[at + 1] != 'u') return false;
    c = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
      const char h = s[i];
      int v = h >= '0' && h <= '9'   ? h - '0'
              : h >= 'a' && h <= 'f' ? h - 'a' + 10
              : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                     : -1;
      if (v < 0) return false;
      c = c * 16 + static_cast<std::uint32_t>(v);
    }
    return true;
  };
  for (std::size_t i = 0; i < s.size();) {
    std::uint32_t c = 0;
    if (s[i] != '\\') {
      out += s[i++];
    } else if (!hex4(i, c)) {
      // Not an escape: the backslash and what it consumed stay.
      const std::size_t taken = s.size() > i + 1 && s[i + 1] == 'u' ? 6 : 2;
      out += s.substr(i, taken);
      i += taken;
    } else {
      i += 6;
      std::uint32_t low = 0;
      if (c >= 0xD800 && c < 0xDC00 && hex4(i, low) && low >= 0xDC00 &&
          low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 6;
      } else if (c >= 0xD800 && c < 0xE000) {
        c = 0xFFFD;  // half a pair has no UTF-8 form
      }
      AppendUtf8(out, c);
    }
  }
  return out;
}

// "c~OB~&obj1&~SS" -> "cmi.objectives.&obj1&.success_status"; the id
// between the ampersands goes to lookupId.
std::string ElementPath(const std::vector<std::string>& segments, Step& step) {
  std::string element;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const std::string& s = segments[i];
    if (i) element += '.';
    if (s.size() >= 2 && s.front() == '&' && s.back() == '&') {
      step.lookupId = s.substr(1, s.size() - 2);
      element += s;
    } else {
      element += Expand(s);
    }
  }
  return element;
}

// adl.nav.request's value after "a~n~r!": "N.c", or "tar~ID~TY.c" for a
// choice (N.j a jump) on the item ID.
bool NavigationValue(std::string_view written, std::string& value) {
  const std::vector<std::string> parts = Split(written, "~");
  if (parts.size() == 1) {
    value = Expand(parts[0]);
    return true;
  }
  if (parts.size() == 3 && parts[0] == "tar" && !parts[1].empty() &&
      (parts[2] == "TY.c" || parts[2] == "N.j")) {
    value = "{target=" + parts[1] + "}" + Expand(parts[2]);
    return true;
  }
  return false;
}

bool ReadSet(const std::string& arg, Step& step, std::string& why) {
  const std::size_t bang = arg.find('!');
  if (bang == std::string::npos) {
    why = "a set without '!' between element and value";
    return false;
  }
  const std::string path = arg.substr(0, bang);
  const std::string value = arg.substr(bang + 1);
  if (path == "a~n~r") {
    step.element = "adl.nav.request";
    step.navigation = true;
    if (!NavigationValue(value, step.value)) {
      why = "a navigation request it cannot read: '" + value + "'";
      return false;
    }
    return true;
  }
  if (path.find('~') == std::string::npos) {
    // One segment: sent as written (the suite's wrong elements).
    step.element = path;
    step.value = value;
    return true;
  }
  step.element = ElementPath(Split(path, "~"), step);
  step.value = Expand(value);
  return true;
}

bool ReadGet(const std::string& arg, Step& step, std::string& why) {
  if (arg.find('~') == std::string::npos) {
    step.element = arg;  // "cmi", "": sent as written
    return true;
  }
  std::vector<std::string> segments = Split(arg, "~");
  for (std::string& s : segments) {
    const std::size_t bang = s.find('!');
    if (bang == std::string::npos) continue;
    if (segments.size() < 2 || segments[1] != "INTR" ||
        !step.interactionType.empty()) {
      why = "a '!' in a get: '" + arg + "'";
      return false;
    }
    step.interactionType = Expand(s.substr(bang + 1));
    s.erase(bang);
  }
  if (segments.size() >= 4 && segments[0] == "a" && segments[1] == "n" &&
      segments[2] == "rv") {
    // adl.nav.request_valid.continue, or .choice.{target=ID} (.jump.).
    step.element = "adl.nav.request_valid." + Expand(segments[3]);
    if (segments.size() == 6 && segments[4] == "tar" && !segments[5].empty())
      step.element += ".{target=" + segments[5] + "}";
    else if (segments.size() != 4) {
      why = "a request_valid it cannot read: '" + arg + "'";
      return false;
    }
    return true;
  }
  step.element = ElementPath(segments, step);
  return true;
}

bool ReadStep(const std::string& written, Step& step, std::string& why) {
  const std::vector<std::string> fields = Split(written, "->");
  const std::string& verb = fields[0];
  if (verb == "COI") {
    step.call = Call::CompareObjectiveIds;
    step.check = Check::ObjectiveIds;
    if (fields.size() != 2 || fields[1].empty()) {
      why = "COI takes one list of objective ids";
      return false;
    }
    step.objectiveIds = Split(fields[1], ",");
    step.expectedError.clear();
    return true;
  }
  if (fields.size() < 4) {
    why =
        "a step has four parts joined by '->' (call, element, expected, "
        "error), this has " +
        std::to_string(fields.size());
    return false;
  }
  const std::string& arg = fields[1];
  // Of more parts the last but one is the expected value, as for ADL's
  // runner (one step in the suite has a stray "->0" there).
  const std::string& expected = fields[fields.size() - 2];
  step.expectedError = fields.back();
  if (!AllDigits(step.expectedError)) {
    why = "the error code '" + step.expectedError + "' is not a number";
    return false;
  }
  if (verb == "I" || verb == "T" || verb == "C") {
    step.call = verb == "I"   ? Call::Initialize
                : verb == "T" ? Call::Terminate
                              : Call::Commit;
    step.argument = arg;
    step.expected = Expand(expected);
    return true;
  }
  if (verb == "GLE") {
    step.call = Call::GetLastError;
    step.expected = expected;
    return true;
  }
  if (verb == "GES" || verb == "GeDi") {
    step.call = verb == "GES" ? Call::GetErrorString : Call::GetDiagnostic;
    step.argument = arg;
    if (expected == "less255" || verb == "GeDi")
      step.check = Check::Shorter255;
    else if (expected == "emptyCS")
      step.check = Check::Empty;
    step.expected = expected;
    return true;
  }
  if (verb == "SET") {
    step.call = Call::SetValue;
    step.expected = Expand(expected);
    return ReadSet(arg, step, why);
  }
  if (verb == "GET") {
    step.call = Call::GetValue;
    // A value that names nothing (es) stays as written in a get.
    const std::string value = Expand(expected);
    step.expected = value.empty() ? expected : value;
    if (!ReadGet(arg, step, why)) return false;
    const std::string_view id = ".id";
    if (!step.lookupId.empty() && step.expected.empty() &&
        step.element.size() > id.size() &&
        step.element.compare(step.element.size() - id.size(), id.size(), id) ==
            0) {
      // Reading the id of the objective found by that id gives it back.
      step.expected = step.lookupId;
    } else if (step.element == "cmi.learner_name") {
      step.check = Check::ErrorOnly;
      step.expected.clear();
    } else if (step.element == "cmi.learner_id") {
      step.check = Check::LearnerId;
      step.expected.clear();
    } else if (step.element.rfind("adl.nav.request_valid.", 0) == 0) {
      step.check = Check::RequestValid;
    } else if (step.element.find("comments_from_lms") != std::string::npos &&
               step.element.find("_children") == std::string::npos) {
      step.check = Check::Lenient;
    }
    return true;
  }
  why = "unknown call '" + verb + "'";
  return false;
}

// "Act12V3" -> activity "12", visit 3.
bool VisitName(std::string_view name, std::string& activity, int& number) {
  if (name.size() < 5 || name.substr(0, 3) != "Act") return false;
  const std::size_t v = name.find('V', 3);
  if (v == std::string_view::npos || v == 3) return false;
  const std::string_view digits = name.substr(v + 1);
  if (!AllDigits(digits) || digits.size() > 6) return false;
  activity = std::string(name.substr(3, v - 3));
  number = std::stoi(std::string(digits));
  return true;
}

void ReadQuestions(Visit& visit, const std::string& keys,
                   const std::string& answers, int line,
                   std::vector<Problem>& problems) {
  const std::vector<std::string> q = Split(keys, "~");
  const std::vector<std::string> a = Split(answers, "~");
  if (q.size() != a.size()) {
    problems.push_back({line, std::to_string(q.size()) + " questions but " +
                                  std::to_string(a.size()) + " answers"});
    return;
  }
  for (std::size_t i = 0; i < q.size(); ++i) {
    UiQuestion question;
    const std::size_t at = q[i].find('@');
    question.key = q[i].substr(0, at);
    if (at != std::string::npos) question.subject = q[i].substr(at + 1);
    if (a[i] != "Y" && a[i] != "N") {
      problems.push_back({line, "the answer '" + a[i] + "' is not Y or N"});
      return;
    }
    question.expected = a[i] == "Y";
    visit.questions.push_back(std::move(question));
  }
}

}  // namespace

std::string Expand(std::string_view abbreviation) {
  for (const Abbreviation& a : kAbbreviations)
    if (a.shortName == abbreviation) return std::string(a.name);
  return std::string(abbreviation);
}

std::size_t TestCase::stepCount() const {
  std::size_t n = 0;
  for (const Visit& v : visits) n += v.steps.size();
  return n;
}

TestCase ParseTestCase(std::string_view latin1) {
  TestCase tc;
  // ADL's loader reads the files as ISO-8859-1: a byte past ASCII is that
  // character, which the SCO's strings carry as UTF-8 here.
  std::string utf8;
  for (const char byte : latin1) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x80) {
      utf8 += byte;
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::string_view text = utf8;
  // Lines as ADL's loader joins them: a line ending in a backslash goes on
  // with the next, which keeps its leading blanks.
  struct Line {
    int number;
    std::string text;
  };
  std::vector<Line> lines;
  int number = 0;
  bool continued = false;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const bool more = !raw.empty() && raw.back() == '\\';
    if (more) raw.remove_suffix(1);
    if (continued)
      lines.back().text += raw;
    else
      lines.push_back({number, std::string(raw)});
    continued = more;
  }

  // The unanswered questions of the visit being read, checked when it ends.
  std::string questions, answers;
  int questionLine = 0;
  std::string current;  // "Act3V1" of the visit being read
  auto closeVisit = [&] {
    if (tc.visits.empty()) return;
    if (!questions.empty() || !answers.empty())
      ReadQuestions(tc.visits.back(), questions, answers, questionLine,
                    tc.problems);
    questions.clear();
    answers.clear();
    questionLine = 0;
  };

  for (const Line& line : lines) {
    const std::string& s = line.text;
    if (s.find_first_not_of(" \t") == std::string::npos || s[0] == '#' ||
        s.find("####") != std::string::npos)
      continue;
    const std::size_t eq = s.find('=');
    if (eq == std::string::npos) {
      tc.problems.push_back(
          {line.number, "no '=' in '" + s.substr(0, 60) + "'"});
      continue;
    }
    const std::string key = s.substr(0, eq);
    const std::string value = s.substr(eq + 1);
    if (key == "title")
      tc.title = value;
    else if (key == "UserInterAct")
      tc.userInteraction = !value.empty();
    else if (key == "start")
      tc.start = value;
    else if (key == "purpose")
      tc.purpose = value;
    else if (key == "RTDInit")
      tc.rtdInit = value;
    else if (key == "seqInfo")
      tc.seqInfo = value;
    else if (key == "TT")
      tc.testType = value;
    else if (key == "end")
      tc.end = value;
    else {
      const std::size_t dot = key.find('.');
      std::string activity;
      int visitNumber = 0;
      if (dot == std::string::npos ||
          !VisitName(std::string_view(key).substr(0, dot), activity,
                     visitNumber)) {
        tc.problems.push_back({line.number, "unknown key '" + key + "'"});
        continue;
      }
      if (key.compare(0, dot, current) != 0 || tc.visits.empty()) {
        closeVisit();
        current = key.substr(0, dot);
        Visit visit;
        visit.line = line.number;
        visit.activity = activity;
        visit.number = visitNumber;
        tc.visits.push_back(std::move(visit));
      }
      Visit& visit = tc.visits.back();
      const std::string field = key.substr(dot + 1);
      if (field.compare(0, 9, "commands.") == 0 &&
          AllDigits(std::string_view(field).substr(9))) {
        Step step;
        step.line = line.number;
        std::string why;
        if (ReadStep(Unescape(value), step, why))
          visit.steps.push_back(std::move(step));
        else
          tc.problems.push_back({line.number, why});
      } else if (field == "UIQ") {
        questions = value;
        questionLine = line.number;
      } else if (field == "UIA") {
        answers = value;
        if (!questionLine) questionLine = line.number;
      } else if (field == "CUI") {
        std::vector<std::string> parts = Split(value, "~");
        visit.instruction = parts[0];
        visit.instructionArgs.assign(parts.begin() + 1, parts.end());
      } else {
        tc.problems.push_back({line.number, "unknown key '" + key + "'"});
      }
    }
  }
  closeVisit();
  std::stable_sort(
      tc.problems.begin(), tc.problems.end(),
      [](const Problem& a, const Problem& b) { return a.line < b.line; });
  return tc;
}

}  // namespace zept::scorm2004::conformance
