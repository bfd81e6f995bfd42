#pragma once
// What the readers of both data models' time types take from the front of
// a text: one expected character, or a run of digits.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zept::scorm {

// c at the front of text, advanced past.
inline bool Take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// How many digits stand at the front of text, counting at most most.
inline std::size_t DigitsAtFront(std::string_view text,
                                 std::size_t most = std::string_view::npos) {
  std::size_t n = 0;
  while (n < text.size() && n < most && text[n] >= '0' && text[n] <= '9') ++n;
  return n;
}

// The first n characters of text (digits) as a number, advanced past them.
inline std::int64_t TakeDigitRun(std::string_view& text, std::size_t n) {
  std::int64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value = value * 10 + (text[i] - '0');
  text.remove_prefix(n);
  return value;
}

}  // namespace zept::scorm
