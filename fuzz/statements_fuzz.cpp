// What content sets becomes statements for an LRS, and what a course team
// writes becomes its configuration: no crash, and every statement is one
// JSON object that a strict reader takes whole.
//
// Input: lines "OP ELEMENT<TAB>VALUE": I initialised (VALUE the entry), S
// set, C a store point, T terminated; a first line starting "[" is taken as
// a configuration file, and also sets the login.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xapi/config.h"
#include "xapi/statements.h"

namespace {

using namespace zept::xapi;

void Check(bool ok) {
  if (!ok) std::abort();
}

// A strict JSON reader that only says whether text[at..] starts with one
// value, moving at past it. RFC 8259, no extensions; depth bounded.
class Json {
 public:
  explicit Json(std::string_view text) : s_(text) {}
  bool whole() { return value(0) && (space(), at_ == s_.size()); }

 private:
  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' ||
                               s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool eat(char c) {
    space();
    if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
    return false;
  }
  bool string() {
    if (!eat('"')) return false;
    while (at_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (at_ >= s_.size()) return false;
        const char e = s_[at_++];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i, ++at_)
            if (at_ >= s_.size() ||
                !std::isxdigit(static_cast<unsigned char>(s_[at_])))
              return false;
        } else if (std::string_view("\"\\/bfnrt").find(e) ==
                   std::string_view::npos) {
          return false;
        }
      }
    }
    return false;
  }
  bool number() {
    const std::size_t begin = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    while (at_ < s_.size() &&
           (std::isdigit(static_cast<unsigned char>(s_[at_])) ||
            s_[at_] == '.' || s_[at_] == 'e' || s_[at_] == 'E' ||
            s_[at_] == '+' || s_[at_] == '-'))
      ++at_;
    return at_ > begin;
  }
  bool value(int depth) {
    if (depth > 64) return false;
    space();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '"') return string();
    if (c == '{' || c == '[') {
      ++at_;
      const char close = c == '{' ? '}' : ']';
      if (eat(close)) return true;
      do {
        if (c == '{' && !(string() && eat(':'))) return false;
        if (!value(depth + 1)) return false;
      } while (eat(','));
      return eat(close);
    }
    for (std::string_view word : {"true", "false", "null"})
      if (s_.substr(at_, word.size()) == word) return at_ += word.size(), true;
    return number();
  }

  std::string_view s_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  SessionContext context;
  context.login = "anna";
  context.homePage = "https://learners.example.org";
  context.registration = "0b1c2d3e-4f50-4a61-8b72-93a4b5c6d7e8";
  if (!input.empty() && input[0] == '[') {
    std::string error;
    if (const auto config = ParseLrsConfig(std::string(input), "f", error)) {
      Check(!config->endpoint.empty() && config->endpoint.back() == '/');
      context.homePage = config->homePage;
      context.login = config->username;
    } else {
      Check(!error.empty() && error.find('\n') == std::string::npos);
    }
  }
  context.course = {CourseIri("https://courses.example.org/", "C", 2),
                    "Course"};
  context.item = {ItemIri(context.course.id, "I"), "Item"};
  context.attempt = "5e0c1f0a-2b3c-4d5e-8f90-0123456789ab";
  int n = 0;
  SessionStatements statements(
      context, [&] { return "id-" + std::to_string(++n); },
      [] { return std::string("2026-12-08T18:40:02.123Z"); });
  ElementValues values;
  std::size_t at = 0;
  while (at < input.size()) {
    std::size_t end = input.find('\n', at);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(at, end - at);
    at = end + 1;
    if (line.size() < 2) continue;
    const std::size_t tab = line.find('\t');
    const std::string element(
        line.substr(2, tab == line.npos ? line.npos : tab - 2));
    const std::string value(tab == line.npos ? "" : line.substr(tab + 1));
    switch (line[0]) {
      case 'I':
        statements.initialized(value);
        break;
      case 'S':
        values[element] = value;
        statements.valueSet(element, value);
        break;
      case 'C':
        statements.storing(values);
        break;
      case 'T':
        statements.terminated(values);
        break;
      default:
        break;
    }
  }
  statements.terminated(values);
  for (const Statement& statement : statements.take()) {
    Check(!statement.id.empty());
    Check(Json(statement.json).whole());
  }
  return 0;
}
