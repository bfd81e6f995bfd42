#include "platform/errors.h"
#include "platform/fake/fakes.h"

namespace zept::platform {
namespace {

class FakeHeldLock final : public HeldLock {
 public:
  FakeHeldLock(std::shared_ptr<std::set<WideString>> held, WideString name)
      : held_(std::move(held)), name_(std::move(name)) {}
  ~FakeHeldLock() override { held_->erase(name_); }

 private:
  std::shared_ptr<std::set<WideString>> held_;
  WideString name_;
};

}  // namespace

std::unique_ptr<HeldLock> FakeLocks::tryLock(const WideString& name, int) {
  if (broken_) throw EFileError("cannot lock: not supported here");
  if (!held_->insert(name).second) return nullptr;
  return std::make_unique<FakeHeldLock>(held_, name);
}

}  // namespace zept::platform
