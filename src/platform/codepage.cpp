#include "platform/codepage.h"

#include <array>

#include "util/utf8.h"

namespace zept {
namespace {

// Windows-1252 bytes 0x80-0x9F. The five unassigned bytes map to the C1
// control of the same number, as the system conversion does.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int AnsiByteFor(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == unit) return static_cast<int>(0x80 + i);
  }
  return -1;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendCodePoint(Utf8String& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(WideString& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (cp >> 10));
    out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  }
}

}  // namespace

int AnsiByteOf(char32_t code) {
  return code > 0xFFFF ? -1 : AnsiByteFor(static_cast<char16_t>(code));
}

AnsiString WideToAnsi(const WideString& text) {
  AnsiString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      ++i;  // one "?" for the whole code point
      out += '?';
      continue;
    }
    int b = AnsiByteFor(u);
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return out;
}

WideString AnsiToWide(const AnsiString& text) {
  WideString out;
  out.reserve(text.size());
  for (unsigned char b : text) {
    out += (b >= 0x80 && b < 0xA0) ? kHigh[b - 0x80] : static_cast<char16_t>(b);
  }
  return out;
}

void AppendUtf8(Utf8String& out, const WideString& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (IsHighSurrogate(u) && i + 1 < text.size() &&
               IsLowSurrogate(text[i + 1])) {
      char32_t cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) +
                    (char32_t(text[i + 1]) - 0xDC00);
      AppendCodePoint(out, cp);
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendCodePoint(out, 0xFFFD);
    } else {
      AppendCodePoint(out, u);
    }
  }
}

Utf8String WideToUtf8(const WideString& text) {
  Utf8String out;
  out.reserve(text.size());
  AppendUtf8(out, text);
  return out;
}

WideString Utf8ToWide(const Utf8String& text) {
  WideString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    // An overlong form or an encoded surrogate is one U+FFFD.
    const Utf8Char c = ReadUtf8(text, i, Utf8Bad::kSequence);
    AppendUtf16(out, c.code);
    i += c.length;
  }
  return out;
}

WideString AsciiToWide(const std::string& ascii) {
  return WideString(ascii.begin(), ascii.end());
}

}  // namespace zept
