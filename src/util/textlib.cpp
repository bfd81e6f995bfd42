#include "util/textlib.h"

#include <limits>

#include "platform/registry.h"
#include "util/arraylib.h"

namespace zept {

WideString ReplaceAll(const WideString& text, const WideString& old,
                      const WideString& replacement) {
  return Implode(Explode(text, old), replacement);
}

namespace {

void AppendReplacement(WideString& out, const WideString& replacement,
                       const WideString& text, std::size_t at,
                       std::size_t length) {
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char16_t c = replacement[i];
    if (c == u'$' && i + 1 < replacement.size()) {
      char16_t next = replacement[i + 1];
      if (next == u'$') {
        out += u'$';
        ++i;
        continue;
      }
      if (next == u'&') {
        out += text.substr(at, length);
        ++i;
        continue;
      }
      if (next == u'`') {
        out += text.substr(0, at);
        ++i;
        continue;
      }
      if (next == u'\'') {
        out += text.substr(at + length);
        ++i;
        continue;
      }
    }
    out += c;
  }
}

}  // namespace

WideString ReplaceLiteral(const WideString& text, const WideString& find,
                          const WideString& replacement, int flags) {
  const bool global = flags & kReplaceGlobal;
  const bool ignoreCase = flags & kReplaceIgnoreCase;
  const WideString haystack = ignoreCase ? platform::FoldName(text) : text;
  const WideString needle = ignoreCase ? platform::FoldName(find) : find;

  WideString out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t hit = haystack.find(needle, pos);
    if (hit == WideString::npos) break;
    out.append(text, pos, hit - pos);
    AppendReplacement(out, replacement, text, hit, needle.size());
    if (needle.empty()) {
      // An empty pattern matches between every two units; step over one.
      if (hit < text.size()) out += text[hit];
      pos = hit + 1;
    } else {
      pos = hit + needle.size();
    }
    if (!global) break;
  }
  if (pos < text.size()) out.append(text, pos, WideString::npos);
  return out;
}

namespace {

WideString Hex(unsigned value, int minDigits) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  WideString out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < minDigits)
    out.insert(out.begin(), u'0');
  return out;
}

bool IsAsciiAlnum(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         (c >= u'0' && c <= u'9');
}

WideString Encode(const WideString& text, bool keepLatin) {
  WideString out;
  out.reserve(text.size() * 3);
  for (char16_t c : text) {
    if (IsAsciiAlnum(c) || (keepLatin && c >= 123 && c <= 255)) {
      out += c;
    } else {
      out += u'%';
      out += Hex(c, 2);
    }
  }
  return out;
}

}  // namespace

WideString PercentEncode(const WideString& text) { return Encode(text, false); }

WideString PercentEncodeLatin(const WideString& text) {
  return Encode(text, true);
}

WideString PadLeft(const WideString& text, const WideString& filler,
                   std::size_t minLength) {
  if (filler.empty()) return text;
  WideString out = text;
  while (out.size() < minLength) out.insert(0, filler);
  return out;
}

WideString IntToStr(std::int64_t value) {
  std::string digits = std::to_string(value);
  return WideString(digits.begin(), digits.end());
}

std::optional<std::int32_t> StrToInt(const WideString& text) {
  std::size_t i = 0, end = text.size();
  while (i < end && text[i] == u' ') ++i;
  while (end > i && text[end - 1] == u' ') --end;
  bool negative = false;
  if (i < end && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < end && text[i] == u'$') {
    base = 16;
    ++i;
  } else if (i + 1 < end && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i >= end) return std::nullopt;
  std::int64_t value = 0;
  for (; i < end; ++i) {
    char16_t c = text[i];
    int digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
      return std::nullopt;
    }
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

WideString FormatNumbers(const WideString& format, const std::int64_t* numbers,
                         std::size_t count) {
  WideString out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      if (format[i + 1] == u'd') {
        if (next < count) out += IntToStr(numbers[next++]);
        ++i;
        continue;
      }
      if (format[i + 1] == u'%') {
        out += u'%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

}  // namespace zept
