#include "swf/script.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace zept::swf {

namespace {

[[noreturn]] void Fail(int line, const std::string& message) {
  throw ScriptError("line " + std::to_string(line) + ": " + message);
}

// ---------------------------------------------------------------- tokens

struct Token {
  enum Kind { kName, kNumber, kString, kPunct, kEnd } kind = kEnd;
  std::string text;  // name, punctuator, or the string's value
  double number = 0;
  int line = 1;
};

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == '$';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::vector<Token> Tokenize(std::string_view src) {
  // Longest first, so that "===" is not read as "==" and "=".
  static const char* const kPuncts[] = {
      "===", "!==", "==", "!=", "<=", ">=", "&&", "||", "++", "--", "+=", "-=",
      "*=",  "/=",  "{",  "}",  "(",  ")",  "[",  "]",  ";",  ",",  ".",  "?",
      ":",   "=",   "<",  ">",  "+",  "-",  "*",  "/",  "%",  "!"};
  std::vector<Token> out;
  int line = 1;
  std::size_t i = 0;
  while (true) {
    // Blanks and comments.
    while (i < src.size()) {
      if (src[i] == '\n') {
        ++line;
        ++i;
      } else if (src[i] == ' ' || src[i] == '\t' || src[i] == '\r') {
        ++i;
      } else if (src.substr(i, 2) == "//") {
        while (i < src.size() && src[i] != '\n') ++i;
      } else if (src.substr(i, 2) == "/*") {
        const std::size_t end = src.find("*/", i + 2);
        if (end == std::string_view::npos) Fail(line, "unclosed comment");
        for (std::size_t k = i; k < end; ++k) line += src[k] == '\n';
        i = end + 2;
      } else {
        break;
      }
    }
    Token t;
    t.line = line;
    if (i >= src.size()) {
      out.push_back(t);
      return out;
    }
    const char c = src[i];
    if (IsNameStart(c)) {
      std::size_t j = i;
      while (j < src.size() && (IsNameStart(src[j]) || IsDigit(src[j]))) ++j;
      t.kind = Token::kName;
      t.text = std::string(src.substr(i, j - i));
      i = j;
    } else if (IsDigit(c)) {
      std::size_t j = i;
      if (src.substr(i, 2) == "0x" || src.substr(i, 2) == "0X") {
        j += 2;
        while (j < src.size() &&
               std::isxdigit(static_cast<unsigned char>(src[j])))
          ++j;
        if (j == i + 2) Fail(line, "hex number without digits");
        t.number = static_cast<double>(std::stoull(
            std::string(src.substr(i + 2, j - i - 2)), nullptr, 16));
      } else {
        while (j < src.size() && (IsDigit(src[j]) || src[j] == '.')) ++j;
        try {
          std::size_t used = 0;
          const std::string text(src.substr(i, j - i));
          t.number = std::stod(text, &used);
          if (used != text.size()) Fail(line, "bad number " + text);
        } catch (const std::logic_error&) {
          Fail(line, "bad number");
        }
      }
      if (j < src.size() && IsNameStart(src[j])) Fail(line, "bad number");
      t.kind = Token::kNumber;
      i = j;
    } else if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      std::string value;
      while (true) {
        if (j >= src.size() || src[j] == '\n') Fail(line, "unclosed string");
        const char d = src[j++];
        if (d == c) break;
        if (d != '\\') {
          value += d;
          continue;
        }
        if (j >= src.size()) Fail(line, "unclosed string");
        const char e = src[j++];
        switch (e) {
          case 'n':
            value += '\n';
            break;
          case 'r':
            value += '\r';
            break;
          case 't':
            value += '\t';
            break;
          case '\\':
          case '"':
          case '\'':
            value += e;
            break;
          case 'u': {
            if (j + 4 > src.size()) Fail(line, "bad \\u escape");
            std::uint32_t code = 0;
            for (int k = 0; k < 4; ++k) {
              const char h = src[j + k];
              if (!std::isxdigit(static_cast<unsigned char>(h)))
                Fail(line, "bad \\u escape");
              code =
                  code * 16 + static_cast<std::uint32_t>(
                                  IsDigit(h) ? h - '0' : (h | 0x20) - 'a' + 10);
            }
            if (code == 0) Fail(line, "a string may not hold NUL");
            AppendUtf8(value, code);
            j += 4;
            break;
          }
          default:
            Fail(line, std::string("unknown escape \\") + e);
        }
      }
      t.kind = Token::kString;
      t.text = std::move(value);
      i = j;
    } else {
      for (const char* p : kPuncts) {
        const std::string_view punct(p);
        if (src.substr(i, punct.size()) == punct) {
          t.kind = Token::kPunct;
          t.text = std::string(punct);
          break;
        }
      }
      if (t.kind != Token::kPunct)
        Fail(line, std::string("unexpected character '") + c + "'");
      i += t.text.size();
    }
    out.push_back(std::move(t));
  }
}

