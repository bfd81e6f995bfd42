// Course and look descriptors of any kind, read as the course start reads
// them.

#include <cstdint>

#include "shell/Course.h"
#include "shell_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  fuzzing::Shell shell;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  shell.fake.files.addFile(u"/c/x.xml", bytes);
  TCourse course;
  course.loadFromFile(shell.ctx, u"/c/x.xml");
  TLook look;
  look.loadFromFile(shell.ctx, u"/c/x.xml");
  return 0;
}
