#pragma once
// Media for reports: the natural pixel size of a picture or SWF file, and
// the bitmap of a file (or the formula player) drawn by a hidden movie host.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "moviehost/moviehost.h"
#include "report/surface.h"
#include "util/context.h"

namespace zept {

// Reads bits most significant first from bytes in memory.
class TBitsEngine {
 public:
  explicit TBitsEngine(const std::string& bytes, std::size_t at = 0)
      : bytes_(bytes), at_(at) {}
  // Unsigned, n >= 1; 0 for n <= 0. Reading past the end throws EFileError.
  std::uint32_t ReadBits(int n);
  std::int32_t ReadSignedBits(int n);
  // Nbits, then Xmin, Xmax, Ymin, Ymax; returns {left, top, right, bottom}.
  std::array<std::int32_t, 4> ReadRect();
  std::uint8_t ReadByte();
  std::uint16_t ReadWord();
  void FlushBits() { unread_ = 0; }
  std::size_t position() const { return at_; }

 private:
  const std::string& bytes_;
  std::size_t at_;
  std::uint8_t current_ = 0;
  int unread_ = 0;
};

// The header of an SWF file: signature, version, length and stage.
class TSWFStreamReader {
 public:
  std::string Signature;
  std::uint8_t Version = 5;
  std::uint32_t FileLength = 0;
  std::array<std::int32_t, 4> FrameSize{};  // left, top, right, bottom, twips
  std::uint16_t FrameRate = 0, FrameCount = 0;
  int UnitDivisor = 1;
  bool Compressed = false;
  bool Valid = false;

  // Reads the header; a file too short or of another kind is not valid.
  // Throws EFileError for a damaged compressed body.
  void LoadFromBytes(const std::string& bytes);
  std::int32_t Width() const {
    return (FrameSize[2] - FrameSize[0]) / UnitDivisor;
  }
  std::int32_t Height() const {
    return (FrameSize[3] - FrameSize[1]) / UnitDivisor;
  }
};

// The natural size in pixels of a picture (jpg, jpeg, bmp, gif, png) or SWF
// file; false when the file is missing, unreadable or of another kind.
bool GetMediaSize(Context& ctx, const WideString& path, int& width,
                  int& height);

// The picture's pixel size from its header alone.
std::optional<std::pair<int, int>> ReadPictureSize(const std::string& bytes);

// Draws a file into a bitmap of a chosen size through a hidden movie host.
class TMediaConverter {
 public:
  // files gives the native form of the paths the movie host is handed.
  TMediaConverter(MovieHostFactory& movies, platform::FileSystem& files);

  WideString BasePath, FileName;
  int PixelWidth = 0, PixelHeight = 0;
  int ZoomWidth = 0, ZoomHeight = 0;  // twips; 0: no zoom

  void SetSize(int width, int height);
  void SetZoom(int width, int height) {
    ZoomWidth = 20 * width;
    ZoomHeight = 20 * height;
  }
  void SetBasePath(const WideString& path) { BasePath = path; }
  // Loads BasePath + name; name may end with a query ("?a=b"), which the
  // movie host receives as it is.
  void Load(const WideString& name);
  Bitmap GetBitmap() { return Player->GetFrameBitmap(); }
  // The picture file the player shows as it is, stretched to its size;
  // empty when the player draws anything else.
  WideString PlainPicture() const { return Player->PlainPicture(); }
  // What the player shows, drawn stretched into the rectangle: the picture
  // file itself when that is all it shows (so the canvas may keep or reuse
  // it), otherwise its bitmap.
  void DrawInto(ReportCanvas& canvas, double x1, double y1, double x2,
                double y2);

 private:
  std::unique_ptr<MovieHost> Player;
  platform::FileSystem& files_;
};

// A bitmap is never larger than the page can show: at most 300 pixels an
// inch of the page and kMaxPicturePixels in all. Keeps the proportions.
std::pair<int, int> CapPixelSize(double width, double height, double pageWidth,
                                 double pageHeight);

}  // namespace zept
