#pragma once
// A package of empty files, by name, for the tests and fuzzers of the
// readers whose descriptions name files of their package.

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "package/package.h"

namespace zept::scorm {

class NamedFiles final : public PackageFiles {
 public:
  explicit NamedFiles(std::set<std::string> names,
                      std::string location = "package.zip")
      : names_(std::move(names)), location_(std::move(location)) {}
  const std::string& location() const override { return location_; }
  std::vector<PackageEntry> entries() const override {
    std::vector<PackageEntry> out;
    for (const std::string& name : names_) out.push_back({name, 0, 0});
    return out;
  }
  bool exists(const std::string& path) const override {
    return names_.contains(path);
  }
  std::unique_ptr<EntryReader> open(const std::string&) const override {
    return nullptr;
  }
  std::string nativeFile(const std::string&) const override { return ""; }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

 private:
  std::set<std::string> names_;
  std::string location_;
  std::vector<std::string> warnings_;
};

}  // namespace zept::scorm
