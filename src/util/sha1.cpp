#include "util/sha1.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace zept {
namespace {

std::uint32_t Rotl(std::uint32_t x, int n) { return x << n | x >> (32 - n); }

void Block(std::array<std::uint32_t, 5>& h, const unsigned char* p) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t{p[4 * i]} << 24 | std::uint32_t{p[4 * i + 1]} << 16 |
           std::uint32_t{p[4 * i + 2]} << 8 | p[4 * i + 3];
  for (int i = 16; i < 80; ++i)
    w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

std::string Sha1Hex(std::string_view bytes) {
  std::array<std::uint32_t, 5> h{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                 0xC3D2E1F0};
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t at = 0;
  for (; at + 64 <= bytes.size(); at += 64) Block(h, data + at);
  // The rest, the 0x80 mark and the length in bits, in one or two blocks.
  unsigned char tail[128] = {};
  const std::size_t rest = bytes.size() - at;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = data[at + i];
  tail[rest] = 0x80;
  const std::size_t size = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (int i = 0; i < 8; ++i)
    tail[size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  Block(h, tail);
  if (size == 128) Block(h, tail + 64);
  char hex[41];
  for (int i = 0; i < 5; ++i)
    std::snprintf(hex + 8 * i, 9, "%08x", static_cast<unsigned>(h[i]));
  return std::string(hex, 40);
}

}  // namespace zept
