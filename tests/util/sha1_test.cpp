#include "util/sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace zept {
namespace {

// Lengths around the padding's edges: the mark and the length fit in the
// last block (55), spill into another (56), or start one (64).
TEST(Sha1Test, KnownDigests) {
  const struct {
    std::string text;
    const char* hex;
  } kCases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(119, 'a'), "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
      {"The quick brown fox jumps over the lazy dog",
       "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(Sha1Hex(c.text), c.hex);
  }
}

}  // namespace
}  // namespace zept
