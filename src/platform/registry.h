#pragma once
// The registry store: string values under keys in two hives. Key paths are
// backslash-separated and may start or end with a backslash; key and value
// names compare case-insensitively and keep the case they were created with.

#include <optional>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace zept::platform {

enum class RegistryRoot { CurrentUser, LocalMachine };

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  virtual bool keyExists(RegistryRoot root, const WideString& key) = 0;
  // Opens the key for writing, creating it and its missing parents. False
  // when the key can be neither opened nor created (no write access).
  virtual bool createKey(RegistryRoot root, const WideString& key) = 0;
  // nullopt when the key or the value is absent. Throws ERegistryError when
  // the store cannot be read.
  virtual std::optional<WideString> readString(RegistryRoot root,
                                               const WideString& key,
                                               const WideString& name) = 0;
  // Creates the key when needed; throws ERegistryError on failure. The
  // write is atomic: a crash leaves the old value or the new one.
  virtual void writeString(RegistryRoot root, const WideString& key,
                           const WideString& name, const WideString& value) = 0;
  // False when there was nothing to delete.
  virtual bool deleteValue(RegistryRoot root, const WideString& key,
                           const WideString& name) = 0;
  // Deletes the key with its values and sub-keys; false when absent.
  virtual bool deleteKey(RegistryRoot root, const WideString& key) = 0;
  // Names of the direct sub-keys, in name order.
  virtual std::vector<WideString> listSubkeys(RegistryRoot root,
                                              const WideString& key) = 0;
  // Name and value of every value of the key, in name order.
  virtual std::vector<std::pair<WideString, WideString>> listValues(
      RegistryRoot root, const WideString& key) = 0;
  // Where the hive is kept (its file), so that other processes can name the
  // same store; empty for a store no other process can reach.
  virtual WideString location(RegistryRoot root) const = 0;
};

// Splits a key path into its names, dropping empty ones ("\A\\B\" gives A, B).
std::vector<WideString> SplitKeyPath(const WideString& key);
// Case folding used for key and value names.
WideString FoldName(const WideString& name);

}  // namespace zept::platform
