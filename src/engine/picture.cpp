// Decoders on libjpeg(-turbo), libpng and giflib, and a plain BMP reader.

#include "engine/picture.h"

#include <gif_lib.h>
#include <png.h>
#include <setjmp.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace zept {
namespace {

bool WithinBudget(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width * height <= kMaxPicturePixels;
}

// ---- JPEG ----

struct JpegError {
  jpeg_error_mgr base;
  jmp_buf jump;
};

void JpegFail(j_common_ptr info) {
  longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}
void JpegSilent(j_common_ptr, int) {}

std::optional<Bitmap> DecodeJpeg(const std::string& bytes) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.base);
  error.base.error_exit = JpegFail;
  error.base.emit_message = JpegSilent;
  // Everything that must survive the jump lives outside this frame's
  // registers: the bitmap is heap memory reached through a pointer.
  auto bitmap = std::make_unique<Bitmap>();
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  if (!WithinBudget(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  info.out_color_space = JCS_EXT_BGRA;  // 0xAARRGGBB in memory order
  jpeg_start_decompress(&info);
  bitmap->width = static_cast<int>(info.output_width);
  bitmap->height = static_cast<int>(info.output_height);
  bitmap->pixels.assign(
      static_cast<std::size_t>(bitmap->width) * bitmap->height, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(
        bitmap->pixels.data() +
        static_cast<std::size_t>(info.output_scanline) * bitmap->width);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  for (std::uint32_t& p : bitmap->pixels) p |= 0xFF000000u;
  return std::move(*bitmap);
}

// ---- PNG ----

std::optional<Bitmap> DecodePng(const std::string& bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    return std::nullopt;
  }
  if (!WithinBudget(image.width, image.height)) {
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_BGRA;
  Bitmap bitmap;
  bitmap.width = static_cast<int>(image.width);
  bitmap.height = static_cast<int>(image.height);
  bitmap.pixels.assign(static_cast<std::size_t>(bitmap.width) * bitmap.height,
                       0);
  if (!png_image_finish_read(&image, nullptr, bitmap.pixels.data(), 0,
                             nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return bitmap;
}

// ---- GIF ----

struct GifSource {
  const std::string* bytes;
  std::size_t at;
};

int GifRead(GifFileType* gif, GifByteType* out, int length) {
  auto* source = static_cast<GifSource*>(gif->UserData);
  const std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)),
                            source->bytes->size() - source->at);
  std::memcpy(out, source->bytes->data() + source->at, n);
  source->at += n;
  return static_cast<int>(n);
}

// The graphics control block among the extensions before the first frame.
bool ReadGifExtensions(GifFileType* gif, GraphicsControlBlock& control,
                       bool& haveControl) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block && !haveControl) {
    haveControl = DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK;
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

// The first frame only, read record by record: a frame's size is checked
// against the budget before its pixels are allocated, and later frames are
// never read (DGifSlurp would allocate what every descriptor claims).
std::optional<Bitmap> DecodeGif(const std::string& bytes) {
  GifSource source{&bytes, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, GifRead, &error);
  if (!gif) return std::nullopt;
  struct Closer {
    GifFileType* gif;
    ~Closer() { DGifCloseFile(gif, nullptr); }
  } closer{gif};
  if (!WithinBudget(gif->SWidth, gif->SHeight)) return std::nullopt;
  GraphicsControlBlock control;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  bool haveControl = false;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) != GIF_OK) return std::nullopt;
    if (type == IMAGE_DESC_RECORD_TYPE) break;
    if (type != EXTENSION_RECORD_TYPE ||
        !ReadGifExtensions(gif, control, haveControl)) {
      return std::nullopt;  // no frame, or a damaged extension
    }
  }
  if (DGifGetImageDesc(gif) != GIF_OK) return std::nullopt;
  const GifImageDesc& d = gif->Image;
  if (!WithinBudget(d.Width, d.Height)) return std::nullopt;
  const ColorMapObject* colours = d.ColorMap ? d.ColorMap : gif->SColorMap;
  if (!colours) return std::nullopt;
  std::vector<GifPixelType> raster(static_cast<std::size_t>(d.Width) *
                                   d.Height);
  auto readRow = [&](int y) {
    return DGifGetLine(gif,
                       raster.data() + static_cast<std::size_t>(y) * d.Width,
                       d.Width) == GIF_OK;
  };
  if (d.Interlace) {
    constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (int y = kStart[pass]; y < d.Height; y += kStep[pass]) {
        if (!readRow(y)) return std::nullopt;
      }
    }
  } else {
    for (int y = 0; y < d.Height; ++y) {
      if (!readRow(y)) return std::nullopt;
    }
  }

  Bitmap bitmap = FilledBitmap(gif->SWidth, gif->SHeight, 0);
  for (int y = 0; y < d.Height; ++y) {
    for (int x = 0; x < d.Width; ++x) {
      const int cx = d.Left + x, cy = d.Top + y;
      if (cx < 0 || cy < 0 || cx >= bitmap.width || cy >= bitmap.height)
        continue;
      const int index = raster[static_cast<std::size_t>(y) * d.Width + x];
      if (index == control.TransparentColor || index >= colours->ColorCount)
        continue;
      const GifColorType c = colours->Colors[index];
      bitmap.pixels[static_cast<std::size_t>(cy) * bitmap.width + cx] =
          0xFF000000u | (std::uint32_t(c.Red) << 16) |
          (std::uint32_t(c.Green) << 8) | c.Blue;
    }
  }
  return bitmap;
}

