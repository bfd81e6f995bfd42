#include "engine/picture.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>
#include <cstring>

namespace zept {
namespace {

// Pictures are made here with the libraries' own writers, so the decoders
// are checked against files they did not write.
std::string PngOf(int width, int height,
                  const std::vector<std::uint32_t>& bgra) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, bgra.data(), 0, nullptr);
  std::string out(size, '\0');
  png_image_write_to_memory(&image, out.data(), &size, 0, bgra.data(), 0,
                            nullptr);
  out.resize(size);
  return out;
}

std::string JpegOf(int width, int height, unsigned char r, unsigned char g,
                   unsigned char b) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  for (int x = 0; x < width; ++x) {
    row[x * 3] = r;
    row[x * 3 + 1] = g;
    row[x * 3 + 2] = b;
  }
  while (info.next_scanline < info.image_height) {
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

// A 1 x 1 GIF whose only pixel is colour 0 of its table, red.
const std::string kRedGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
    "!\xf9\x04\x00\x00\x00\x00\x00,"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    43);

// A 2 x 2 24-bit BMP stored bottom-up: blue, green above red, white.
std::string Bmp2x2() {
  std::string b = "BM";
  auto le = [&b](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  le(54 + 16, 4), le(0, 4), le(54, 4);
  le(40, 4), le(2, 4), le(2, 4), le(1, 2), le(24, 2), le(0, 4), le(16, 4);
  le(0, 4), le(0, 4), le(0, 4), le(0, 4);
  b += std::string("\x00\x00\xff\xff\xff\xff\x00\x00",
                   8);  // bottom row: red, white
  b += std::string("\xff\x00\x00\x00\xff\x00\x00\x00",
                   8);  // top row: blue, green
  return b;
}

TEST(Pictures, DecodeEveryFormat) {
  auto png = DecodePicture(PngOf(2, 1, {0xFF112233u, 0x80FFFFFFu}));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 2);
  EXPECT_EQ(png->pixels[0], 0xFF112233u);

  auto jpeg = DecodePicture(JpegOf(16, 8, 200, 30, 30));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->width, 16);
  EXPECT_EQ(jpeg->height, 8);
  const std::uint32_t p = jpeg->pixels[0];
  EXPECT_EQ(p >> 24, 0xFFu);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 200, 6);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 30, 6);

  auto gif = DecodePicture(kRedGif);
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->pixels, (std::vector<std::uint32_t>{0xFFFF0000u}));

  auto bmp = DecodePicture(Bmp2x2());
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->pixels,
            (std::vector<std::uint32_t>{0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u,
                                        0xFFFFFFFFu}));
}

TEST(Pictures, LiesAndGarbageAreRefused) {
  EXPECT_FALSE(DecodePicture("not a picture"));
  EXPECT_FALSE(DecodePicture(""));
  std::string jpeg = JpegOf(8, 8, 1, 2, 3);
  EXPECT_FALSE(DecodePicture(jpeg.substr(0, 20)));
  // A BMP header claiming a million by a million pixels.
  std::string bmp = Bmp2x2();
  bmp[18] = '\x40', bmp[19] = '\x42', bmp[20] = '\x0f';
  bmp[22] = '\x40', bmp[23] = '\x42', bmp[24] = '\x0f';
  EXPECT_FALSE(DecodePicture(bmp));
  // Pixel data cut short.
  EXPECT_FALSE(DecodePicture(Bmp2x2().substr(0, 60)));
  std::string png = PngOf(1, 1, {0});
  png[16] = '\x7f';  // width 2 billion: the header check refuses it
  EXPECT_FALSE(DecodePicture(png));
}

TEST(Pictures, StretchFillAndColours) {
  Bitmap two = FilledBitmap(2, 1, 0);
  two.pixels = {1, 2};
  Bitmap wide = StretchBitmap(two, 4, 2);
  EXPECT_EQ(wide.pixels, (std::vector<std::uint32_t>{1, 1, 2, 2, 1, 1, 2, 2}));
  EXPECT_TRUE(StretchBitmap(two, 0, 5).pixels.empty());
  EXPECT_EQ(ParseColour(u"#1E3A5F"), 0xFF1E3A5Fu);
  EXPECT_EQ(ParseColour(u"0xffffff"), 0xFFFFFFFFu);
  EXPECT_FALSE(ParseColour(u"red"));
  EXPECT_FALSE(ParseColour(u"#12345"));
  EXPECT_TRUE(HasPictureExtension(u"C:\\a\\B.JPEG"));
  EXPECT_FALSE(HasPictureExtension(u"movie.swf"));
}

}  // namespace
}  // namespace zept
