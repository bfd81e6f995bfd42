#include "xapi/multipart.h"

#include "util/utf8.h"

namespace zept::xapi {

std::string BoundaryOf(const std::string& contentType) {
  const std::string lower = AsciiLower(contentType);
  std::size_t at = lower.find("boundary=");
  if (at == std::string::npos) return "";
  at += 9;
  if (at < contentType.size() && contentType[at] == '"') {
    const std::size_t end = contentType.find('"', at + 1);
    return end == std::string::npos ? ""
                                    : contentType.substr(at + 1, end - at - 1);
  }
  const std::size_t end = contentType.find_first_of("; ", at);
  return contentType.substr(at, end == std::string::npos ? end : end - at);
}

std::optional<std::vector<Part>> SplitParts(const std::string& body,
                                            const std::string& boundary,
                                            std::string& fault) {
  fault = "the multipart body is not well formed";
  const std::string delimiter = "--" + boundary;
  std::size_t at = body.find(delimiter);
  if (boundary.empty() || at == std::string::npos) return std::nullopt;
  std::vector<Part> parts;
  for (;;) {
    at += delimiter.size();
    if (body.compare(at, 2, "--") == 0) return parts;
    if (body.compare(at, 2, "\r\n") != 0) return std::nullopt;
    at += 2;
    const std::size_t headersEnd = body.find("\r\n\r\n", at);
    const std::size_t next = body.find("\r\n" + delimiter, at);
    if (next == std::string::npos) return std::nullopt;
    Part part;
    // A part without headers starts with its blank line.
    if (body.compare(at, 2, "\r\n") == 0) {
      if (next < at + 2) return std::nullopt;
      part.body = body.substr(at + 2, next - at - 2);
    } else if (headersEnd != std::string::npos && headersEnd + 4 <= next) {
      std::size_t line = at;
      while (line < headersEnd) {
        std::size_t eol = body.find("\r\n", line);
        if (eol > headersEnd) eol = headersEnd;
        const std::string field = body.substr(line, eol - line);
        line = eol + 2;
        const std::size_t colon = field.find(':');
        if (colon == std::string::npos) return std::nullopt;
        std::string value = field.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        part.headers.emplace_back(field.substr(0, colon), value);
      }
      part.body = body.substr(headersEnd + 4, next - headersEnd - 4);
    } else {
      return std::nullopt;
    }
    parts.push_back(std::move(part));
    at = next + 2;
  }
}

}  // namespace zept::xapi
