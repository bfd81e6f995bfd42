#pragma once
// SHA-1 (FIPS 180-4), for the ETags of the LRS's documents, which xAPI asks
// to be SHA-1 hex. Not for anything secret: SHA-1 no longer resists
// collisions.

#include <string>
#include <string_view>

namespace zept {

// Lowercase hex SHA-1 of bytes.
std::string Sha1Hex(std::string_view bytes);

}  // namespace zept
