#pragma once
// Conversions between wide text and the byte encodings. Pure functions: the
// "system ANSI code page" of this platform is fixed at Windows-1252.

#include <cstdint>

#include "platform/text.h"

namespace zept {

// Characters Windows-1252 cannot hold become "?" (one per code point).
AnsiString WideToAnsi(const WideString& text);
// The Windows-1252 byte of one code point; -1 when it has none.
int AnsiByteOf(char32_t code);
// Every byte maps to one unit; the five unassigned bytes map to U+0081 etc.,
// as the system conversion does.
WideString AnsiToWide(const AnsiString& text);

// Lone surrogates become U+FFFD.
Utf8String WideToUtf8(const WideString& text);
// The same, appended to out.
void AppendUtf8(Utf8String& out, const WideString& text);
// Each malformed sequence becomes one U+FFFD.
WideString Utf8ToWide(const Utf8String& text);

// One code point (up to U+10FFFF) as one or two UTF-16 units.
inline void AppendCodePoint(WideString& out, std::uint32_t code) {
  if (code >= 0x10000) {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (code >> 10));
    out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
  } else {
    out += static_cast<char16_t>(code);
  }
}

// One code point (up to U+10FFFF, not a surrogate) as UTF-8.
inline void AppendUtf8CodePoint(Utf8String& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Only for ASCII literals and numbers: each byte becomes one unit.
WideString AsciiToWide(const std::string& ascii);

}  // namespace zept
