#include "platform/registry.h"

namespace zept::platform {

std::vector<WideString> SplitKeyPath(const WideString& key) {
  std::vector<WideString> names;
  WideString current;
  for (char16_t c : key) {
    if (c == u'\\') {
      if (!current.empty()) names.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) names.push_back(std::move(current));
  return names;
}

WideString FoldName(const WideString& name) {
  // Upper case for the scripts names are written in: Latin (with Latin-1 and
  // Extended-A), Greek and Cyrillic. Independent of the process locale.
  WideString out = name;
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') {
      c -= 0x20;
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c -= 0x20;
    } else if (c == 0xFF) {
      c = 0x178;
    } else if (c >= 0x100 && c <= 0x137 && (c & 1)) {
      c -= 1;
    } else if (c >= 0x139 && c <= 0x148 && !(c & 1)) {
      c -= 1;
    } else if (c >= 0x14A && c <= 0x177 && (c & 1)) {
      c -= 1;
    } else if (c >= 0x179 && c <= 0x17E && !(c & 1)) {
      c -= 1;
    } else if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) {
      c -= 0x20;
    } else if (c >= 0x430 && c <= 0x44F) {
      c -= 0x20;
    } else if (c >= 0x450 && c <= 0x45F) {
      c -= 0x50;
    }
  }
  return out;
}

}  // namespace zept::platform
