#pragma once
// The lines of the conformance harness's test channel (docs/conformance-
// 2004.md): fields separated by tabs, a tab, newline or backslash inside a
// field written as \t, \n, \\; one message a line.

#include <string>
#include <vector>

namespace zept {

inline std::string EncodeTestLine(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += '\t';
    for (const char c : fields[i]) {
      if (c == '\t')
        out += "\\t";
      else if (c == '\n')
        out += "\\n";
      else if (c == '\\')
        out += "\\\\";
      else
        out += c;
    }
  }
  return out + '\n';
}

// line without its newline.
inline std::vector<std::string> DecodeTestLine(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char e = line[++i];
      fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace zept
