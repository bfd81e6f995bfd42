#include "engine/pdf_workers.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <zlib.h>

#include <cstdio>

#include "engine/picture.h"
#include "platform/fake/fakes.h"
#include "util/textlib.h"

namespace zept {
namespace {

enum class Kind { Baseline, Progressive, Grey, Cmyk, Arithmetic, Rgb };

// JPEG files written with libjpeg's own options, 32 x 16 pixels.
std::string Jpeg(Kind kind) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 32;
  info.image_height = 16;
  info.input_components = kind == Kind::Grey ? 1 : kind == Kind::Cmyk ? 4 : 3;
  info.in_color_space = kind == Kind::Grey   ? JCS_GRAYSCALE
                        : kind == Kind::Cmyk ? JCS_CMYK
                                             : JCS_RGB;
  jpeg_set_defaults(&info);
  if (kind == Kind::Progressive) jpeg_simple_progression(&info);
  if (kind == Kind::Arithmetic) info.arith_code = TRUE;
  if (kind == Kind::Rgb) jpeg_set_colorspace(&info, JCS_RGB);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(32 * 4, 0x80);
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

class PdfWorkersTest : public ::testing::Test {
 protected:
  platform::FakeFileSystem files;
  PdfWorkers workers{files, 90, 2};

  PdfWorkersTest() { files.addDirectory(u"/p"); }
  std::string made(const WideString& path, int width, int height) {
    return workers.result(workers.file(path, width, height));
  }
};

TEST_F(PdfWorkersTest, AJpegDrawnAtItsOwnSizeIsCarriedAsItIs) {
  for (Kind kind : {Kind::Baseline, Kind::Progressive, Kind::Grey, Kind::Rgb}) {
    const std::string file = Jpeg(kind);
    const WideString path = u"/p/" + IntToStr(static_cast<int>(kind)) + u".jpg";
    files.addFile(path, file);
    EXPECT_EQ(made(path, 32, 16), file) << static_cast<int>(kind);
    EXPECT_TRUE(JpegFitsAsIs(file, 32, 16));
    EXPECT_FALSE(JpegFitsAsIs(file, 16, 8));
  }
  // Resampled: encoded again, at the size asked for.
  files.addFile(u"/p/b.jpg", Jpeg(Kind::Baseline));
  const std::string smaller = made(u"/p/b.jpg", 16, 8);
  EXPECT_NE(smaller, Jpeg(Kind::Baseline));
  std::optional<Bitmap> decoded = DecodePicture(smaller);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 16);
  EXPECT_EQ(decoded->height, 8);
}

TEST_F(PdfWorkersTest, JpegsAPdfCannotCarryAreEncodedAgain) {
  EXPECT_FALSE(JpegFitsAsIs(Jpeg(Kind::Arithmetic), 32, 16));
  EXPECT_FALSE(JpegFitsAsIs(Jpeg(Kind::Cmyk), 32, 16));
  EXPECT_FALSE(JpegFitsAsIs("\xFF\xD8\xFF", 32, 16));
  files.addFile(u"/p/arith.jpg", Jpeg(Kind::Arithmetic));
  const std::string again = made(u"/p/arith.jpg", 32, 16);
  EXPECT_NE(again, Jpeg(Kind::Arithmetic));
  EXPECT_TRUE(DecodePicture(again));

  // The frame header is found by walking the markers by their lengths:
  // fill bytes before a marker hide it.
  const std::string plain = Jpeg(Kind::Baseline);
  EXPECT_TRUE(PdfReadsJpegHeader(plain));
  EXPECT_TRUE(PdfReadsJpegHeader(Jpeg(Kind::Progressive)));
  EXPECT_FALSE(PdfReadsJpegHeader(Jpeg(Kind::Arithmetic)));
  std::string filled = plain;
  filled.insert(2, "\xFF");
  EXPECT_FALSE(PdfReadsJpegHeader(filled));
  EXPECT_FALSE(PdfReadsJpegHeader(plain.substr(0, 20)));
}

TEST_F(PdfWorkersTest, OneFileAtOneSizeIsOneJob) {
  files.addFile(u"/p/a.jpg", Jpeg(Kind::Baseline));
  const PdfWorkers::Ticket first = workers.file(u"/p/a.jpg", 32, 16);
  EXPECT_EQ(workers.file(u"/p/a.jpg", 32, 16), first);
  EXPECT_NE(workers.file(u"/p/a.jpg", 16, 8), first);
  EXPECT_NE(workers.file(u"/p/b.jpg", 32, 16), first);
  EXPECT_FALSE(workers.result(first).empty());
  EXPECT_TRUE(workers.done(first));
  workers.release(first);
  EXPECT_TRUE(workers.result(first).empty());
}

TEST_F(PdfWorkersTest, UnreadablePicturesAreWhiteAndEmptyOnesNothing) {
  files.addFile(u"/p/bad.png", "not a picture");
  for (const char16_t* path : {u"/p/bad.png", u"/p/missing.png"}) {
    std::optional<Bitmap> white = DecodePicture(made(path, 6, 4));
    ASSERT_TRUE(white);
    EXPECT_EQ(white->width, 6);
    EXPECT_EQ(white->height, 4);
    for (std::uint32_t p : white->pixels) EXPECT_GE(p & 0xFF, 0xF8u);
  }
  EXPECT_EQ(made(u"/p/missing.png", 0, 4), "");
  EXPECT_EQ(workers.result(workers.bitmap(Bitmap{})), "");
  const Bitmap red = FilledBitmap(3, 2, 0xFFFF0000u);
  EXPECT_EQ(workers.result(workers.bitmap(red)), EncodeJpeg(red, 90));
}

TEST_F(PdfWorkersTest, PageContentsAreCompressed) {
  std::string content;
  for (int i = 0; i < 500; ++i) content += "BT\n/F1 10 Tf\n36 746.12 Td\n";
  const std::string packed = workers.result(workers.deflate(content));
  EXPECT_EQ(packed.substr(0, 2), "\x78\x9c");  // a zlib stream
  std::string back(content.size(), '\0');
  uLongf size = back.size();
  ASSERT_EQ(
      uncompress(reinterpret_cast<Bytef*>(back.data()), &size,
                 reinterpret_cast<const Bytef*>(packed.data()), packed.size()),
      Z_OK);
  EXPECT_EQ(back, content);
}

TEST_F(PdfWorkersTest, JobsNotStartedAreDroppedWithThePool) {
  files.addFile(u"/p/a.jpg", Jpeg(Kind::Baseline));
  auto pool = std::make_unique<PdfWorkers>(files, 90, 1);
  for (int i = 1; i <= 50; ++i) pool->file(u"/p/a.jpg", i, i);
  pool.reset();  // returns without waiting for fifty workers
}

}  // namespace
}  // namespace zept
