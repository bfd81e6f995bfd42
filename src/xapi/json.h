#pragma once
// A strict JSON reader (RFC 8259, nothing more) for what content sends the
// LRS, and a writer for the values it answers with. Numbers are kept as
// written, so a score or an extension goes back out exactly as it came.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zept::xapi {

enum class JsonType { kNull, kBool, kNumber, kString, kArray, kObject };

struct JsonMember;

struct JsonValue {
  JsonType type = JsonType::kNull;
  bool boolean = false;
  // A number's text as written, or a string's value in UTF-8.
  std::string text;
  std::vector<JsonValue> items;
  // An object's members in their order; names are unique.
  std::vector<JsonMember> members;

  bool is(JsonType t) const { return type == t; }
  // The member named name of an object; nullptr when absent or no object.
  const JsonValue* find(std::string_view name) const;
  JsonValue* find(std::string_view name);
  // A number's value as a double; nullopt for any other type.
  std::optional<double> number() const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

struct JsonLimits {
  std::size_t maxBytes = 8u << 20;
  std::size_t maxDepth = 64;
};

// The value, or error: what is wrong and at which byte, in a line.
struct JsonParse {
  JsonValue value;
  std::string error;
  bool ok() const { return error.empty(); }
};

// The whole of text as one value: UTF-8 only (no byte order mark), no
// duplicated names in an object, whitespace around it only.
JsonParse ParseJson(std::string_view text, const JsonLimits& limits = {});

// Compact JSON of value; numbers as kept.
std::string WriteJson(const JsonValue& value);
void AppendJson(std::string& out, const JsonValue& value);

}  // namespace zept::xapi
