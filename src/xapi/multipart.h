#pragma once
// multipart/mixed as xAPI sends statements with their attachments' data
// (RFC 2046): a body cut at its boundaries into parts with headers.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zept::xapi {

struct Part {
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// The boundary a multipart Content-Type names, quoted or not; "" when
// none.
std::string BoundaryOf(const std::string& contentType);

// The parts of body between its boundaries, a preamble before the first
// ignored; nullopt, with why in fault, when it is not multipart as RFC 2046
// writes it (a part without its line break or its closing boundary).
std::optional<std::vector<Part>> SplitParts(const std::string& body,
                                            const std::string& boundary,
                                            std::string& fault);

}  // namespace zept::xapi
