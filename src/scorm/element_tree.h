#pragma once
// The data-model tables of the SCORM runtimes (1.2 and 2004) as trees of
// element names, for finding an element's rule one name at a time: "n" in
// a pattern is a node's array child, where an index stands.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/utf8.h"

namespace zept::scorm {

template <typename Rule>
struct ElementNode {
  const Rule* rule = nullptr;
  std::vector<std::pair<std::string_view, int>> children;
  int arrayChild = -1;
};

// Node 0 is the root; the rules' patterns must outlive the tree.
template <typename Rule>
std::vector<ElementNode<Rule>> BuildElementTree(std::span<const Rule> rules) {
  std::vector<ElementNode<Rule>> nodes(1);
  for (const Rule& rule : rules) {
    int at = 0;
    std::string_view rest = rule.pattern;
    while (!rest.empty()) {
      const std::size_t dot = rest.find('.');
      const std::string_view name = rest.substr(0, dot);
      rest = dot == std::string_view::npos ? std::string_view{}
                                           : rest.substr(dot + 1);
      int next = -1;
      if (name == "n") {
        next = nodes[at].arrayChild;
      } else {
        for (const auto& [childName, child] : nodes[at].children)
          if (childName == name) next = child;
      }
      if (next < 0) {
        next = static_cast<int>(nodes.size());
        nodes.emplace_back();
        if (name == "n")
          nodes[at].arrayChild = next;
        else
          nodes[at].children.emplace_back(name, next);
      }
      at = next;
    }
    nodes[at].rule = &rule;
  }
  return nodes;
}

// An array index as written: digits, no leading zero, small enough for an
// int.
inline std::optional<int> ParseIndex(std::string_view s) {
  if (!AllDigits(s) || s.size() > 9 || (s.size() > 1 && s[0] == '0'))
    return std::nullopt;
  int n = 0;
  for (char c : s) n = n * 10 + (c - '0');
  return n;
}

// A row's words as a reason lists them: "a, b, \"\"".
inline std::string Joined(std::span<const std::string_view> words) {
  std::string out;
  for (std::string_view word : words) {
    if (!out.empty()) out += ", ";
    out += word.empty() ? std::string_view("\"\"") : word;
  }
  return out;
}

// Where the versions' element names differ on the way down the tree.
struct ElementWalk {
  // "_version" ends a name as "_children" and "_count" do (2004).
  bool versionKeyword = false;
  // Only digits make a bad index; any other name where an index stands is
  // unknown (2004). Otherwise any such name is a bad index (1.2).
  bool badIndexIsDigits = false;
  // A child name that is never walked into by name ("{target}" in 2004),
  // "" for none.
  std::string_view opaque = {};
};

// Walks element down the tree into parsed (a version's ParsedElement, its
// fault kUnknown to begin with): the rule it reaches with each array index
// on the way, or the fault where it goes astray.
template <typename Parsed, typename Rule>
void WalkElement(const std::vector<ElementNode<Rule>>& tree,
                 std::string_view element, const ElementWalk& how,
                 Parsed& parsed) {
  using Fault = typename Parsed::Fault;
  using Type = decltype(Rule::type);
  int at = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = element.find('.', start);
    const bool last = dot == std::string_view::npos;
    const std::string_view name =
        element.substr(start, last ? std::string_view::npos : dot - start);
    const ElementNode<Rule>& node = tree[at];
    int next = -1;
    for (const auto& [childName, child] : node.children)
      if (childName == name) next = child;
    if (next >= 0 && (how.opaque.empty() || name != how.opaque)) {
      at = next;
    } else if (at != 0 && last &&
               (name == "_children" || name == "_count" ||
                (how.versionKeyword && name == "_version"))) {
      parsed.keyword = true;
      if (name != "_version")
        parsed.fault =
            name == "_children" ? Fault::kNoChildren : Fault::kNotAnArray;
      return;
    } else if (node.arrayChild >= 0) {
      const auto index = ParseIndex(name);
      if (!index || parsed.indexCount == 2) {
        if (!how.badIndexIsDigits || AllDigits(name))
          parsed.fault = Fault::kBadIndex;
        return;
      }
      parsed.index[parsed.indexCount] = *index;
      parsed.arrayEnd[parsed.indexCount] = start - 1;
      ++parsed.indexCount;
      at = node.arrayChild;
    } else {
      return;  // kUnknown
    }
    if (last) break;
    start = dot + 1;
  }
  parsed.rule = tree[at].rule;
  if (parsed.rule) {
    parsed.fault = Fault::kNone;
    const Type type = parsed.rule->type;
    parsed.keyword = type == Type::kChildren || type == Type::kCount ||
                     type == Type::kVersion;
  }
}

}  // namespace zept::scorm
