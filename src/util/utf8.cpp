#include "util/utf8.h"

namespace zept {

Utf8Char ReadUtf8(std::string_view text, std::size_t at, Utf8Bad bad,
                  bool surrogates) {
  const auto byte = [&text](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length;
  char32_t code;
  // The second byte's range, narrowed where the lead alone would allow an
  // overlong form, a surrogate or a code point past U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED && !surrogates) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0xFFFD, 1, false};
  }
  std::size_t k = 1;
  bool inRange = true;  // the second byte, when it is a continuation byte
  for (; k < length && at + k < text.size(); ++k) {
    const unsigned char c = byte(at + k);
    if (c < 0x80 || c > 0xBF) break;
    if (k == 1 && (c < low || c > high)) inRange = false;
    code = (code << 6) | (c & 0x3F);
  }
  if (k == length && inRange) return {code, length, true};
  switch (bad) {
    case Utf8Bad::kByte:
      return {0xFFFD, 1, false};
    case Utf8Bad::kSubpart:
      return {0xFFFD, inRange ? k : 1, false};
    case Utf8Bad::kSequence:
      break;
  }
  return {0xFFFD, k, false};
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = ReadUtf8(text, i);
    if (!c.valid) return false;
    i += c.length;
  }
  return true;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

std::string Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
    --end;
  return std::string(text.substr(0, end)) + "\u2026";
}

std::string OneLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xe2 && i + 2 < line.size() &&
               static_cast<unsigned char>(line[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(line[i + 2]) == 0xa8 ||
                static_cast<unsigned char>(line[i + 2]) == 0xa9)) {
      out += line[i + 2] == '\xa8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  const auto plain = [](unsigned char c) {
    return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
  };
  for (std::size_t i = 0; i < text.size();) {
    // What needs no escape goes in runs: menus of thousands of items are
    // mostly that.
    std::size_t end = i;
    while (end < text.size() && plain(static_cast<unsigned char>(text[end])))
      ++end;
    if (end > i) {
      out.append(text.data() + i, end - i);
      i = end;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      ++i;
    } else if (const Utf8Char read = ReadUtf8(text, i); read.valid) {
      out.append(text, i, read.length);
      i += read.length;
    } else {
      // A bad sequence, or its longest valid start, is one U+FFFD, as
      // Unicode recommends.
      out += "\xEF\xBF\xBD";
      i += read.length;
    }
  }
  out += '"';
}

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendJsonString(out, text);
  return out;
}

}  // namespace zept
