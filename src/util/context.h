#pragma once
// What the core's routines share for the life of the process: the platform
// services and the trace log's process-wide values.

#include "platform/platform.h"

namespace zept {

struct TraceState {
  // Computed on the first trace call of the process.
  WideString programName;
  WideString programVersion;
  // True while the day's trace file is being created, so that a trace call
  // made meanwhile, before the file exists, returns instead of re-entering.
  bool creatingFile = false;
};

class Context {
 public:
  explicit Context(const platform::Platform& services) : platform(services) {}
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  platform::Platform platform;
  TraceState trace;
};

}  // namespace zept
