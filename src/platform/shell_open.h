#pragma once
// Opening a document or a link with the system's default program.

#include <functional>
#include <optional>

#include "platform/files.h"

namespace zept::platform {

class ShellOpen {
 public:
  virtual ~ShellOpen() = default;
  // target is a link or a native path (FileSystem::nativePath), handed on
  // as it is. nullopt when it was opened; otherwise the system's reason.
  virtual std::optional<WideString> open(const WideString& target) = 0;
};

// Headless: opens nothing, says "open: TARGET". A link succeeds, a file
// succeeds when it exists, anything else fails as a missing file would.
class HeadlessShellOpen final : public ShellOpen {
 public:
  HeadlessShellOpen(FileSystem& files,
                    std::function<void(const WideString&)> print)
      : files_(files), print_(std::move(print)) {}

  std::optional<WideString> open(const WideString& target) override {
    print_(u"open: " + target);
    if (IsLink(target) || files_.fileExists(target) ||
        files_.directoryExists(target)) {
      return std::nullopt;
    }
    return WideString(u"No such file or directory");
  }

  // "http://", "https://" or "mailto:" anywhere, in any letter case.
  static bool IsLink(const WideString& text) {
    WideString lower = text;
    for (char16_t& c : lower) c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
    return lower.find(u"http://") != WideString::npos ||
           lower.find(u"https://") != WideString::npos ||
           lower.find(u"mailto:") != WideString::npos;
  }

 private:
  FileSystem& files_;
  std::function<void(const WideString&)> print_;
};

}  // namespace zept::platform
