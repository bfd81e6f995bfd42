#include "xapi/json.h"

#include <charconv>
#include <system_error>

#include "platform/codepage.h"
#include "util/utf8.h"

namespace zept::xapi {

const JsonValue* JsonValue::find(std::string_view name) const {
  for (const auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

JsonValue* JsonValue::find(std::string_view name) {
  for (auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

std::optional<double> JsonValue::number() const {
  if (type != JsonType::kNumber) return std::nullopt;
  // from_chars, not strtod: the window's locale may write ',' for '.'.
  double n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

namespace {

class Reader {
 public:
  Reader(std::string_view text, const JsonLimits& limits)
      : s_(text), limits_(limits) {}

  JsonParse run() {
    JsonParse parse;
    if (s_.size() > limits_.maxBytes) {
      parse.error = "the JSON text is longer than " +
                    std::to_string(limits_.maxBytes) + " bytes";
      return parse;
    }
    skipSpace();
    if (!value(parse.value, 0)) {
      parse.error = error_ + " at byte " + std::to_string(at_);
      parse.value = {};
      return parse;
    }
    skipSpace();
    if (at_ != s_.size()) {
      parse.error = "text after the value at byte " + std::to_string(at_);
      parse.value = {};
    }
    return parse;
  }

 private:
  bool fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  bool more() const { return at_ < s_.size(); }
  char peek() const { return s_[at_]; }
  void skipSpace() {
    while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' ||
                      peek() == '\r'))
      ++at_;
  }
  bool literal(std::string_view word) {
    if (s_.substr(at_, word.size()) != word) return fail("not a JSON value");
    at_ += word.size();
    return true;
  }

  bool value(JsonValue& out, std::size_t depth) {
    if (!more()) return fail("the text ends where a value was expected");
    switch (peek()) {
      case '{':
        out.type = JsonType::kObject;
        return object(out, depth + 1);
      case '[':
        out.type = JsonType::kArray;
        return array(out, depth + 1);
      case '"':
        out.type = JsonType::kString;
        return string(out.text);
      case 't':
        out.type = JsonType::kBool;
        out.boolean = true;
        return literal("true");
      case 'f':
        out.type = JsonType::kBool;
        return literal("false");
      case 'n':
        out.type = JsonType::kNull;
        return literal("null");
      default:
        out.type = JsonType::kNumber;
        return number(out.text);
    }
  }

  bool object(JsonValue& out, std::size_t depth) {
    if (depth > limits_.maxDepth) return fail("values nested too deep");
    ++at_;
    skipSpace();
    if (more() && peek() == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      skipSpace();
      if (!more() || peek() != '"') return fail("a member name was expected");
      std::string name;
      if (!string(name)) return false;
      if (out.find(name)) return fail("a member name is repeated");
      skipSpace();
      if (!more() || peek() != ':') return fail("':' was expected");
      ++at_;
      skipSpace();
      out.members.push_back({std::move(name), JsonValue{}});
      if (!value(out.members.back().value, depth)) return false;
      skipSpace();
      if (!more()) return fail("the object is not closed");
      if (peek() == '}') {
        ++at_;
        return true;
      }
      if (peek() != ',') return fail("',' or '}' was expected");
      ++at_;
    }
  }

  bool array(JsonValue& out, std::size_t depth) {
    if (depth > limits_.maxDepth) return fail("values nested too deep");
    ++at_;
    skipSpace();
    if (more() && peek() == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      skipSpace();
      out.items.emplace_back();
      if (!value(out.items.back(), depth)) return false;
      skipSpace();
      if (!more()) return fail("the array is not closed");
      if (peek() == ']') {
        ++at_;
        return true;
      }
      if (peek() != ',') return fail("',' or ']' was expected");
      ++at_;
    }
  }

  bool digits() {
    const std::size_t from = at_;
    while (more() && peek() >= '0' && peek() <= '9') ++at_;
    return at_ > from;
  }

  bool number(std::string& out) {
    const std::size_t from = at_;
    if (more() && peek() == '-') ++at_;
    if (!more()) return fail("not a JSON value");
    if (peek() == '0') {
      ++at_;
    } else if (peek() >= '1' && peek() <= '9') {
      digits();
    } else {
      return fail("not a JSON value");
    }
    if (more() && peek() == '.') {
      ++at_;
      if (!digits()) return fail("a digit was expected after '.'");
    }
    if (more() && (peek() == 'e' || peek() == 'E')) {
      ++at_;
      if (more() && (peek() == '+' || peek() == '-')) ++at_;
      if (!digits()) return fail("a digit was expected in the exponent");
    }
    out.assign(s_.substr(from, at_ - from));
    // A number beyond double's range has no value anyone can compare.
    double n;
    if (std::from_chars(out.data(), out.data() + out.size(), n).ec !=
        std::errc())
      return fail("the number is out of range");
    return true;
  }

  bool hex4(unsigned& code) {
    if (s_.size() - at_ < 4) return fail("a \\u escape needs four hex digits");
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9')
        code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        code |= static_cast<unsigned>(c - 'A' + 10);
      else
        return fail("a \\u escape needs four hex digits");
    }
    return true;
  }

  // One UTF-8 sequence at at_, shortest form, no surrogates.
  bool utf8(std::string& out) {
    const auto byte = [&](std::size_t i) {
      return static_cast<unsigned char>(s_[at_ + i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length;
    unsigned code;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return fail("the text is not UTF-8");
    }
    if (s_.size() - at_ < length) return fail("the text is not UTF-8");
    for (std::size_t i = 1; i < length; ++i) {
      if ((byte(i) & 0xC0) != 0x80) return fail("the text is not UTF-8");
      code = (code << 6) | (byte(i) & 0x3F);
    }
    static constexpr unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) ||
        code > 0x10FFFF)
      return fail("the text is not UTF-8");
    out.append(s_.substr(at_, length));
    at_ += length;
    return true;
  }

  bool string(std::string& out) {
    ++at_;
    for (;;) {
      if (!more()) return fail("the string is not closed");
      const unsigned char c = static_cast<unsigned char>(peek());
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return fail("a control character in a string");
      if (c >= 0x80) {
        if (!utf8(out)) return false;
        continue;
      }
      ++at_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (!more()) return fail("the string is not closed");
      const char e = s_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code;
          if (!hex4(code)) return false;
          if (code >= 0xDC00 && code <= 0xDFFF)
            return fail("a lone low surrogate");
          if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low;
            if (s_.substr(at_, 2) != "\\u")
              return fail("a lone high surrogate");
            at_ += 2;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF)
              return fail("a lone high surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8CodePoint(out, code);
          break;
        }
        default:
          return fail("an unknown escape in a string");
      }
    }
  }

  std::string_view s_;
  const JsonLimits& limits_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

JsonParse ParseJson(std::string_view text, const JsonLimits& limits) {
  return Reader(text, limits).run();
}

void AppendJson(std::string& out, const JsonValue& value) {
  switch (value.type) {
    case JsonType::kNull:
      out += "null";
      return;
    case JsonType::kBool:
      out += value.boolean ? "true" : "false";
      return;
    case JsonType::kNumber:
      out += value.text;
      return;
    case JsonType::kString:
      AppendJsonString(out, value.text);
      return;
    case JsonType::kArray: {
      out += '[';
      bool first = true;
      for (const JsonValue& item : value.items) {
        if (!first) out += ',';
        first = false;
        AppendJson(out, item);
      }
      out += ']';
      return;
    }
    case JsonType::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [name, member] : value.members) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(out, name);
        out += ':';
        AppendJson(out, member);
      }
      out += '}';
      return;
    }
  }
}

std::string WriteJson(const JsonValue& value) {
  std::string out;
  AppendJson(out, value);
  return out;
}

}  // namespace zept::xapi
