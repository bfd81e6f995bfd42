#include "engine/png_fast.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/picture.h"

namespace zept {
namespace {

std::uint32_t Be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 |
         static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

bool TypeIs(const unsigned char* type, const char* name) {
  return std::memcmp(type, name, 4) == 0;
}

// Ancillary chunks through which the general decoder may change colours.
// It takes samples as sRGB, so an sRGB chunk, a gamma of 1/2.2 and the
// chromaticities (used only when colours become grey) change nothing.
bool ChangesColours(const unsigned char* type, const unsigned char* data,
                    std::uint32_t length) {
  if (TypeIs(type, "gAMA")) return length != 4 || Be32(data) != 45455;
  for (const char* name : {"iCCP", "sBIT", "tRNS", "bKGD"}) {
    if (TypeIs(type, name)) return true;
  }
  return false;
}

// The general decoder refuses wider or taller images.
constexpr std::uint32_t kMaxSide = 1'000'000;

unsigned char Paeth(unsigned char a, unsigned char b, unsigned char c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Undoes one row's filter (0 to 4) in place; prior is the row above,
// already unfiltered, or null for the first row.
void Unfilter(unsigned char filter, unsigned char* row,
              const unsigned char* prior, std::size_t length, std::size_t bpp) {
  switch (filter) {
    case 1:
      for (std::size_t i = bpp; i < length; ++i) row[i] += row[i - bpp];
      return;
    case 2:
      if (prior)
        for (std::size_t i = 0; i < length; ++i) row[i] += prior[i];
      return;
    case 3:
      for (std::size_t i = 0; i < length; ++i) {
        const unsigned left = i >= bpp ? row[i - bpp] : 0;
        const unsigned up = prior ? prior[i] : 0;
        row[i] += static_cast<unsigned char>((left + up) >> 1);
      }
      return;
    case 4:
      for (std::size_t i = 0; i < length; ++i) {
        const unsigned char left = i >= bpp ? row[i - bpp] : 0;
        const unsigned char up = prior ? prior[i] : 0;
        const unsigned char corner = prior && i >= bpp ? prior[i - bpp] : 0;
        row[i] += Paeth(left, up, corner);
      }
      return;
    default:
      return;
  }
}

struct Decompressor {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ~Decompressor() { libdeflate_free_decompressor(d); }
};

}  // namespace

std::optional<Bitmap> DecodePlainPngStretched(const std::string& bytes,
                                              int width, int height) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  if (width < 1 || height < 1) return std::nullopt;
  if (DetectPictureFormat(bytes) != PictureFormat::Png) return std::nullopt;

  std::uint32_t w = 0, h = 0;
  std::size_t bpp = 0;
  std::vector<std::pair<std::size_t, std::size_t>> data;  // IDAT spans
  bool dataEnded = false, ended = false;
  for (std::size_t at = 8; !ended;) {
    if (size - at < 12) return std::nullopt;
    const std::uint32_t length = Be32(b + at);
    if (length > 0x7FFFFFFFu || size - at - 12 < length) return std::nullopt;
    const unsigned char* type = b + at + 4;
    for (int i = 0; i < 4; ++i) {
      const unsigned char c = type[i] & ~0x20;
      if (c < 'A' || c > 'Z') return std::nullopt;
    }
    if (libdeflate_crc32(0, type, length + 4) != Be32(type + 4 + length))
      return std::nullopt;
    const unsigned char* chunk = type + 4;
    const bool first = at == 8;
    if (first != TypeIs(type, "IHDR")) return std::nullopt;
    if (first) {
      if (length != 13) return std::nullopt;
      w = Be32(chunk);
      h = Be32(chunk + 4);
      const unsigned char depth = chunk[8], colour = chunk[9];
      if (depth != 8 || (colour != 2 && colour != 6) || chunk[10] != 0 ||
          chunk[11] != 0 || chunk[12] != 0) {
        return std::nullopt;
      }
      bpp = colour == 6 ? 4 : 3;
    } else if (TypeIs(type, "IDAT")) {
      if (dataEnded) return std::nullopt;
      data.emplace_back(at + 8, length);
    } else {
      dataEnded = !data.empty();
      if (TypeIs(type, "IEND")) {
        ended = true;
      } else if (!(type[0] & 0x20) || ChangesColours(type, chunk, length)) {
        return std::nullopt;  // PLTE, another critical chunk, or colours
      }
    }
    at += 12 + static_cast<std::size_t>(length);
  }
  if (data.empty() || w < 1 || h < 1 || w > kMaxSide || h > kMaxSide ||
      static_cast<std::int64_t>(w) * h > kMaxPicturePixels) {
    return std::nullopt;
  }

  std::string joined;
  const unsigned char* in = b + data.front().first;
  std::size_t inSize = data.front().second;
  if (data.size() > 1) {
    for (const auto& [start, length] : data)
      joined.append(bytes, start, length);
    in = reinterpret_cast<const unsigned char*>(joined.data());
    inSize = joined.size();
  }
  const std::size_t stride = 1 + static_cast<std::size_t>(w) * bpp;
  std::unique_ptr<unsigned char[]> rows(new unsigned char[stride * h]);
  Decompressor inflater;
  if (!inflater.d ||
      libdeflate_zlib_decompress(inflater.d, in, inSize, rows.get(), stride * h,
                                 nullptr) != LIBDEFLATE_SUCCESS) {
    return std::nullopt;
  }
  std::string().swap(joined);

  // Nearest neighbour, as StretchBitmap picks its pixels. A row is
  // unfiltered only when it is drawn or the row below needs it; every
  // filter type is checked all the same.
  std::vector<char> needed(h, 0);
  for (int y = 0; y < height; ++y)
    needed[static_cast<std::size_t>(y) * h / height] = 1;
  for (std::uint32_t r = h; r-- > 0;) {
    const unsigned char filter = rows[stride * r];
    if (filter > 4) return std::nullopt;
    if (r + 1 < h && needed[r + 1] && rows[stride * (r + 1)] >= 2)
      needed[r] = 1;
  }
  std::vector<std::size_t> columns(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x)
    columns[x] = static_cast<std::size_t>(x) * w / width * bpp;
  Bitmap out;
  out.width = width;
  out.height = height;
  out.pixels.resize(static_cast<std::size_t>(width) * height);
  int y = 0;
  for (std::uint32_t r = 0; r < h && y < height; ++r) {
    if (!needed[r]) continue;
    unsigned char* row = rows.get() + stride * r + 1;
    const unsigned char* prior = r > 0 ? row - stride : nullptr;
    Unfilter(row[-1], row, prior, stride - 1, bpp);
    for (; y < height && static_cast<std::size_t>(y) * h / height == r; ++y) {
      std::uint32_t* line =
          out.pixels.data() + static_cast<std::size_t>(y) * width;
      for (int x = 0; x < width; ++x) {
        const unsigned char* p = row + columns[x];
        const std::uint32_t alpha = bpp == 4 ? p[3] : 0xFFu;
        line[x] = alpha << 24 | static_cast<std::uint32_t>(p[0]) << 16 |
                  static_cast<std::uint32_t>(p[1]) << 8 | p[2];
      }
    }
  }
  return out;
}

}  // namespace zept
