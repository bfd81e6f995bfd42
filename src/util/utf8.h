#pragma once
// Byte strings of UTF-8 text: reading them a code point at a time, and
// ASCII letter case.

#include <cstddef>
#include <string>
#include <string_view>

namespace zept {

// What one U+FFFD stands for in place of a bad sequence. The callers differ
// on purpose: stored text and reports follow Unicode's recommendation or
// count bytes, conversions take a whole overlong form or surrogate as one.
enum class Utf8Bad {
  kByte,      // its first byte; the bytes after it are read again
  kSubpart,   // its longest start that could have begun a valid sequence
  kSequence,  // its lead and the continuation bytes after it, up to the
              // count the lead gives
};

struct Utf8Char {
  char32_t code;       // U+FFFD when !valid
  std::size_t length;  // the bytes read, at least 1
  bool valid;
};

// The code point at text[at] (at < text.size()). Valid is the shortest form
// of a code point up to U+10FFFF that is not a surrogate; with surrogates,
// an encoded surrogate (ED A0..BF ..) is valid too.
Utf8Char ReadUtf8(std::string_view text, std::size_t at,
                  Utf8Bad bad = Utf8Bad::kSubpart, bool surrogates = false);

// True when all of text is valid UTF-8.
bool IsValidUtf8(std::string_view text);

// ASCII letters in lower case; every other byte as it is, whatever the
// locale.
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiLower(std::string text);

// True for one ASCII digit or more, and nothing else.
constexpr bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The text on one line, for a journal or a log: control characters and
// the Unicode line and paragraph separators written as escapes ("\n",
// "\x1b", "\u2028"), so text from a package never starts a line of its own.
std::string OneLine(std::string_view line);

// At most maxBytes of text, cut at a character's start, with "…" after it
// when something was cut: what a page sends the journal stays a line.
std::string Utf8Prefix(std::string_view text, std::size_t maxBytes);

// text as a JSON string, quotes included: control characters as \u00XX,
// UTF-8 kept, each bad UTF-8 sequence replaced by U+FFFD, so the result is
// always valid JSON.
std::string JsonString(std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace zept
