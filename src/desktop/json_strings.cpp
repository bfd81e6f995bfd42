#include "desktop/json_strings.h"

#include <cstdint>

#include "platform/codepage.h"
#include "util/utf8.h"

namespace zept::desktop {

namespace {

// The code point at text[i] (advancing i), or U+FFFD for a bad sequence,
// read as the program's other text is (Utf8ToWide).
std::uint32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const Utf8Char c = ReadUtf8(text, i, Utf8Bad::kSequence);
  i += c.length;
  return c.code;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<std::vector<std::string>> array() {
    std::vector<std::string> items;
    space();
    if (!take('[')) return std::nullopt;
    space();
    if (take(']')) return end(std::move(items));
    for (;;) {
      space();
      std::optional<std::string> item = string();
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      space();
      if (take(']')) return end(std::move(items));
      if (!take(',')) return std::nullopt;
    }
  }

 private:
  std::optional<std::vector<std::string>> end(std::vector<std::string> items) {
    space();
    if (at_ != text_.size()) return std::nullopt;
    return items;
  }

  std::optional<std::string> string() {
    if (!take('"')) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        AppendUtf8CodePoint(out, NextCodePoint(text_, at_));
        continue;
      }
      if (++at_ >= text_.size()) return std::nullopt;
      const char e = text_[at_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
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
          std::optional<std::uint32_t> unit = hex4();
          if (!unit) return std::nullopt;
          std::uint32_t code = *unit;
          // A surrogate without its pair (JSON.stringify of a string cut
          // inside a character) is taken as U+FFFD, as other bad text is.
          if (code >= 0xD800 && code < 0xDC00) {
            const std::size_t at = at_;
            std::optional<std::uint32_t> low;
            if (take('\\') && take('u')) low = hex4();
            if (low && *low >= 0xDC00 && *low < 0xE000) {
              code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
            } else {
              at_ = at;
              code = 0xFFFD;
            }
          } else if (code >= 0xDC00 && code < 0xE000) {
            code = 0xFFFD;
          }
          AppendUtf8CodePoint(out, code);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::optional<std::uint32_t> hex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k) {
      const int digit = HexValue(text_[at_ + k]);
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    at_ += 4;
    return value;
  }

  bool take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                  text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::string EncodeStringArray(const std::vector<std::string>& items) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "[";
  for (std::size_t n = 0; n < items.size(); ++n) {
    if (n) out += ',';
    out += '"';
    const std::string& item = items[n];
    for (std::size_t i = 0; i < item.size();) {
      const std::uint32_t code = NextCodePoint(item, i);
      if (code == '"' || code == '\\') {
        out += '\\';
        out += static_cast<char>(code);
      } else if (code < 0x20 || code == 0x2028 || code == 0x2029) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
          out += kHex[(code >> shift) & 0xF];
      } else {
        AppendUtf8CodePoint(out, code);
      }
    }
    out += '"';
  }
  return out + "]";
}

std::optional<std::vector<std::string>> DecodeStringArray(
    std::string_view json) {
  return Parser(json).array();
}

}  // namespace zept::desktop
