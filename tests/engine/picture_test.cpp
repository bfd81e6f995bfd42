#include "engine/picture.h"

#include <gif_lib.h>
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

// A GIF written by giflib: a screen with a four-colour table (black, red,
// green, blue) and frames, each at left, top, its rows of colour indexes,
// interlaced or not, with colour `transparent` transparent (-1: none).
struct GifFrame {
  int left, top;
  std::vector<std::vector<GifPixelType>> rows;
  bool interlace = false;
  int transparent = -1;
};
std::string GifOf(int width, int height, const std::vector<GifFrame>& frames) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* g, const GifByteType* data, int n) {
        static_cast<std::string*>(g->UserData)
            ->append(reinterpret_cast<const char*>(data), n);
        return n;
      },
      &error);
  const GifColorType colours[] = {
      {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, width, height, 2, 0, map);
  for (const GifFrame& f : frames) {
    GraphicsControlBlock control{};
    control.TransparentColor = f.transparent;
    GifByteType block[4];
    EGifGCBToExtension(&control, block);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block);
    const int w = static_cast<int>(f.rows[0].size()),
              h = static_cast<int>(f.rows.size());
    EGifPutImageDesc(gif, f.left, f.top, w, h, f.interlace, nullptr);
    std::vector<int> order;
    if (f.interlace) {
      for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
        for (int y = start; y < h; y += step) order.push_back(y);
      }
    } else {
      for (int y = 0; y < h; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> row = f.rows[static_cast<std::size_t>(y)];
      EGifPutLine(gif, row.data(), w);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

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

TEST(Pictures, GifShowsItsFirstFrameOnTheScreen) {
  constexpr std::uint32_t k = 0xFF000000u, r = 0xFFFF0000u, g = 0xFF00FF00u,
                          b = 0xFF0000FFu;
  // Interlaced rows come back in their places; a frame reaching past the
  // screen is cut; the transparent colour and the uncovered pixels stay 0;
  // a second frame is not shown.
  auto gif = DecodePicture(
      GifOf(3, 6,
            {{1,
              0,
              {{1, 2}, {2, 3}, {3, 0}, {0, 1}, {1, 1}, {2, 2}, {3, 3}},
              true,
              0},
             {0, 0, {{3, 3, 3}}}}));
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->width, 3);
  EXPECT_EQ(gif->pixels,
            (std::vector<std::uint32_t>{0, r, g, 0, g, b, 0, b, 0, 0, 0, r, 0,
                                        r, r, 0, g, g}));
  auto plain = DecodePicture(GifOf(2, 1, {{0, 0, {{0, 3}}}}));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->pixels, (std::vector<std::uint32_t>{k, b}));
}

TEST(Pictures, AGifFrameLargerThanTheBudgetIsNeverAllocated) {
  // 31 bytes: a 1025 x 1 screen and a 65377 x 30642 frame (2 GB of pixels).
  const std::string lie(
      "GIF89a\x01\x04\x01\x00\x00\x00\x00,\x04\x00\x00\x00"
      "\x61\xff\xb2\x77\x00\x00\x02\x02\x44\x01\x27\x00;",
      31);
  EXPECT_FALSE(DecodePicture(lie));
  // The same lie with a colour table, and one just over the budget.
  std::string coloured = GifOf(2, 2, {{0, 0, {{1, 2}, {3, 0}}}});
  const std::size_t desc = coloured.find(',', 13 + 12);
  ASSERT_NE(desc, std::string::npos);
  coloured.replace(desc + 5, 4, "\x61\xff\xb2\x77");
  EXPECT_FALSE(DecodePicture(coloured));
  coloured.replace(desc + 5, 4, "\xb5\x18\xb5\x18");  // 6325 x 6325
  EXPECT_FALSE(DecodePicture(coloured));
  // A frame larger than its screen but within the budget is cut, not refused.
  auto big = DecodePicture(GifOf(1, 1, {{0, 0, {{2, 1}, {1, 1}}}}));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->pixels, (std::vector<std::uint32_t>{0xFF00FF00u}));
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
