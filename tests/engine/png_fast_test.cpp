#include "engine/png_fast.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "engine/picture.h"

namespace zept {
namespace {

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
          static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string Chunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const uLong crc =
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
  return Be32(static_cast<std::uint32_t>(data.size())) + body +
         Be32(static_cast<std::uint32_t>(crc));
}

struct PngSpec {
  int width = 9, height = 7;
  unsigned char colour = 2;  // 2 RGB, 6 RGBA
  std::string before;        // chunks between IHDR and the image data
  int pieces = 1;            // IDAT chunks the data is cut into
  bool end = true;           // with IEND
};

// A PNG written here, filter by filter (row r uses filter r % 5), so the
// decoders are checked against a file neither of their libraries wrote.
std::string Png(const PngSpec& s) {
  const int bpp = s.colour == 6 ? 4 : 3;
  const std::size_t line = static_cast<std::size_t>(s.width) * bpp;
  std::vector<unsigned char> raw(line * s.height);
  for (std::size_t i = 0; i < raw.size(); ++i)
    raw[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
  std::string filtered;
  for (int r = 0; r < s.height; ++r) {
    const int filter = r % 5;
    filtered += static_cast<char>(filter);
    const unsigned char* row = raw.data() + line * r;
    const unsigned char* up = r > 0 ? row - line : nullptr;
    for (std::size_t i = 0; i < line; ++i) {
      const int a = i >= static_cast<std::size_t>(bpp) ? row[i - bpp] : 0;
      const int b = up ? up[i] : 0;
      const int c = up && i >= static_cast<std::size_t>(bpp) ? up[i - bpp] : 0;
      int predictor = 0;
      if (filter == 1) predictor = a;
      if (filter == 2) predictor = b;
      if (filter == 3) predictor = (a + b) / 2;
      if (filter == 4) {
        const int p = a + b - c;
        const int pa = std::abs(p - a), pb = std::abs(p - b),
                  pc = std::abs(p - c);
        predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      filtered += static_cast<char>(row[i] - predictor);
    }
  }
  uLongf size = compressBound(filtered.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(filtered.data()), filtered.size());
  packed.resize(size);

  std::string png = "\x89PNG\r\n\x1a\n";
  png += Chunk("IHDR", Be32(s.width) + Be32(s.height) + std::string(1, 8) +
                           std::string(1, static_cast<char>(s.colour)) +
                           std::string(3, '\0'));
  png += s.before;
  const std::size_t piece = packed.size() / s.pieces + 1;
  for (std::size_t at = 0; at < packed.size(); at += piece)
    png += Chunk("IDAT", packed.substr(at, piece));
  if (s.end) png += Chunk("IEND", "");
  return png;
}

// What drawing the file through the general decoder gives.
Bitmap Reference(const std::string& png, int width, int height) {
  std::optional<Bitmap> decoded = DecodePicture(png);
  EXPECT_TRUE(decoded);
  return StretchBitmap(*decoded, width, height);
}

TEST(FastPng, SamePixelsAsTheGeneralDecoderAtEverySize) {
  for (unsigned char colour : {2, 6}) {
    for (int pieces : {1, 3}) {
      PngSpec spec;
      spec.colour = colour;
      spec.pieces = pieces;
      spec.before = Chunk("sRGB", std::string(1, '\0')) +
                    Chunk("gAMA", Be32(45455)) +
                    Chunk("cHRM", std::string(32, '\1')) +
                    Chunk("pHYs", std::string(9, '\1')) +
                    Chunk("tEXt", std::string("Title\0x", 7));
      const std::string png = Png(spec);
      for (auto [w, h] : {std::pair{9, 7}, {4, 3}, {1, 1}, {20, 15}, {9, 2}}) {
        std::optional<Bitmap> fast = DecodePlainPngStretched(png, w, h);
        ASSERT_TRUE(fast) << int(colour) << " " << w << "x" << h;
        const Bitmap expected = Reference(png, w, h);
        EXPECT_EQ(fast->width, w);
        EXPECT_EQ(fast->height, h);
        EXPECT_EQ(fast->pixels, expected.pixels)
            << int(colour) << " " << pieces << " " << w << "x" << h;
      }
    }
  }
}

TEST(FastPng, OtherAndDamagedFilesAreLeftToTheGeneralDecoder) {
  const std::string plain = Png({});
  ASSERT_TRUE(DecodePlainPngStretched(plain, 3, 3));

  PngSpec gamma;
  gamma.before = Chunk("gAMA", Be32(100000));
  EXPECT_FALSE(DecodePlainPngStretched(Png(gamma), 3, 3));
  PngSpec profile;
  profile.before = Chunk("iCCP", std::string("x\0\0", 3));
  EXPECT_FALSE(DecodePlainPngStretched(Png(profile), 3, 3));
  PngSpec key;
  key.before = Chunk("tRNS", std::string(6, '\0'));
  EXPECT_FALSE(DecodePlainPngStretched(Png(key), 3, 3));
  PngSpec palette;
  palette.before = Chunk("PLTE", std::string(3, '\0'));
  EXPECT_FALSE(DecodePlainPngStretched(Png(palette), 3, 3));
  PngSpec grey;
  grey.colour = 0;
  EXPECT_FALSE(DecodePlainPngStretched(Png(grey), 3, 3));
  PngSpec unfinished;
  unfinished.end = false;
  EXPECT_FALSE(DecodePlainPngStretched(Png(unfinished), 3, 3));

  std::string badCrc = plain;
  badCrc[40] ^= 1;  // inside the image data
  EXPECT_FALSE(DecodePlainPngStretched(badCrc, 3, 3));
  EXPECT_FALSE(DecodePlainPngStretched(plain.substr(0, 50), 3, 3));
  EXPECT_FALSE(DecodePlainPngStretched("GIF89a", 3, 3));

  // Interlaced, or larger than the general decoder takes: its header says
  // so, with a right checksum.
  std::string interlaced = plain;
  interlaced.replace(
      8, 25,
      Chunk("IHDR", Be32(9) + Be32(7) + "\x08\x02" + std::string("\0\0\1", 3)));
  EXPECT_FALSE(DecodePlainPngStretched(interlaced, 3, 3));
  std::string huge = plain;
  huge.replace(8, 25,
               Chunk("IHDR", Be32(1'000'001) + Be32(1) + "\x08\x02" +
                                 std::string(3, '\0')));
  EXPECT_FALSE(DecodePlainPngStretched(huge, 3, 3));
}

}  // namespace
}  // namespace zept
