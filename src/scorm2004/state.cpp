#include "scorm2004/state.h"

#include <charconv>
#include <cmath>
#include <set>
#include <utility>

namespace zept::scorm2004 {

ActivityTree::ActivityTree(const Activity& root, bool objectivesPerAttempt)
    : objectivesPerAttempt_(objectivesPerAttempt) {
  add(root, kNone);
}

void ActivityTree::add(const Activity& activity, std::size_t parent) {
  const std::size_t index = nodes_.size();
  const std::size_t place =
      parent == kNone ? 0 : nodes_[parent].children.size();
  nodes_.push_back({&activity, parent, {}, place});
  byIdentifier_.emplace(activity.identifier, index);
  if (parent != kNone) nodes_[parent].children.push_back(index);
  for (const Activity& child : activity.children) add(child, index);
}

std::size_t ActivityTree::find(std::string_view identifier) const {
  const auto found = byIdentifier_.find(identifier);
  return found == byIdentifier_.end() ? kNone : found->second;
}

bool ActivityTree::contains(std::size_t ancestor, std::size_t index) const {
  for (; index != kNone; index = nodes_[index].parent)
    if (index == ancestor) return true;
  return false;
}

std::size_t ActivityTree::depth(std::size_t index) const {
  std::size_t depth = 0;
  while ((index = nodes_[index].parent) != kNone) ++depth;
  return depth;
}

std::size_t ActivityTree::commonAncestor(std::size_t a, std::size_t b) const {
  std::size_t da = depth(a), db = depth(b);
  for (; da > db; --da) a = nodes_[a].parent;
  for (; db > da; --db) b = nodes_[b].parent;
  while (a != b) {
    a = nodes_[a].parent;
    b = nodes_[b].parent;
  }
  return a;
}

std::vector<std::size_t> ActivityTree::pathUp(std::size_t from,
                                              std::size_t to) const {
  std::vector<std::size_t> path;
  for (std::size_t i = from; i != kNone; i = nodes_[i].parent) {
    path.push_back(i);
    if (i == to) return path;
  }
  return {};  // `to` is no ancestor of `from`
}

RandomSource SeededRandom(std::uint64_t seed) {
  // splitmix64: small, fast and good enough to shuffle a few children.
  return [state = seed](std::size_t bound) mutable -> std::size_t {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return bound == 0 ? 0 : static_cast<std::size_t>(z % bound);
  };
}

namespace {

// The state of an activity nobody has touched.
ActivityState Plain(const ActivityTree& tree, std::size_t index) {
  ActivityState state;
  state.availableChildren = tree.children(index);
  state.objectives.resize(tree.sequencing(index).objectives.size());
  if (state.objectives.empty()) state.objectives.resize(1);
  return state;
}

// Identifiers are XML ids or URIs: only what would break a line or a field
// is escaped.
std::string Escape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c == '%' || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return {};
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (error != std::errc() || end != text.data() + i + 3) return {};
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

std::string Number(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::optional<double> ParseNumber(std::string_view text) {
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    return {};
  return value;
}

// A known flag with its value: "" unknown (value false), "0"/"1" known,
// "~" unknown with a value left true from before.
std::string Flag(bool known, bool value) {
  return known ? (value ? "1" : "0") : (value ? "~" : "");
}

bool ParseFlag(std::string_view text, bool& known, bool& value) {
  if (text.empty()) return known = value = false, true;
  if (text == "~") return known = false, value = true, true;
  if (text == "0" || text == "1")
    return known = true, value = text == "1", true;
  return false;
}

// Same for a number: "" unknown and 0, "~V" unknown with V, "V" known.
std::string Measure(bool known, double value) {
  if (known) return Number(value);
  return value == 0.0 ? "" : "~" + Number(value);
}

bool ParseMeasure(std::string_view text, bool& known, double& value) {
  known = false;
  value = 0.0;
  if (text.empty()) return true;
  if (text[0] == '~')
    text.remove_prefix(1);
  else
    known = true;
  const auto number = ParseNumber(text);
  if (!number) return false;
  value = *number;
  return true;
}

std::string Optional(const std::optional<double>& value) {
  return value ? Number(*value) : "";
}

bool ParseOptional(std::string_view text, std::optional<double>& value) {
  value.reset();
  if (text.empty()) return true;
  value = ParseNumber(text);
  return value.has_value();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// "sat;measure;raw;min;max;completion;progress"
std::string ObjectiveText(const ObjectiveState& o) {
  std::string out = Flag(o.progressStatus, o.satisfiedStatus);
  out += ';' + Measure(o.measureStatus, o.normalizedMeasure);
  out += ';' + Optional(o.rawScore);
  out += ';' + Optional(o.minScore);
  out += ';' + Optional(o.maxScore);
  out += ';';
  if (o.completionStatus) out += *o.completionStatus ? "1" : "0";
  out += ';' + Optional(o.progressMeasure);
  return out;
}

bool ParseObjective(std::string_view text, ObjectiveState& o) {
  const auto parts = Split(text, ';');
  if (parts.size() != 7) return false;
  bool known = false, value = false;
  if (!ParseFlag(parts[0], o.progressStatus, o.satisfiedStatus) ||
      !ParseMeasure(parts[1], o.measureStatus, o.normalizedMeasure) ||
      !ParseOptional(parts[2], o.rawScore) ||
      !ParseOptional(parts[3], o.minScore) ||
      !ParseOptional(parts[4], o.maxScore) ||
      !ParseFlag(parts[5], known, value) || parts[5] == "~" ||
      !ParseOptional(parts[6], o.progressMeasure))
    return false;
  if (known)
    o.completionStatus = value;
  else
    o.completionStatus.reset();
  return true;
}

}  // namespace

std::string SerializeState(const ActivityTree& tree,
                           const SequencingState& state) {
  std::string out = "zs1\n";
  if (state.currentActivity < tree.size())
    out += "c " + Escape(tree.at(state.currentActivity).identifier) + '\n';
  if (state.suspendedActivity < tree.size())
    out += "s " + Escape(tree.at(state.suspendedActivity).identifier) + '\n';
  for (std::size_t i = 0; i < tree.size() && i < state.activities.size(); ++i) {
    const ActivityState& a = state.activities[i];
    if (a == Plain(tree, i)) continue;
    std::string flags;
    if (a.activityProgressStatus) flags += 'p';
    if (a.isActive) flags += 'a';
    if (a.isSuspended) flags += 's';
    if (a.completionReported) flags += 'c';
    if (a.successReported) flags += 'o';
    if (a.staleObjectives) flags += 'O';
    if (a.staleProgress) flags += 'P';
    out += "a " + Escape(tree.at(i).identifier) + '\t' +
           std::to_string(a.activityAttemptCount) + '\t' + flags + '\t' +
           Flag(a.attemptProgressStatus, a.attemptCompletionStatus) + '\t' +
           Measure(a.attemptCompletionAmountStatus, a.attemptCompletionAmount) +
           '\t';
    if (a.availableChildren == tree.children(i)) {
      out += '*';
    } else {
      // Positions among all children: stable while the tree is.
      const auto& all = tree.children(i);
      for (std::size_t n = 0; n < a.availableChildren.size(); ++n) {
        std::size_t position = 0;
        while (position < all.size() && all[position] != a.availableChildren[n])
          ++position;
        if (n) out += ',';
        out += std::to_string(position);
      }
    }
    for (const ObjectiveState& o : a.objectives) out += '\t' + ObjectiveText(o);
    out += '\n';
  }
  for (const auto& [id, o] : state.globalObjectives)
    out += "g " + Escape(id) + '\t' + ObjectiveText(o) + '\n';
  return out;
}

std::optional<SequencingState> ParseState(const ActivityTree& tree,
                                          std::string_view text,
                                          std::vector<std::string>* reset) {
  const auto said = [reset](std::string line) {
    if (reset) reset->push_back(std::move(line));
  };
  bool activeGone = false, suspendedGone = false;
  SequencingState state;
  for (std::size_t i = 0; i < tree.size(); ++i)
    state.activities.push_back(Plain(tree, i));
  auto lines = Split(text, '\n');
  if (lines.empty() || lines[0] != "zs1") return {};
  for (std::size_t l = 1; l < lines.size(); ++l) {
    const std::string_view line = lines[l];
    if (line.empty()) continue;
    if (line.size() < 2 || line[1] != ' ') return {};
    auto fields = Split(line.substr(2), '\t');
    const auto id = Unescape(fields[0]);
    if (!id) return {};
    const std::size_t index = tree.find(*id);
    switch (line[0]) {
      case 'c':
      case 's':
        if (fields.size() != 1) return {};
        (line[0] == 'c' ? state.currentActivity : state.suspendedActivity) =
            index;
        if (index == ActivityTree::kNone) {
          (line[0] == 'c' ? activeGone : suspendedGone) = true;
          said(std::string(line[0] == 'c' ? "the current" : "the suspended") +
               " activity " + *id + " is no longer in the course");
        }
        break;
      case 'g': {
        if (fields.size() != 2) return {};
        ObjectiveState o;
        if (!ParseObjective(fields[1], o)) return {};
        state.globalObjectives[*id] = o;
        break;
      }
      case 'a': {
        if (fields.size() < 6) return {};
        ActivityState a =
            index == ActivityTree::kNone ? ActivityState{} : Plain(tree, index);
        unsigned long count = 0;
        const auto [end, error] = std::from_chars(
            fields[1].data(), fields[1].data() + fields[1].size(), count);
        if (error != std::errc() ||
            end != fields[1].data() + fields[1].size() || count > 0xFFFFFFFFUL)
          return {};
        a.activityAttemptCount = static_cast<unsigned>(count);
        for (char flag : fields[2]) {
          if (flag == 'p')
            a.activityProgressStatus = true;
          else if (flag == 'a')
            a.isActive = true;
          else if (flag == 's')
            a.isSuspended = true;
          else if (flag == 'c')
            a.completionReported = true;
          else if (flag == 'o')
            a.successReported = true;
          else if (flag == 'O')
            a.staleObjectives = true;
          else if (flag == 'P')
            a.staleProgress = true;
          else
            return {};
        }
        if (!ParseFlag(fields[3], a.attemptProgressStatus,
                       a.attemptCompletionStatus) ||
            !ParseMeasure(fields[4], a.attemptCompletionAmountStatus,
                          a.attemptCompletionAmount))
          return {};
        std::vector<ObjectiveState> objectives;
        for (std::size_t f = 6; f < fields.size(); ++f) {
          ObjectiveState o;
          if (!ParseObjective(fields[f], o)) return {};
          objectives.push_back(o);
        }
        if (index == ActivityTree::kNone) {
          said("activity " + *id +
               " is no longer in the course; what was done in it is dropped");
          break;
        }
        const auto& all = tree.children(index);
        if (fields[5] != "*") {
          a.availableChildren.clear();
          std::set<std::size_t> seen;
          bool fits = true;
          if (!fields[5].empty()) {
            for (std::string_view part : Split(fields[5], ',')) {
              std::size_t position = 0;
              const auto [e, err] = std::from_chars(
                  part.data(), part.data() + part.size(), position);
              if (err != std::errc() || e != part.data() + part.size())
                return {};
              // A course updated since may have fewer children here.
              fits =
                  fits && position < all.size() && seen.insert(position).second;
              if (fits) a.availableChildren.push_back(all[position]);
            }
          }
          if (!fits) {
            a.availableChildren = all;
            said("the activities under " + *id +
                 " no longer fit the order stored for them; all of them are "
                 "available again, in the course's order");
          }
        }
        // Objectives the definition has lost are dropped, new ones start
        // unknown.
        for (std::size_t o = 0;
             o < objectives.size() && o < a.objectives.size(); ++o)
          a.objectives[o] = objectives[o];
        state.activities[index] = std::move(a);
        break;
      }
      default:
        return {};
    }
  }
  // The active (suspended) activities are the path to the current
  // (suspended) one: without it they are none.
  for (ActivityState& a : state.activities) {
    if (activeGone) a.isActive = false;
    if (suspendedGone) a.isSuspended = false;
  }
  if (activeGone) state.currentActivity = ActivityTree::kNone;
  if (suspendedGone) state.suspendedActivity = ActivityTree::kNone;
  return state;
}

}  // namespace zept::scorm2004
