// SWF headers of any kind, compressed ones claiming any length.

#include <cstdint>

#include "report/MediaConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  zept::TSWFStreamReader reader;
  try {
    reader.LoadFromBytes(
        std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
  }
  return 0;
}
