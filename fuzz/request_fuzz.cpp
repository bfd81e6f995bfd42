// ExternalInterface requests of any kind to both call handlers, then the
// event loop: no crash, no hang.

#include <cstdint>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "shell_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  fuzzing::Shell shell;
  auto form = shell.create();
  form->FormShow();
  const WideString request =
      Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
  for (bool menu : {true, false}) {
    try {
      menu ? form->menuCall(request) : form->courseCall(request);
    } catch (const EZeptError&) {
      // A bad number ("SetSCO") leaves the handler as an error.
    }
  }
  for (int turn = 0; turn < 50 && !shell.window.state().closed; ++turn) {
    if (!shell.movies.runTurn() && !shell.timers.fireEarliest()) break;
  }
  return 0;
}