// ---- BMP ----

std::uint32_t Le(const std::string& b, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

std::optional<Bitmap> DecodeBmp(const std::string& b) {
  if (b.size() < 26) return std::nullopt;
  const std::uint32_t dataOffset = Le(b, 10, 4);
  const std::uint32_t headerSize = Le(b, 14, 4);
  std::int64_t width, height;
  int bpp;
  std::uint32_t compression = 0, paletteCount = 0;
  std::size_t paletteEntry = 4;
  if (headerSize == 12) {
    width = static_cast<std::int16_t>(Le(b, 18, 2));
    height = static_cast<std::int16_t>(Le(b, 20, 2));
    bpp = static_cast<int>(Le(b, 24, 2));
    paletteEntry = 3;
  } else if (headerSize >= 40 && b.size() >= 54) {
    width = static_cast<std::int32_t>(Le(b, 18, 4));
    height = static_cast<std::int32_t>(Le(b, 22, 4));
    bpp = static_cast<int>(Le(b, 28, 2));
    compression = Le(b, 30, 4);
    paletteCount = Le(b, 46, 4);
  } else {
    return std::nullopt;
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (!WithinBudget(width, height)) return std::nullopt;
  // Uncompressed, or 32-bit bit fields taken as BGRA.
  if (compression != 0 && !(compression == 3 && bpp == 32)) return std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
    return std::nullopt;

  std::vector<std::uint32_t> palette;
  if (bpp <= 8) {
    const std::uint32_t count = paletteCount ? paletteCount : (1u << bpp);
    const std::size_t start = 14 + headerSize;
    if (count > 256 || start + count * paletteEntry > b.size())
      return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
      palette.push_back(0xFF000000u |
                        (Le(b, start + i * paletteEntry, 3) & 0xFFFFFFu));
    }
  }
  const std::size_t stride =
      static_cast<std::size_t>((width * bpp + 31) / 32) * 4;
  if (dataOffset > b.size() ||
      stride * static_cast<std::size_t>(height) > b.size() - dataOffset) {
    return std::nullopt;
  }
  Bitmap bitmap =
      FilledBitmap(static_cast<int>(width), static_cast<int>(height), 0);
  for (std::int64_t row = 0; row < height; ++row) {
    const std::size_t line =
        dataOffset + static_cast<std::size_t>(row) * stride;
    const std::int64_t y = topDown ? row : height - 1 - row;
    std::uint32_t* out =
        bitmap.pixels.data() + static_cast<std::size_t>(y) * width;
    for (std::int64_t x = 0; x < width; ++x) {
      std::uint32_t pixel;
      if (bpp == 24) {
        pixel = 0xFF000000u | Le(b, line + x * 3, 3);
      } else if (bpp == 32) {
        pixel = 0xFF000000u | (Le(b, line + x * 4, 4) & 0xFFFFFFu);
      } else {
        const std::size_t bit = static_cast<std::size_t>(x) * bpp;
        const unsigned byte = static_cast<unsigned char>(b[line + bit / 8]);
        const unsigned index =
            (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        pixel = index < palette.size() ? palette[index] : 0xFF000000u;
      }
      out[x] = pixel;
    }
  }
  return bitmap;
}

}  // namespace

PictureFormat DetectPictureFormat(const std::string& b) {
  if (b.size() >= 3 && b.compare(0, 3, "\xFF\xD8\xFF") == 0)
    return PictureFormat::Jpeg;
  if (b.size() >= 8 && b.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0)
    return PictureFormat::Png;
  if (b.size() >= 6 &&
      (b.compare(0, 6, "GIF87a") == 0 || b.compare(0, 6, "GIF89a") == 0)) {
    return PictureFormat::Gif;
  }
  if (b.size() >= 2 && b.compare(0, 2, "BM") == 0) return PictureFormat::Bmp;
  return PictureFormat::Unknown;
}

bool HasPictureExtension(const WideString& path) {
  const std::size_t dot = path.rfind(u'.');
  if (dot == WideString::npos) return false;
  WideString ext = path.substr(dot + 1);
  for (char16_t& c : ext) c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
  return ext == u"jpg" || ext == u"jpeg" || ext == u"png" || ext == u"gif" ||
         ext == u"bmp";
}

std::optional<Bitmap> DecodePicture(const std::string& bytes) {
  switch (DetectPictureFormat(bytes)) {
    case PictureFormat::Jpeg:
      return DecodeJpeg(bytes);
    case PictureFormat::Png:
      return DecodePng(bytes);
    case PictureFormat::Gif:
      return DecodeGif(bytes);
    case PictureFormat::Bmp:
      return DecodeBmp(bytes);
    default:
      return std::nullopt;
  }
}

Bitmap FilledBitmap(int width, int height, std::uint32_t argb) {
  Bitmap b;
  b.width = std::max(width, 0);
  b.height = std::max(height, 0);
  b.pixels.assign(static_cast<std::size_t>(b.width) * b.height, argb);
  return b;
}

Bitmap StretchBitmap(const Bitmap& source, int width, int height) {
  Bitmap out = FilledBitmap(width, height, 0xFFFFFFFFu);
  if (source.width <= 0 || source.height <= 0) return out;
  for (int y = 0; y < out.height; ++y) {
    const std::size_t sy =
        static_cast<std::size_t>(y) * source.height / out.height;
    for (int x = 0; x < out.width; ++x) {
      const std::size_t sx =
          static_cast<std::size_t>(x) * source.width / out.width;
      out.pixels[static_cast<std::size_t>(y) * out.width + x] =
          source.pixels[sy * source.width + sx];
    }
  }
  return out;
}

std::optional<std::uint32_t> ParseColour(const WideString& text) {
  std::size_t start = 0;
  if (text.size() == 7 && text[0] == u'#')
    start = 1;
  else if (text.size() == 8 && text[0] == u'0' &&
           (text[1] == u'x' || text[1] == u'X'))
    start = 2;
  else
    return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char16_t c = text[i] | 0x20;
    int digit = (text[i] >= u'0' && text[i] <= u'9') ? text[i] - u'0'
                : (c >= u'a' && c <= u'f')           ? c - u'a' + 10
                                                     : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return 0xFF000000u | value;
}

}  // namespace zept

