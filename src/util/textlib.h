#pragma once
// Text substitution, encoding and number conversion.

#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace zept {

// Every occurrence of old replaced by replacement, left to right, no overlap.
WideString ReplaceAll(const WideString& text, const WideString& old,
                      const WideString& replacement);

// Flags of ReplaceLiteral.
constexpr int kReplaceGlobal = 1;      // every match, not only the first
constexpr int kReplaceIgnoreCase = 2;  // find matches in any letter case

// Replaces the literal text find, with the replacement rules of the system's
// regular-expression object: "$$" gives "$", "$&" the match, "$`" the text
// before it and "$'" the text after it; anything else is copied.
WideString ReplaceLiteral(const WideString& text, const WideString& find,
                          const WideString& replacement, int flags);

// ASCII letters and digits stay; every other UTF-16 unit becomes "%" and its
// code in upper-case hexadecimal, at least two digits.
WideString PercentEncode(const WideString& text);
// As PercentEncode, but units 123 to 255 stay as they are.
WideString PercentEncodeLatin(const WideString& text);

// Puts filler in front of text until it is at least minLength units long.
WideString PadLeft(const WideString& text, const WideString& filler,
                   std::size_t minLength);

WideString IntToStr(std::int64_t value);
// Decimal (or "$" hexadecimal) 32-bit integer with optional sign and
// surrounding blanks; nullopt when the text is not one.
std::optional<std::int32_t> StrToInt(const WideString& text);

// Substitutes each "%d" of format with the next number ("%%" gives "%").
WideString FormatNumbers(const WideString& format, const std::int64_t* numbers,
                         std::size_t count);

}  // namespace zept
