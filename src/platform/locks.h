#pragma once
// Named locks that keep one holder at a time on something several processes
// of the user may share, such as a learner's store. A lock is held while its
// object lives; the end of the holding process releases it, however it ends.

#include <memory>

#include "platform/text.h"

namespace zept::platform {

// Releases the lock when destroyed.
class HeldLock {
 public:
  virtual ~HeldLock() = default;
};

class Locks {
 public:
  virtual ~Locks() = default;
  // Takes the lock called name, waiting up to waitMs for its holder to let
  // it go. nullptr when it is still held, by another process or by another
  // holder in this one. Throws EFileError when this system cannot lock.
  virtual std::unique_ptr<HeldLock> tryLock(const WideString& name,
                                            int waitMs) = 0;
};

}  // namespace zept::platform
