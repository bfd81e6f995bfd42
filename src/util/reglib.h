#pragma once
// String values in the registry store.

#include "platform/registry.h"

namespace zept {

// Root HKEY_LOCAL_MACHINE when rootName is exactly "HKEY_LOCAL_MACHINE",
// otherwise HKEY_CURRENT_USER. Opens or creates the key and writes the value.
// False when the key can be neither opened nor created; a failing write
// throws ERegistryError.
bool RegWriteString(platform::RegistryStore& registry, const WideString& key,
                    const WideString& name, const WideString& value,
                    const WideString& rootName);

// The value under HKEY_CURRENT_USER; when that is empty or absent, under
// HKEY_LOCAL_MACHINE; when still empty, defaultValue. Store errors propagate.
WideString RegReadString(platform::RegistryStore& registry,
                         const WideString& key, const WideString& name,
                         const WideString& defaultValue);

}  // namespace zept
