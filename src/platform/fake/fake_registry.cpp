#include "platform/errors.h"
#include "platform/fake/fakes.h"

namespace zept::platform {

WideString FakeRegistry::Fold(const WideString& key) {
  WideString out;
  for (const WideString& name : SplitKeyPath(key)) {
    if (!out.empty()) out += u'\\';
    out += FoldName(name);
  }
  return out;
}

void FakeRegistry::ensure(RegistryRoot root, const WideString& key) {
  WideString fold;
  for (const WideString& name : SplitKeyPath(key)) {
    if (!fold.empty()) fold += u'\\';
    fold += FoldName(name);
    keys_[Index(root)].try_emplace(fold, Key{name, {}});
  }
}

bool FakeRegistry::keyExists(RegistryRoot root, const WideString& key) {
  if (broken_) throw ERegistryError("registry unreadable");
  const WideString fold = Fold(key);
  return fold.empty() || keys_[Index(root)].count(fold) > 0;
}

bool FakeRegistry::createKey(RegistryRoot root, const WideString& key) {
  if (readOnly_[Index(root)]) return false;
  ensure(root, key);
  return true;
}

std::optional<WideString> FakeRegistry::readString(RegistryRoot root,
                                                   const WideString& key,
                                                   const WideString& name) {
  if (broken_) throw ERegistryError("registry unreadable");
  auto k = keys_[Index(root)].find(Fold(key));
  if (k == keys_[Index(root)].end()) return std::nullopt;
  auto v = k->second.values.find(FoldName(name));
  if (v == k->second.values.end()) return std::nullopt;
  return v->second.second;
}

void FakeRegistry::writeString(RegistryRoot root, const WideString& key,
                               const WideString& name,
                               const WideString& value) {
  if (readOnly_[Index(root)] || failWrites_) {
    throw ERegistryError("cannot write registry value: Access is denied");
  }
  ensure(root, key);
  Key& k = keys_[Index(root)][Fold(key)];
  auto [it, inserted] = k.values.try_emplace(FoldName(name), name, value);
  if (!inserted) it->second.second = value;
}

bool FakeRegistry::deleteValue(RegistryRoot root, const WideString& key,
                               const WideString& name) {
  auto k = keys_[Index(root)].find(Fold(key));
  return k != keys_[Index(root)].end() &&
         k->second.values.erase(FoldName(name)) > 0;
}

bool FakeRegistry::deleteKey(RegistryRoot root, const WideString& key) {
  const WideString fold = Fold(key);
  auto& keys = keys_[Index(root)];
  bool deleted = false;
  for (auto it = keys.begin(); it != keys.end();) {
    if (it->first == fold ||
        it->first.compare(0, fold.size() + 1, fold + u"\\") == 0) {
      it = keys.erase(it);
      deleted = true;
    } else {
      ++it;
    }
  }
  return deleted;
}

std::vector<WideString> FakeRegistry::listSubkeys(RegistryRoot root,
                                                  const WideString& key) {
  const WideString fold = Fold(key);
  const WideString prefix = fold.empty() ? fold : fold + u"\\";
  std::vector<WideString> names;
  for (const auto& [path, k] : keys_[Index(root)]) {
    if (path.compare(0, prefix.size(), prefix) == 0 &&
        path.find(u'\\', prefix.size()) == WideString::npos && path != fold) {
      names.push_back(k.name);
    }
  }
  return names;
}

std::vector<std::pair<WideString, WideString>> FakeRegistry::listValues(
    RegistryRoot root, const WideString& key) {
  std::vector<std::pair<WideString, WideString>> values;
  auto k = keys_[Index(root)].find(Fold(key));
  if (k == keys_[Index(root)].end()) return values;
  for (const auto& [fold, nv] : k->second.values) values.push_back(nv);
  return values;
}

void FakePrinters::submitPdf(const WideString& name, const WideString& title,
                             const std::string& pdf) {
  if (refuse)
    throw EZeptError(
        "cannot print on the printer: The printer is not responding");
  jobs.push_back({name, title, pdf});
}

}  // namespace zept::platform