// ---------------------------------------------------------------- syntax

struct Node;
using NodePtr = std::unique_ptr<Node>;

struct Node {
  enum Kind {
    // expressions
    kNumber,
    kString,
    kTrue,
    kFalse,
    kNull,
    kUndefined,
    kName,
    kMember,
    kIndex,
    kCall,
    kNew,
    kUnary,
    kBinary,
    kAnd,
    kOr,
    kConditional,
    kFunction,
    kArray,
    kObject,
    kTypeof,
    // statements
    kVar,
    kFunctionDecl,
    kIf,
    kWhile,
    kFor,
    kReturn,
    kBreak,
    kContinue,
    kBlock,
    kExpression,
    kAssign,
    kUpdate,
  } kind;
  int line = 0;
  std::string text;  // name, member, operator
  double number = 0;
  std::vector<std::string> names;  // parameters, variables, keys
  std::vector<NodePtr> kids;       // null where a part is left out
};

NodePtr Make(Node::Kind kind, int line) {
  auto n = std::make_unique<Node>();
  n->kind = kind;
  n->line = line;
  return n;
}

bool IsReserved(const std::string& name) {
  static const char* const kWords[] = {
      "var",    "function",   "if",        "else", "while",  "for",
      "return", "break",      "continue",  "new",  "typeof", "true",
      "false",  "null",       "undefined", "this", "delete", "do",
      "switch", "instanceof", "in"};
  for (const char* w : kWords)
    if (name == w) return true;
  return false;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  std::vector<NodePtr> program() {
    std::vector<NodePtr> out;
    while (peek().kind != Token::kEnd) out.push_back(statement());
    return out;
  }

 private:
  const Token& peek(int ahead = 0) const {
    const std::size_t at = std::min(pos_ + ahead, t_.size() - 1);
    return t_[at];
  }
  int line() const { return peek().line; }
  bool isPunct(std::string_view p) const {
    return peek().kind == Token::kPunct && peek().text == p;
  }
  bool isWord(std::string_view w) const {
    return peek().kind == Token::kName && peek().text == w;
  }
  bool acceptPunct(std::string_view p) {
    if (!isPunct(p)) return false;
    ++pos_;
    return true;
  }
  void expect(std::string_view p) {
    if (!acceptPunct(p)) {
      const Token& t = peek();
      Fail(t.line,
           "expected '" + std::string(p) + "' but found " +
               (t.kind == Token::kEnd ? "the end" : "'" + t.text + "'"));
    }
  }
  std::string name() {
    const Token& t = peek();
    if (t.kind != Token::kName || IsReserved(t.text))
      Fail(t.line, "expected a name");
    ++pos_;
    return t.text;
  }

  std::vector<NodePtr> block() {
    expect("{");
    std::vector<NodePtr> out;
    while (!acceptPunct("}")) {
      if (peek().kind == Token::kEnd) Fail(line(), "unclosed block");
      out.push_back(statement());
    }
    return out;
  }

  std::vector<std::string> parameters() {
    expect("(");
    std::vector<std::string> out;
    if (!acceptPunct(")")) {
      do out.push_back(name());
      while (acceptPunct(","));
      expect(")");
    }
    return out;
  }

  NodePtr statement() {
    const int at = line();
    if (isPunct("{")) {
      auto n = Make(Node::kBlock, at);
      n->kids = block();
      return n;
    }
    if (isWord("function") && peek(1).kind == Token::kName) {
      ++pos_;
      auto n = Make(Node::kFunctionDecl, at);
      n->text = name();
      n->names = parameters();
      n->kids = block();
      return n;
    }
    if (isWord("if")) {
      ++pos_;
      auto n = Make(Node::kIf, at);
      expect("(");
      n->kids.push_back(expression());
      expect(")");
      n->kids.push_back(statement());
      if (isWord("else")) {
        ++pos_;
        n->kids.push_back(statement());
      } else {
        n->kids.push_back(nullptr);
      }
      return n;
    }
    if (isWord("while")) {
      ++pos_;
      auto n = Make(Node::kWhile, at);
      expect("(");
      n->kids.push_back(expression());
      expect(")");
      n->kids.push_back(statement());
      return n;
    }
    if (isWord("for")) {
      ++pos_;
      auto n = Make(Node::kFor, at);
      expect("(");
      n->kids.push_back(isPunct(";") ? nullptr : simpleStatement());
      expect(";");
      n->kids.push_back(isPunct(";") ? nullptr : expression());
      expect(";");
      n->kids.push_back(isPunct(")") ? nullptr : simpleStatement());
      expect(")");
      n->kids.push_back(statement());
      return n;
    }
    if (isWord("return")) {
      ++pos_;
      auto n = Make(Node::kReturn, at);
      n->kids.push_back(isPunct(";") ? nullptr : expression());
      expect(";");
      return n;
    }
    if (isWord("break") || isWord("continue")) {
      auto n = Make(isWord("break") ? Node::kBreak : Node::kContinue, at);
      ++pos_;
      expect(";");
      return n;
    }
    if (acceptPunct(";")) return Make(Node::kBlock, at);
    auto n = simpleStatement();
    expect(";");
    return n;
  }

  // A var list, an assignment, an update or an expression, without ";".
  NodePtr simpleStatement() {
    const int at = line();
    if (isWord("var")) {
      ++pos_;
      auto n = Make(Node::kVar, at);
      do {
        n->names.push_back(name());
        n->kids.push_back(acceptPunct("=") ? expression() : nullptr);
      } while (acceptPunct(","));
      return n;
    }
    if (isPunct("++") || isPunct("--")) {
      auto n = Make(Node::kUpdate, at);
      n->text = peek().text;
      ++pos_;
      n->kids.push_back(assignable(expression()));
      return n;
    }
    NodePtr e = expression();
    for (const char* op : {"=", "+=", "-=", "*=", "/="}) {
      if (acceptPunct(op)) {
        auto n = Make(Node::kAssign, at);
        n->text = op;
        n->kids.push_back(assignable(std::move(e)));
        n->kids.push_back(expression());
        return n;
      }
    }
    if (isPunct("++") || isPunct("--")) {
      auto n = Make(Node::kUpdate, at);
      n->text = peek().text;
      ++pos_;
      n->kids.push_back(assignable(std::move(e)));
      return n;
    }
    auto n = Make(Node::kExpression, at);
    n->kids.push_back(std::move(e));
    return n;
  }

  NodePtr assignable(NodePtr e) {
    if (e->kind != Node::kName && e->kind != Node::kMember &&
        e->kind != Node::kIndex)
      Fail(e->line, "cannot assign to this");
    return e;
  }

  NodePtr expression() { return conditional(); }

  NodePtr conditional() {
    NodePtr c = logicalOr();
    if (!isPunct("?")) return c;
    auto n = Make(Node::kConditional, line());
    ++pos_;
    n->kids.push_back(std::move(c));
    n->kids.push_back(conditional());
    expect(":");
    n->kids.push_back(conditional());
    return n;
  }

  NodePtr logicalOr() {
    NodePtr left = logicalAnd();
    while (isPunct("||")) {
      auto n = Make(Node::kOr, line());
      ++pos_;
      n->kids.push_back(std::move(left));
      n->kids.push_back(logicalAnd());
      left = std::move(n);
    }
    return left;
  }

  NodePtr logicalAnd() {
    NodePtr left = binary(0);
    while (isPunct("&&")) {
      auto n = Make(Node::kAnd, line());
      ++pos_;
      n->kids.push_back(std::move(left));
      n->kids.push_back(binary(0));
      left = std::move(n);
    }
    return left;
  }

  // Binary operators by level, loosest first.
  NodePtr binary(int level) {
    static const std::vector<std::vector<std::string>> kLevels = {
        {"==", "!=", "===", "!=="},
        {"<", ">", "<=", ">="},
        {"+", "-"},
        {"*", "/", "%"}};
    if (level == static_cast<int>(kLevels.size())) return unary();
    NodePtr left = binary(level + 1);
    while (true) {
      const std::vector<std::string>& ops = kLevels[level];
      const auto found =
          std::find_if(ops.begin(), ops.end(),
                       [&](const std::string& op) { return isPunct(op); });
      if (found == ops.end()) return left;
      auto n = Make(Node::kBinary, line());
      n->text = *found;
      ++pos_;
      n->kids.push_back(std::move(left));
      n->kids.push_back(binary(level + 1));
      left = std::move(n);
    }
  }

  NodePtr unary() {
    const int at = line();
    if (isPunct("!") || isPunct("-")) {
      auto n = Make(Node::kUnary, at);
      n->text = peek().text;
      ++pos_;
      n->kids.push_back(unary());
      return n;
    }
    if (isWord("typeof")) {
      ++pos_;
      auto n = Make(Node::kTypeof, at);
      n->kids.push_back(unary());
      return n;
    }
    return postfix();
  }

  std::vector<NodePtr> arguments() {
    std::vector<NodePtr> out;
    expect("(");
    if (!acceptPunct(")")) {
      do out.push_back(expression());
      while (acceptPunct(","));
      expect(")");
    }
    return out;
  }

  NodePtr postfix() {
    NodePtr e;
    if (isWord("new")) {
      const int at = line();
      ++pos_;
      NodePtr ctor = Make(Node::kName, at);
      ctor->text = name();
      while (acceptPunct(".")) {
        auto m = Make(Node::kMember, line());
        m->kids.push_back(std::move(ctor));
        m->text = name();
        ctor = std::move(m);
      }
      e = Make(Node::kNew, at);
      e->kids.push_back(std::move(ctor));
      for (NodePtr& arg : arguments()) e->kids.push_back(std::move(arg));
    } else {
      e = primary();
    }
    while (true) {
      const int at = line();
      if (acceptPunct(".")) {
        auto m = Make(Node::kMember, at);
        m->kids.push_back(std::move(e));
        const Token& t = peek();
        if (t.kind != Token::kName) Fail(t.line, "expected a member name");
        m->text = t.text;  // reserved words are fine after a dot
        ++pos_;
        e = std::move(m);
      } else if (acceptPunct("[")) {
        auto m = Make(Node::kIndex, at);
        m->kids.push_back(std::move(e));
        m->kids.push_back(expression());
        expect("]");
        e = std::move(m);
      } else if (isPunct("(")) {
        auto c = Make(Node::kCall, at);
        c->kids.push_back(std::move(e));
        for (NodePtr& arg : arguments()) c->kids.push_back(std::move(arg));
        e = std::move(c);
      } else {
        return e;
      }
    }
  }

  NodePtr primary() {
    const Token& t = peek();
    const int at = t.line;
    if (t.kind == Token::kNumber) {
      ++pos_;
      auto n = Make(Node::kNumber, at);
      n->number = t.number;
      return n;
    }
    if (t.kind == Token::kString) {
      ++pos_;
      auto n = Make(Node::kString, at);
      n->text = t.text;
      return n;
    }
    if (acceptPunct("(")) {
      NodePtr e = expression();
      expect(")");
      return e;
    }
    if (acceptPunct("[")) {
      auto n = Make(Node::kArray, at);
      if (!acceptPunct("]")) {
        do n->kids.push_back(expression());
        while (acceptPunct(","));
        expect("]");
      }
      return n;
    }
    if (acceptPunct("{")) {
      auto n = Make(Node::kObject, at);
      if (!acceptPunct("}")) {
        do {
          const Token& key = peek();
          if (key.kind != Token::kName && key.kind != Token::kString)
            Fail(key.line, "expected a property name");
          n->names.push_back(key.text);
          ++pos_;
          expect(":");
          n->kids.push_back(expression());
        } while (acceptPunct(","));
        expect("}");
      }
      return n;
    }
    if (t.kind == Token::kName) {
      static const std::pair<const char*, Node::Kind> kLiterals[] = {
          {"true", Node::kTrue},
          {"false", Node::kFalse},
          {"null", Node::kNull},
          {"undefined", Node::kUndefined}};
      for (const auto& [word, kind] : kLiterals) {
        if (t.text == word) {
          ++pos_;
          return Make(kind, at);
        }
      }
      if (t.text == "function") {
        ++pos_;
        auto n = Make(Node::kFunction, at);
        n->names = parameters();
        n->kids = block();
        return n;
      }
      if (t.text == "this") {
        ++pos_;
        auto n = Make(Node::kName, at);
        n->text = "this";
        return n;
      }
      auto n = Make(Node::kName, at);
      n->text = name();
      return n;
    }
    Fail(at, t.kind == Token::kEnd ? "unexpected end"
                                   : "unexpected '" + t.text + "'");
  }

  std::vector<Token> t_;
  std::size_t pos_ = 0;
};

