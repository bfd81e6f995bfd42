#include "xapi/multipart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zept::xapi {
namespace {

TEST(MultipartTest, Boundaries) {
  const struct {
    std::string contentType, boundary;
  } kCases[] = {
      {"multipart/mixed; boundary=abc", "abc"},
      {"multipart/mixed;boundary=abc; charset=x", "abc"},
      {"multipart/mixed; BOUNDARY=\"a b;c\"", "a b;c"},
      {"multipart/mixed; boundary=\"unclosed", ""},
      {"multipart/mixed", ""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(BoundaryOf(c.contentType), c.boundary) << c.contentType;
}

TEST(MultipartTest, Parts) {
  const struct {
    std::string body;
    // Each part as "HEADER=VALUE|...;BODY"; nullopt: refused.
    std::optional<std::vector<std::string>> parts;
  } kCases[] = {
      {"--b\r\nA: 1\r\nB:2\r\n\r\none\r\n--b\r\n\r\ntwo\r\n--b--\r\n",
       {{"A=1|B=2|;one", ";two"}}},
      // A preamble, a body holding the boundary's text not on its own line,
      // a body with line breaks of its own.
      {"preamble\r\n--b\r\n\r\nx--b\r\n\r\n--b--", {{";x--b\r\n"}}},
      {"--b--\r\n", {{}}},
      {"--b\r\n\r\nnever closed", std::nullopt},
      {"--bA: 1\r\n\r\nx\r\n--b--", std::nullopt},
      {"no boundary at all", std::nullopt},
      {"--b\r\nno colon\r\n\r\nx\r\n--b--", std::nullopt},
      // Empty parts, and boundaries where a part's blank line should be.
      {"--b\r\n\r\n\r\n--b\r\nA: 1\r\n\r\n\r\n--b--", {{";", "A=1|;"}}},
      {"--b\r\n\r\n--b--", std::nullopt},
      {"--b\r\nA: 1\r\n\r\n--b--", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.body);
    std::string fault;
    const auto parts = SplitParts(c.body, "b", fault);
    ASSERT_EQ(parts.has_value(), c.parts.has_value()) << fault;
    if (!parts) {
      EXPECT_FALSE(fault.empty());
      continue;
    }
    std::vector<std::string> seen;
    for (const Part& part : *parts) {
      std::string text;
      for (const auto& [name, value] : part.headers)
        text += name + "=" + value + "|";
      seen.push_back(text + ";" + part.body);
    }
    EXPECT_EQ(seen, *c.parts);
  }
}

}  // namespace
}  // namespace zept::xapi
