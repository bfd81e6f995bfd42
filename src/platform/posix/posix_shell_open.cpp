// Opening documents with xdg-open, started with an argument vector: the
// target is one argument and never reaches a command interpreter.

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/posix/posix.h"

extern char** environ;

namespace zept::platform {
namespace {

class XdgShellOpen final : public ShellOpen {
 public:
  std::optional<WideString> open(const WideString& target) override {
    const std::string native = WideToUtf8(target);
    char program[] = "xdg-open";
    std::string argument = native;
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid = 0;
    const int rc =
        ::posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
    if (rc != 0)
      return Utf8ToWide(std::string("cannot start xdg-open: ") +
                        std::strerror(rc));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
    return Utf8ToWide(
        "cannot open '" + native + "' (xdg-open ended with status " +
        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")");
  }
};

}  // namespace

std::unique_ptr<ShellOpen> NewXdgShellOpen() {
  return std::make_unique<XdgShellOpen>();
}

}  // namespace zept::platform
