#pragma once
// A package of a few empty files, by name, for the fuzzers whose
// descriptions name files of their package.

#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "scorm/package.h"

namespace zept::fuzz {

class NamedFiles final : public scorm::PackageFiles {
 public:
  NamedFiles(std::initializer_list<const char*> names)
      : names_(names.begin(), names.end()) {}
  const std::string& location() const override { return location_; }
  std::vector<scorm::PackageEntry> entries() const override {
    std::vector<scorm::PackageEntry> out;
    for (const std::string& name : names_) out.push_back({name, 0, 0});
    return out;
  }
  bool exists(const std::string& path) const override {
    return names_.contains(path);
  }
  std::unique_ptr<scorm::EntryReader> open(const std::string&) const override {
    return nullptr;
  }
  std::string nativeFile(const std::string&) const override { return ""; }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

 private:
  std::set<std::string> names_;
  std::string location_ = "fuzz.zip";
  std::vector<std::string> warnings_;
};

}  // namespace zept::fuzz
