#include "util/reglib.h"

namespace zept {

using platform::RegistryRoot;

bool RegWriteString(platform::RegistryStore& registry, const WideString& key,
                    const WideString& name, const WideString& value,
                    const WideString& rootName) {
  const RegistryRoot root = rootName == u"HKEY_LOCAL_MACHINE"
                                ? RegistryRoot::LocalMachine
                                : RegistryRoot::CurrentUser;
  if (!registry.createKey(root, key)) return false;
  registry.writeString(root, key, name, value);
  return true;
}

WideString RegReadString(platform::RegistryStore& registry,
                         const WideString& key, const WideString& name,
                         const WideString& defaultValue) {
  for (RegistryRoot root :
       {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
    std::optional<WideString> value = registry.readString(root, key, name);
    if (value && !value->empty()) return *value;
  }
  return defaultValue;
}

}  // namespace zept
