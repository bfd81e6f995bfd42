#pragma once
// The data-model tables of the SCORM runtimes (1.2 and 2004) as trees of
// element names, for finding an element's rule one name at a time: "n" in
// a pattern is a node's array child, where an index stands.

#include <optional>
#include <span>
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

}  // namespace zept::scorm
