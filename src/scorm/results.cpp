#include "scorm/results.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "util/utf8.h"
#include "util/i18n.h"

namespace zept::scorm {

void WriteValues(JsonWriter& json, const Values& values,
                 std::string_view leaveOut) {
  std::vector<const Values::value_type*> ordered;
  for (const auto& entry : values)
    if (leaveOut.empty() || !entry.first.starts_with(leaveOut))
      ordered.push_back(&entry);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const auto* a, const auto* b) {
                     return ElementBefore(a->first, b->first);
                   });
  json.open('{');
  for (const auto* entry : ordered) {
    json.key(entry->first);
    json.string(entry->second);
  }
  json.close('}');
}

namespace {

std::optional<double> NumberIn(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string Shortest(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

}  // namespace

std::string ScoreText(const std::string& raw, const std::string& max,
                      const std::string& scaled) {
  const std::optional<double> r = NumberIn(raw), m = NumberIn(max);
  if (r && m) return Shortest(*r) + " of " + Shortest(*m);
  if (r) return Shortest(*r);
  const std::optional<double> s = NumberIn(scaled);
  // A tenth of a percent at most: 0.6667 is "66.7%".
  if (s) return Shortest(std::round(*s * 1000) / 10 + 0.0) + "%";
  return "";
}

bool ElementBefore(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Array indexes in number order: objectives.2 before objectives.10.
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      std::string_view x = a.substr(i, ei - i), y = b.substr(j, ej - j);
      while (x.size() > 1 && x[0] == '0') x.remove_prefix(1);
      while (y.size() > 1 && y[0] == '0') y.remove_prefix(1);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

LaunchContext ContextFor(const std::string& login, const Item& item,
                         const std::string& mode) {
  LaunchContext context;
  context.lessonMode = mode;
  context.studentId = login;
  context.studentName = login;
  context.launchData = item.dataFromLms;
  context.masteryScore = item.masteryScore;
  context.maxTimeAllowed = item.maxTimeAllowed;
  context.timeLimitAction = item.timeLimitAction;
  return context;
}

std::vector<std::string> ResultsLearners(ProgressStore& store,
                                         const std::string& learner,
                                         std::string_view of) {
  if (learner.empty()) return store.learners();
  if (!store.hasLearner(learner))
    throw EUnknownLearner("no learner '" + learner +
                          "' has progress stored for this " + std::string(of));
  return {learner};
}

std::string ResultsDocument(const std::string& identifier,
                            const std::string& title, ProgressStore& store,
                            const std::string& learner,
                            const LearnerResults& results) {
  const std::vector<std::string> logins = ResultsLearners(store, learner);
  JsonWriter json;
  json.open('{');
  json.key("course");
  json.open('{');
  json.key("identifier");
  json.string(identifier);
  json.key("title");
  json.string(title);
  json.close('}');
  json.key("learners");
  json.open('[');
  for (const std::string& login : logins) {
    json.open('{');
    json.key("login");
    json.string(login);
    json.key("pending_statements");
    json.number(store.pendingStatements(login));
    results(json, login);
    json.close('}');
  }
  json.close(']');
  json.close('}');
  return json.take();
}

std::string ResultsJson(const Manifest& manifest, ProgressStore& store,
                        const std::string& learner,
                        const NextValuesFunction& next) {
  const std::vector<const Item*> items = LaunchableItems(manifest);
  return ResultsDocument(manifest.identifier, manifest.title, store, learner,
                         [&](JsonWriter& json, const std::string& login) {
                           json.key("items");
                           json.open('[');
                           for (const Item* item : items) {
                             json.open('{');
                             json.key("identifier");
                             json.string(item->identifier);
                             json.key("title");
                             json.string(item->title);
                             json.key("values");
                             WriteValues(
                                 json, next(store.load(login, item->identifier),
                                            ContextFor(login, *item)));
                             json.close('}');
                           }
                           json.close(']');
                         });
}

std::string ReportText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = ReadUtf8(text, i, Utf8Bad::kByte);
    i += c.length;
    switch (c.code) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (c.code < 0x20)
          out += ' ';
        else if (c.code < 0x80)
          out += static_cast<char>(c.code);
        else
          out += "&#" + std::to_string(c.code) + ";";
    }
  }
  return out;
}

std::string StatusName(const std::string& status) {
  // The vocabulary's words as the screens show them.
  static constexpr const char* kNames[][2] = {
      {"not attempted", N_("Not attempted")}, {"incomplete", N_("Incomplete")},
      {"completed", N_("Completed")},         {"passed", N_("Passed")},
      {"failed", N_("Failed")},               {"browsed", N_("Browsed")},
      {"unknown", N_("Unknown")},             {"in progress", N_("In progress")},
      {"satisfied", N_("Satisfied")},         {"not satisfied", N_("Not satisfied")},
  };
  if (status.empty()) return _(kNames[0][1]);
  for (const auto& [word, name] : kNames) {
    if (status == word) return _(name);
  }
  std::string name = status;
  if (name[0] >= 'a' && name[0] <= 'z')
    name[0] = static_cast<char>(name[0] - 32);
  return name;
}

std::string ReportHead(const std::string& title, const std::string& learner) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<export>\n"
         "<p fontsize=\"16\">" +
         ReportText(title) + "</p>\n<hr/>\n<p>" + ReportText(_("Learner: ")) +
         ReportText(learner) +
         "</p>\n<br/>\n<table>\n";
}

}  // namespace zept::scorm
