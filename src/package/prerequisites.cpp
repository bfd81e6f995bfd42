#include "package/prerequisites.h"

#include <algorithm>

#include "util/utf8.h"

namespace zept::scorm {

struct Prerequisites::Node {
  enum class Kind { kIdentifier, kIs, kIsNot, kNot, kAnd, kOr, kAtLeast };
  Kind kind = Kind::kIdentifier;
  std::string identifier;  // kIdentifier, kIs, kIsNot
  std::string status;      // kIs, kIsNot: the full status name
  std::size_t count = 0;   // kAtLeast
  std::vector<std::shared_ptr<const Node>> children;
};

namespace {

using Node = Prerequisites::Node;
using NodePtr = std::shared_ptr<const Node>;

// Bounds for hostile text: far beyond any real course's prerequisites.
constexpr std::size_t kMaxLength = 64 * 1024;
constexpr int kMaxDepth = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsOperator(char c) {
  return std::string_view("&|~=<>(){},*").find(c) != std::string_view::npos;
}

std::string Trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// A lesson status in its full lower-case form, from any case, its one-letter
// abbreviation or runs of blanks inside; "" when it is none of them.
std::string StatusName(std::string_view text) {
  std::string words;
  for (char c : Trimmed(text)) {
    if (IsBlank(c)) {
      if (!words.empty() && words.back() != ' ') words += ' ';
    } else {
      words += AsciiLower(c);
    }
  }
  static constexpr std::string_view kStatuses[] = {"passed",  "completed",
                                                   "failed",  "incomplete",
                                                   "browsed", "not attempted"};
  for (std::string_view status : kStatuses) {
    if (words == status || (words.size() == 1 && words[0] == status[0]))
      return std::string(status);
  }
  return "";
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  NodePtr parse() {
    if (text_.size() > kMaxLength) {
      fail("longer than " + std::to_string(kMaxLength) + " characters");
    }
    NodePtr root = anyOf();
    skipBlanks();
    if (at_ < text_.size())
      fail(std::string("unexpected '") + text_[at_] + "'");
    return root;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    std::string shown = text_.substr(0, 60);
    if (shown.size() < text_.size()) shown += "...";
    throw EPrerequisitesError("prerequisites '" + shown + "': " + what +
                              " at character " + std::to_string(at_ + 1));
  }

  void skipBlanks() {
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
  }

  bool take(std::string_view token) {
    skipBlanks();
    if (text_.compare(at_, token.size(), token) != 0) return false;
    at_ += token.size();
    return true;
  }

  // The text up to the next operator, trimmed; at_ moves past it.
  std::string word() {
    skipBlanks();
    const std::size_t begin = at_;
    while (at_ < text_.size() && !IsOperator(text_[at_])) ++at_;
    return Trimmed(std::string_view(text_).substr(begin, at_ - begin));
  }

  void enter() {
    if (++depth_ > kMaxDepth)
      fail("nested deeper than " + std::to_string(kMaxDepth));
  }

  static NodePtr Joined(Node::Kind kind, std::vector<NodePtr> children) {
    if (children.size() == 1) return children[0];
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->children = std::move(children);
    return node;
  }

  NodePtr anyOf() {
    std::vector<NodePtr> children{allOf()};
    while (take("|")) children.push_back(allOf());
    return Joined(Node::Kind::kOr, std::move(children));
  }

  NodePtr allOf() {
    std::vector<NodePtr> children{unary()};
    while (take("&")) children.push_back(unary());
    return Joined(Node::Kind::kAnd, std::move(children));
  }

  NodePtr unary() {
    if (!take("~")) return primary();
    enter();
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::kNot;
    node->children.push_back(unary());
    --depth_;
    return node;
  }

  NodePtr primary() {
    if (take("(")) {
      enter();
      NodePtr inner = anyOf();
      if (!take(")")) fail("expected ')'");
      --depth_;
      return inner;
    }
    skipBlanks();
    const std::size_t start = at_;
    const std::string name = word();
    if (name.empty()) {
      at_ = start;
      fail(at_ < text_.size()
               ? std::string("expected an identifier, not '") + text_[at_] + "'"
               : "expected an identifier at the end");
    }
    if (take("*")) return set(name, start);
    auto node = std::make_shared<Node>();
    node->identifier = name;
    const bool is = take("=");
    const bool isNot = !is && take("<>");
    if (is || isNot) {
      node->kind = is ? Node::Kind::kIs : Node::Kind::kIsNot;
      skipBlanks();
      const std::size_t statusAt = at_;
      const std::string written = word();
      node->status = StatusName(written);
      if (node->status.empty()) {
        at_ = statusAt;
        fail(written.empty() ? "expected a status"
                             : "unknown status '" + written + "'");
      }
    }
    return node;
  }

  NodePtr set(const std::string& count, std::size_t countAt) {
    if (count.size() > 9 ||
        !std::all_of(count.begin(), count.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      at_ = countAt;
      fail("expected a count before '*'");
    }
    if (!take("{")) fail("expected '{'");
    enter();
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::kAtLeast;
    node->count = std::stoul(count);
    do {
      node->children.push_back(anyOf());
    } while (take(","));
    if (!take("}")) fail("expected '}' or ','");
    --depth_;
    return node;
  }

  const std::string& text_;
  std::size_t at_ = 0;
  int depth_ = 0;
};

bool Met(const Node& node,
         const std::function<std::string(const std::string&)>& status) {
  switch (node.kind) {
    case Node::Kind::kIdentifier: {
      const std::string s = StatusName(status(node.identifier));
      return s == "passed" || s == "completed";
    }
    case Node::Kind::kIs:
      return StatusName(status(node.identifier)) == node.status;
    case Node::Kind::kIsNot:
      return StatusName(status(node.identifier)) != node.status;
    case Node::Kind::kNot:
      return !Met(*node.children[0], status);
    case Node::Kind::kAnd:
      for (const NodePtr& child : node.children) {
        if (!Met(*child, status)) return false;
      }
      return true;
    case Node::Kind::kOr:
      for (const NodePtr& child : node.children) {
        if (Met(*child, status)) return true;
      }
      return false;
    case Node::Kind::kAtLeast: {
      std::size_t met = 0;
      for (const NodePtr& child : node.children) {
        if (Met(*child, status) && ++met >= node.count) return true;
      }
      return met >= node.count;
    }
  }
  return false;
}

void Collect(const Node& node, std::vector<std::string>& out) {
  if (!node.identifier.empty() &&
      std::find(out.begin(), out.end(), node.identifier) == out.end()) {
    out.push_back(node.identifier);
  }
  for (const NodePtr& child : node.children) Collect(*child, out);
}

}  // namespace

Prerequisites Prerequisites::Parse(const std::string& text) {
  Prerequisites result;
  if (!Trimmed(text).empty()) result.root_ = Parser(text).parse();
  return result;
}

bool Prerequisites::met(
    const std::function<std::string(const std::string&)>& status) const {
  return !root_ || Met(*root_, status);
}

std::vector<std::string> Prerequisites::identifiers() const {
  std::vector<std::string> out;
  if (root_) Collect(*root_, out);
  return out;
}

}  // namespace zept::scorm