// ---------------------------------------------------------------- code

class Generator {
 public:
  Generator(Assembler& a, bool inFunction) : a_(a), inFunction_(inFunction) {}

  void statements(const std::vector<NodePtr>& list) {
    for (const NodePtr& s : list)
      if (s->kind == Node::kFunctionDecl) functionDecl(*s);
    for (const NodePtr& s : list)
      if (s->kind != Node::kFunctionDecl) statement(*s);
  }

 private:
  struct Loop {
    Assembler::Label breakTo, continueTo;
  };

  void functionDecl(const Node& f) {
    if (f.kind == Node::kFunctionDecl)
      a_.defineFunction(f.text, f.names, body(f));
    else
      a_.defineFunction("", f.names, body(f));
  }

  static Assembler body(const Node& f) {
    Assembler code;
    Generator(code, true).statements(f.kids);
    return code;
  }

  void statement(const Node& s) {
    switch (s.kind) {
      case Node::kFunctionDecl:
        // Only at the top of a body; one nested in a block is hoisted too.
        functionDecl(s);
        break;
      case Node::kBlock:
        statements(s.kids);
        break;
      case Node::kVar:
        for (std::size_t i = 0; i < s.names.size(); ++i) {
          // A timeline variable without a value needs no action at all.
          if (!s.kids[i] && !inFunction_) continue;
          a_.pushString(s.names[i]);
          if (s.kids[i]) {
            expression(*s.kids[i]);
            inFunction_ ? a_.defineLocal() : a_.setVariable();
            continue;
          }
          a_.defineLocal2();
        }
        break;
      case Node::kExpression:
        expression(*s.kids[0]);
        a_.pop();
        break;
      case Node::kAssign:
        assign(s);
        break;
      case Node::kUpdate:
        update(s);
        break;
      case Node::kIf: {
        const auto otherwise = a_.newLabel(), end = a_.newLabel();
        expression(*s.kids[0]);
        a_.not_().ifTrue(otherwise);
        statement(*s.kids[1]);
        if (s.kids[2]) a_.jump(end);
        a_.bind(otherwise);
        if (s.kids[2]) statement(*s.kids[2]);
        a_.bind(end);
        break;
      }
      case Node::kWhile: {
        const Loop loop{a_.newLabel(), a_.newLabel()};
        a_.bind(loop.continueTo);
        expression(*s.kids[0]);
        a_.not_().ifTrue(loop.breakTo);
        loops_.push_back(loop);
        statement(*s.kids[1]);
        loops_.pop_back();
        a_.jump(loop.continueTo);
        a_.bind(loop.breakTo);
        break;
      }
      case Node::kFor: {
        const Loop loop{a_.newLabel(), a_.newLabel()};
        const auto top = a_.newLabel();
        if (s.kids[0]) statement(*s.kids[0]);
        a_.bind(top);
        if (s.kids[1]) {
          expression(*s.kids[1]);
          a_.not_().ifTrue(loop.breakTo);
        }
        loops_.push_back(loop);
        statement(*s.kids[3]);
        loops_.pop_back();
        a_.bind(loop.continueTo);
        if (s.kids[2]) statement(*s.kids[2]);
        a_.jump(top);
        a_.bind(loop.breakTo);
        break;
      }
      case Node::kReturn:
        if (!inFunction_) Fail(s.line, "return outside a function");
        if (s.kids[0])
          expression(*s.kids[0]);
        else
          a_.pushUndefined();
        a_.return_();
        break;
      case Node::kBreak:
      case Node::kContinue:
        if (loops_.empty()) Fail(s.line, "break or continue outside a loop");
        a_.jump(s.kind == Node::kBreak ? loops_.back().breakTo
                                       : loops_.back().continueTo);
        break;
      default:
        Fail(s.line, "not a statement");
    }
  }

