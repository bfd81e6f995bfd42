// The results' JSON strings and the progress store with any bytes: every
// JSON string is valid (UTF-8, escaped), text that needs nothing is kept as
// it is, and whatever is saved is loaded back unchanged. SHA-256 in pieces
// equals SHA-256 at once.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "scorm/results.h"
#include "store/progress_store.h"
#include "util/sha256.h"

namespace {

using namespace zept::scorm;

// Decodes one UTF-8 sequence by value: minimal length, no surrogate, at
// most U+10FFFF. Returns its length, 0 when bad.
std::size_t ValidSequence(const std::string& s, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  std::size_t length = lead < 0x80   ? 1
                       : lead < 0xC0 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF8 ? 4
                                     : 0;
  if (length == 0 || i + length > s.size()) return 0;
  std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3F);
  }
  static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

void CheckJsonString(const std::string& text) {
  const std::string json = JsonString(text);
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') abort();
  bool plain = true;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = ValidSequence(text, i);
    if (n == 0 || c < 0x20 || c == '"' || c == '\\') plain = false;
    i += n ? n : 1;
  }
  if (plain && json != "\"" + text + "\"") abort();
  for (std::size_t i = 1; i + 1 < json.size();) {
    const unsigned char c = static_cast<unsigned char>(json[i]);
    if (c < 0x20 || c == '"') abort();
    if (c == '\\') {
      const char next = json[i + 1];
      if (next == '"' || next == '\\') {
        i += 2;
      } else if (next == 'u' && json.compare(i + 2, 2, "00") == 0 &&
                 i + 6 < json.size()) {
        i += 6;
      } else {
        abort();
      }
      continue;
    }
    const std::size_t n = ValidSequence(json, i);
    if (n == 0) abort();
    i += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  CheckJsonString(input);

  zept::Sha256 pieces;
  const std::size_t cut = size ? data[0] % (size + 1) : 0;
  pieces.update(std::string_view(input).substr(0, cut));
  pieces.update(std::string_view(input).substr(cut));
  if (pieces.hexDigest() != zept::Sha256Hex(input)) abort();

  // Login, item, then element and value pairs, separated by 0xFF.
  std::vector<std::string> fields(1);
  for (char c : input) {
    if (static_cast<unsigned char>(c) == 0xFF) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (fields.size() < 2 || fields[0].empty()) return 0;
  static ProgressStore store(":memory:");
  Values values;
  for (std::size_t i = 2; i + 1 < fields.size(); i += 2) {
    values[fields[i]] = fields[i + 1];
  }
  store.save(fields[0], fields[1], values);
  if (store.load(fields[0], fields[1]) != values) abort();
  if (!store.hasLearner(fields[0])) abort();
  // Emptied again, so that the store does not grow with every run.
  store.save(fields[0], fields[1], {});
  if (!store.load(fields[0], fields[1]).empty()) abort();
  return 0;
}
