// Launch settings files of any kind: the window is created all the same.

#include <cstdint>

#include "shell_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  fuzzing::Shell shell;
  shell.fake.files.addFile(
      u"/c/cdrom/launch.ini",
      std::string(reinterpret_cast<const char*>(data), size));
  auto form = shell.create();
  form->FormShow();
  return 0;
}
