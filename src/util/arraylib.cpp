#include "util/arraylib.h"

namespace zept {

int ArrayIndexOf(const TWideStringArray& array, const WideString& text) {
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (array[i] == text) return static_cast<int>(i);
  }
  return -1;
}

void ArrayAdd(TWideStringArray& array, const WideString& text) {
  array.push_back(text);
}

void ArrayDelete(TWideStringArray& array, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= array.size()) return;
  array.erase(array.begin() + index);
}

TWideStringArray Explode(const WideString& text, const WideString& separator) {
  TWideStringArray pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t hit = text.find(separator, start);
    if (hit == WideString::npos) {
      pieces.push_back(text.substr(start));
      break;
    }
    pieces.push_back(text.substr(start, hit - start));
    start = hit + separator.size();
    if (start == text.size()) {
      pieces.emplace_back();  // text ends with the separator
      break;
    }
  }
  return pieces;
}

WideString Implode(const TWideStringArray& array, const WideString& separator) {
  WideString out;
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (i > 0) out += separator;
    out += array[i];
  }
  return out;
}

}  // namespace zept
