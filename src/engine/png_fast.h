#pragma once
// The common PNG, decoded straight to the size it is drawn at, faster than
// the general decoder: the whole image data inflated at once (libdeflate)
// and only the pixels the drawing keeps converted.

#include <optional>
#include <string>

#include "engine/bitmap.h"

namespace zept {

// StretchBitmap(*DecodePicture(bytes), width, height), pixel for pixel,
// for a PNG of 8-bit RGB or RGBA samples, not interlaced, whose chunks are
// all whole and leave its colours alone (sRGB; no other gamma, colour
// profile, transparency key, background or significant bits). nullopt for any
// other file, a damaged one included: the general decoder then decides what it
// is. width and height are at least 1.
std::optional<Bitmap> DecodePlainPngStretched(const std::string& bytes,
                                              int width, int height);

}  // namespace zept