  // Pushes what a store into the target needs below the value:
  // [name] for a name, [object, key] for a member or an element.
  void storeTarget(const Node& target) {
    if (target.kind == Node::kName) {
      if (target.text == "this") Fail(target.line, "cannot assign to this");
      a_.pushString(target.text);
    } else {
      expression(*target.kids[0]);
      key(target);
    }
  }
  void key(const Node& target) {
    if (target.kind == Node::kMember)
      a_.pushString(target.text);
    else
      expression(*target.kids[1]);
  }
  void store(const Node& target) {
    target.kind == Node::kName ? a_.setVariable() : a_.setMember();
  }

  void assign(const Node& s) {
    const Node& target = *s.kids[0];
    storeTarget(target);
    if (s.text != "=") expression(target);
    expression(*s.kids[1]);
    if (s.text == "+=") a_.add2();
    if (s.text == "-=") a_.subtract();
    if (s.text == "*=") a_.multiply();
    if (s.text == "/=") a_.divide();
    store(target);
  }

  void update(const Node& s) {
    const Node& target = *s.kids[0];
    storeTarget(target);
    expression(target);
    s.text == "++" ? a_.increment() : a_.decrement();
    store(target);
  }

  void pushNumber(double v) {
    if (v == std::floor(v) && v >= std::numeric_limits<std::int32_t>::min() &&
        v <= std::numeric_limits<std::int32_t>::max())
      a_.pushInt(static_cast<std::int32_t>(v));
    else
      a_.pushNumber(v);
  }

