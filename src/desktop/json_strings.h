#pragma once
// The page channel's messages: JSON arrays of strings, nothing else.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zept::desktop {

// UTF-8 in, JSON out; bytes that are not valid UTF-8 become U+FFFD.
std::string EncodeStringArray(const std::vector<std::string>& items);

// A JSON array whose items are all strings, as UTF-8; nullopt for anything
// else (other types, bad escapes, lone surrogates, trailing text).
std::optional<std::vector<std::string>> DecodeStringArray(
    std::string_view json);

}  // namespace zept::desktop
