#pragma once
// Everything the core asks of the operating system, handed in by main (or by
// a test, with fakes). The core holds references only; the owner keeps the
// services alive for as long as the core runs.

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/locks.h"
#include "platform/registry.h"

namespace zept::platform {

struct Platform {
  RegistryStore& registry;
  SystemFolders& folders;
  FileSystem& files;
  Clock& clock;
  Locks& locks;
};

}  // namespace zept::platform
