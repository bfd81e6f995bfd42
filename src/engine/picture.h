#pragma once
// Picture files (JPEG, PNG, GIF, BMP): their size and their pixels.
// Pictures that lie about their size are refused, never allocated.

#include <optional>
#include <string>

#include "engine/bitmap.h"
#include "platform/text.h"

namespace zept {

enum class PictureFormat { Unknown, Jpeg, Png, Gif, Bmp };

// The most pixels a decoded picture may have (about 160 MB of pixels).
constexpr std::int64_t kMaxPicturePixels = 40'000'000;

// By the file's signature, not its name.
PictureFormat DetectPictureFormat(const std::string& bytes);
// True for the names the movie host shows as pictures: jpg, jpeg, png, gif,
// bmp, in any letter case.
bool HasPictureExtension(const WideString& path);

// The pixels; nullopt when the bytes are no readable picture or it is larger
// than kMaxPicturePixels.
std::optional<Bitmap> DecodePicture(const std::string& bytes);

// Nearest-neighbour scaling to width x height (each at least 0).
Bitmap StretchBitmap(const Bitmap& source, int width, int height);
Bitmap FilledBitmap(int width, int height, std::uint32_t argb);
// "#RRGGBB" (or "0xRRGGBB") as an opaque colour; nullopt otherwise.
std::optional<std::uint32_t> ParseColour(const WideString& text);

}  // namespace zept

namespace zept {
// JPEG bytes of the bitmap at the given quality (1-100).
std::string EncodeJpeg(const Bitmap& bitmap, int quality);
}  // namespace zept

namespace zept {
// True when the JPEG bytes are a picture of exactly width x height pixels
// in 8-bit grey or colour that a PDF can carry as they are (DCT data
// without arithmetic coding, in the colour space a PDF reader assumes):
// decoding and encoding them again would only lose quality.
bool JpegFitsAsIs(const std::string& bytes, int width, int height);
}  // namespace zept