  // [argN .. arg1, argc]
  void pushArguments(const Node& call) {
    for (std::size_t i = call.kids.size(); i-- > 1;) expression(*call.kids[i]);
    a_.pushInt(static_cast<std::int32_t>(call.kids.size() - 1));
  }

  void call(const Node& c) {
    const Node& callee = *c.kids[0];
    const std::size_t argc = c.kids.size() - 1;
    if (callee.kind == Node::kName && callee.text == "fscommand") {
      if (argc != 2) Fail(c.line, "fscommand takes a command and its argument");
      a_.pushString("FSCommand:");
      expression(*c.kids[1]);
      a_.add2();
      expression(*c.kids[2]);
      a_.getUrl2(0, false, false).pushUndefined();
      return;
    }
    if (callee.kind == Node::kName && callee.text == "trace") {
      if (argc != 1) Fail(c.line, "trace takes one value");
      expression(*c.kids[1]);
      a_.trace().pushUndefined();
      return;
    }
    if (callee.kind == Node::kName && callee.text == "getTimer") {
      if (argc != 0) Fail(c.line, "getTimer takes no argument");
      a_.getTime();
      return;
    }
    pushArguments(c);
    if (callee.kind == Node::kName && callee.text != "this") {
      a_.pushString(callee.text).callFunction();
    } else if (callee.kind == Node::kMember || callee.kind == Node::kIndex) {
      expression(*callee.kids[0]);
      key(callee);
      a_.callMethod();
    } else {
      // A function value: called with an undefined method name.
      expression(callee);
      a_.pushUndefined().callMethod();
    }
  }