namespace zept {

std::string EncodeJpeg(const Bitmap& bitmap, int quality) {
  if (bitmap.width <= 0 || bitmap.height <= 0) return "";
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(bitmap.width);
  info.image_height = static_cast<JDIMENSION>(bitmap.height);
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint32_t> row(static_cast<std::size_t>(bitmap.width));
  while (info.next_scanline < info.image_height) {
    // Transparent pixels are white on paper.
    const std::uint32_t* source =
        bitmap.pixels.data() +
        static_cast<std::size_t>(info.next_scanline) * bitmap.width;
    for (int x = 0; x < bitmap.width; ++x) {
      const std::uint32_t p = source[x];
      const std::uint32_t a = p >> 24;
      if (a == 0xFF) {
        row[x] = p & 0xFFFFFF;
        continue;
      }
      auto blend = [a](std::uint32_t c) {
        return (c * a + 255 * (255 - a)) / 255;
      };
      row[x] = (blend((p >> 16) & 0xFF) << 16) | (blend((p >> 8) & 0xFF) << 8) |
               blend(p & 0xFF);
    }
    JSAMPROW p = reinterpret_cast<JSAMPROW>(row.data());
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

}  // namespace zept

namespace zept {

bool JpegFitsAsIs(const std::string& bytes, int width, int height) {
  if (DetectPictureFormat(bytes) != PictureFormat::Jpeg) return false;
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.base);
  error.base.error_exit = JpegFail;
  error.base.emit_message = JpegSilent;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  // Three components are YCbCr to a PDF reader unless an Adobe marker
  // says they are not transformed.
  const bool colours =
      (info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE) ||
      (info.num_components == 3 &&
       (info.jpeg_color_space == JCS_YCbCr ||
        (info.jpeg_color_space == JCS_RGB && info.saw_Adobe_marker &&
         info.Adobe_transform == 0)));
  const bool fits = colours && !info.arith_code && info.data_precision == 8 &&
                    WithinBudget(info.image_width, info.image_height) &&
                    static_cast<std::int64_t>(info.image_width) == width &&
                    static_cast<std::int64_t>(info.image_height) == height;
  jpeg_destroy_decompress(&info);
  return fits;
}

}  // namespace zept
