#pragma once
// SHA-256 (FIPS 180-4), for keys of content: small and dependency-free, so
// the core needs no crypto library. Not for secrets (no constant time).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zept {

class Sha256 {
 public:
  Sha256();
  // Any number of calls, then digest() once.
  void update(std::string_view bytes);
  std::array<std::uint8_t, 32> digest();
  // Lowercase hex of digest().
  std::string hexDigest();

 private:
  void block(const std::uint8_t* p);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes seen
};

// Lowercase hex SHA-256 of bytes.
std::string Sha256Hex(std::string_view bytes);

}  // namespace zept