  void expression(const Node& e) {
    switch (e.kind) {
      case Node::kNumber:
        pushNumber(e.number);
        break;
      case Node::kString:
        a_.pushString(e.text);
        break;
      case Node::kTrue:
        a_.pushBool(true);
        break;
      case Node::kFalse:
        a_.pushBool(false);
        break;
      case Node::kNull:
        a_.pushNull();
        break;
      case Node::kUndefined:
        a_.pushUndefined();
        break;
      case Node::kName:
        a_.pushString(e.text).getVariable();
        break;
      case Node::kMember:
      case Node::kIndex:
        expression(*e.kids[0]);
        key(e);
        a_.getMember();
        break;
      case Node::kCall:
        call(e);
        break;
      case Node::kNew: {
        pushArguments(e);
        const Node& ctor = *e.kids[0];
        if (ctor.kind == Node::kName) {
          a_.pushString(ctor.text).newObject();
        } else {
          expression(*ctor.kids[0]);
          a_.pushString(ctor.text).newMethod();
        }
        break;
      }
      case Node::kUnary:
        if (e.text == "!") {
          expression(*e.kids[0]);
          a_.not_();
        } else if (e.kids[0]->kind == Node::kNumber) {
          pushNumber(-e.kids[0]->number);
        } else {
          a_.pushInt(0);
          expression(*e.kids[0]);
          a_.subtract();
        }
        break;
      case Node::kTypeof:
        expression(*e.kids[0]);
        a_.typeOf();
        break;
      case Node::kBinary:
        binaryOperator(e);
        break;
      case Node::kAnd:
      case Node::kOr: {
        // The left value stays when it decides the result.
        const auto end = a_.newLabel();
        expression(*e.kids[0]);
        a_.pushDuplicate();
        if (e.kind == Node::kAnd) a_.not_();
        a_.ifTrue(end).pop();
        expression(*e.kids[1]);
        a_.bind(end);
        break;
      }
      case Node::kConditional: {
        const auto yes = a_.newLabel(), end = a_.newLabel();
        expression(*e.kids[0]);
        a_.ifTrue(yes);
        expression(*e.kids[2]);
        a_.jump(end).bind(yes);
        expression(*e.kids[1]);
        a_.bind(end);
        break;
      }
      case Node::kFunction:
        functionDecl(e);
        break;
      case Node::kArray:
        for (std::size_t i = e.kids.size(); i-- > 0;) expression(*e.kids[i]);
        a_.pushInt(static_cast<std::int32_t>(e.kids.size())).initArray();
        break;
      case Node::kObject:
        for (std::size_t i = 0; i < e.kids.size(); ++i) {
          a_.pushString(e.names[i]);
          expression(*e.kids[i]);
        }
        a_.pushInt(static_cast<std::int32_t>(e.kids.size())).initObject();
        break;
      default:
        Fail(e.line, "not an expression");
    }
  }

  void binaryOperator(const Node& e) {
    const std::string& op = e.text;
    expression(*e.kids[0]);
    expression(*e.kids[1]);
    if (op == "+")
      a_.add2();
    else if (op == "-")
      a_.subtract();
    else if (op == "*")
      a_.multiply();
    else if (op == "/")
      a_.divide();
    else if (op == "%")
      a_.modulo();
    else if (op == "==")
      a_.equals2();
    else if (op == "!=")
      a_.equals2().not_();
    else if (op == "===")
      a_.strictEquals();
    else if (op == "!==")
      a_.strictEquals().not_();
    else if (op == "<")
      a_.less2();
    else if (op == ">")
      a_.greater();
    else if (op == "<=")
      a_.greater().not_();
    else if (op == ">=")
      a_.less2().not_();
    else
      Fail(e.line, "unknown operator " + op);
  }

  Assembler& a_;
  bool inFunction_;
  std::vector<Loop> loops_;
};

}  // namespace

Assembler CompileScript(std::string_view source) {
  const std::vector<NodePtr> program = Parser(Tokenize(source)).program();
  Assembler a;
  Generator(a, false).statements(program);
  return a;
}

}  // namespace zept::swf
