// zept-reg: reads and changes the program's registry store.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/posix/posix.h"

namespace {

using zept::WideString;
using zept::platform::RegistryRoot;

constexpr char kUsage[] =
    "usage: zept-reg get KEY NAME\n"
    "       zept-reg set KEY NAME VALUE\n"
    "       zept-reg delete KEY [NAME]\n"
    "       zept-reg list KEY\n"
    "KEY starts with HKCU, HKEY_CURRENT_USER, HKLM or HKEY_LOCAL_MACHINE,\n"
    "then the key path: 'HKCU\\Software\\vardeno\\Tesk Runtime'.\n"
    "The stores are in ZEPT_REGISTRY_DIR when it is set.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "zept-reg: %s\n%s", problem, kUsage);
  return 2;
}

bool ParseKey(const std::string& text, RegistryRoot& root, WideString& path) {
  const std::size_t slash = text.find('\\');
  std::string hive = text.substr(0, slash);
  for (char& c : hive)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (hive == "HKCU" || hive == "HKEY_CURRENT_USER") {
    root = RegistryRoot::CurrentUser;
  } else if (hive == "HKLM" || hive == "HKEY_LOCAL_MACHINE") {
    root = RegistryRoot::LocalMachine;
  } else {
    return false;
  }
  path = slash == std::string::npos ? WideString()
                                    : zept::Utf8ToWide(text.substr(slash + 1));
  return true;
}

void Print(const WideString& text) {
  std::fputs(zept::WideToUtf8(text).c_str(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 ||
                    std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 3) return Usage("missing command or key");
  const std::string command = argv[1];
  const std::size_t expected = command == "get"      ? 4
                               : command == "set"    ? 5
                               : command == "list"   ? 3
                               : command == "delete" ? (argc == 4 ? 4 : 3)
                                                     : 0;
  if (expected == 0)
    return Usage(("unknown command '" + command + "'").c_str());
  if (static_cast<std::size_t>(argc) != expected)
    return Usage("wrong number of arguments");
  RegistryRoot root;
  WideString key;
  if (!ParseKey(argv[2], root, key))
    return Usage("the key must start with HKCU or HKLM");

  auto registry = zept::platform::NewDefaultRegistry(std::getenv);
  try {
    if (command == "get") {
      auto value = registry->readString(root, key, zept::Utf8ToWide(argv[3]));
      if (!value) {
        std::fprintf(stderr, "zept-reg: no value '%s' in '%s'\n", argv[3],
                     argv[2]);
        return 1;
      }
      Print(*value + u"\n");
    } else if (command == "set") {
      if (!registry->createKey(root, key)) {
        std::fprintf(stderr, "zept-reg: cannot open or create '%s'\n", argv[2]);
        return 1;
      }
      registry->writeString(root, key, zept::Utf8ToWide(argv[3]),
                            zept::Utf8ToWide(argv[4]));
    } else if (command == "delete") {
      const bool deleted = argc == 4 ? registry->deleteValue(
                                           root, key, zept::Utf8ToWide(argv[3]))
                                     : registry->deleteKey(root, key);
      if (!deleted) {
        std::fprintf(stderr, "zept-reg: nothing to delete at '%s'%s%s\n",
                     argv[2], argc == 4 ? " " : "", argc == 4 ? argv[3] : "");
        return 1;
      }
    } else {
      if (!registry->keyExists(root, key)) {
        std::fprintf(stderr, "zept-reg: no key '%s'\n", argv[2]);
        return 1;
      }
      for (const WideString& sub : registry->listSubkeys(root, key))
        Print(sub + u"\\\n");
      for (const auto& [name, value] : registry->listValues(root, key)) {
        Print(name + u"\t" + value + u"\n");
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zept-reg: %s\n", e.what());
    return 1;
  }
  return 0;
}
