#include "package/package.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "package/package_internal.h"

namespace zept::scorm {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    int high = -1;
    int low = -1;
    if (text[i] == '%' && i + 2 < text.size()) {
      high = HexDigit(text[i + 1]);
      low = HexDigit(text[i + 2]);
    }
    if (high >= 0 && low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Slashes(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// "http:", "mailto:", and drive letters ("C:") alike: a URL scheme is a
// letter, then letters, digits, "+", "-" or ".", then ":" before any "/".
bool HasScheme(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  if (text.substr(0, colon).find('/') != std::string_view::npos) return false;
  auto letter = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  if (!letter(text[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' &&
        c != '.')
      return false;
  }
  return true;
}

// Adds the "/"-separated parts of text to parts, resolving "." and "..";
// false when ".." climbs above the package. *folder tells whether the text
// ends by naming a folder.
bool AddParts(std::vector<std::string_view>& parts, std::string_view text,
              bool* folder) {
  std::size_t at = 0;
  *folder = text.empty();
  while (at <= text.size()) {
    std::size_t end = text.find('/', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(at, end - at);
    const bool last = end == text.size();
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
      if (last) *folder = true;
    } else if (part.empty() || part == ".") {
      if (last) *folder = true;
    } else {
      parts.push_back(part);
      if (last) *folder = false;
    }
    at = end + 1;
  }
  return true;
}

std::string Joined(const std::vector<std::string_view>& parts, bool folder) {
  std::string out;
  for (std::string_view part : parts) {
    if (!out.empty()) out += '/';
    out += part;
  }
  if (folder && !out.empty()) out += '/';
  return out;
}

}  // namespace

std::optional<std::string> PackagePath(const std::string& base,
                                       const std::string& reference) {
  // Checked after decoding: "%2F" or "%3A" must not make a path absolute or
  // give it a scheme behind the checks' back.
  const std::string ref = Slashes(Decoded(reference));
  if (ref.find('\0') != std::string::npos) return std::nullopt;
  if (!ref.empty() && ref[0] == '/') return std::nullopt;
  if (HasScheme(ref)) return std::nullopt;
  const std::string folder = Slashes(base);
  if (!folder.empty() && folder[0] == '/') return std::nullopt;
  std::vector<std::string_view> parts;
  bool isFolder = false;
  if (!AddParts(parts, folder, &isFolder)) return std::nullopt;
  if (!AddParts(parts, ref, &isFolder)) return std::nullopt;
  return Joined(parts, isFolder);
}

std::optional<std::string> StoredName(std::string_view name) {
  const std::string text = Slashes(name);
  if (text.empty() || text[0] == '/' || text.back() == '/') return std::nullopt;
  if (text.size() >= 2 && text[1] == ':' &&
      ((text[0] >= 'a' && text[0] <= 'z') ||
       (text[0] >= 'A' && text[0] <= 'Z')))
    return std::nullopt;
  std::vector<std::string_view> parts;
  bool folder = false;
  if (!AddParts(parts, text, &folder) || folder || parts.empty())
    return std::nullopt;
  return Joined(parts, false);
}

std::string PrintableName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

void EntryReader::seek(std::uint64_t) {
  throw EPackageError("this file of the package reads only from its start");
}

std::optional<std::string> PackageFiles::read(const std::string& path,
                                              std::uint64_t limit) const {
  std::unique_ptr<EntryReader> reader = open(path);
  if (!reader) return std::nullopt;
  auto tooLarge = [&] {
    return EPackageError("cannot read '" + path + "' of package '" +
                         location() + "': larger than " +
                         std::to_string(limit) + " bytes");
  };
  if (reader->size() > limit) throw tooLarge();
  std::string out;
  // The stated size only guides the first allocation, within a bound: the
  // bytes that really arrive decide the rest.
  out.reserve(static_cast<std::size_t>(
      std::min<std::uint64_t>(reader->size(), 1 << 20)));
  char buffer[64 * 1024];
  for (;;) {
    const std::size_t n = reader->read(buffer, sizeof buffer);
    if (n == 0) break;
    if (out.size() + n > limit) throw tooLarge();
    out.append(buffer, n);
  }
  return out;
}

}  // namespace zept::scorm
