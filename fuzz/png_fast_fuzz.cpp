// The fast PNG decoder against the general one: whatever it decodes, the
// general decoder decodes to the same pixels.

#include <cstdint>
#include <cstdlib>

#include "engine/picture.h"
#include "engine/png_fast.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::optional<Bitmap> fast = DecodePlainPngStretched(bytes, 7, 5);
  if (!fast) return 0;
  std::optional<Bitmap> general = DecodePicture(bytes);
  if (!general || StretchBitmap(*general, 7, 5).pixels != fast->pixels)
    std::abort();
  return 0;
}
