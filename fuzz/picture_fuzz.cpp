// Picture files of any kind: decoded within the pixel budget, or refused.

#include <cstdint>
#include <cstdlib>

#include "engine/picture.h"
#include "report/MediaConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ReadPictureSize(bytes);
  std::optional<Bitmap> picture = DecodePicture(bytes);
  if (!picture) return 0;
  if (static_cast<std::int64_t>(picture->width) * picture->height >
          kMaxPicturePixels ||
      picture->pixels.size() !=
          static_cast<std::size_t>(picture->width) * picture->height) {
    std::abort();
  }
  StretchBitmap(*picture, 7, 5);
  return 0;
}
