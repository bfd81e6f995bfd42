#include "report/MediaConverter.h"

#include <zlib.h>

#include <climits>
#include <cmath>

#include "engine/picture.h"
#include "platform/errors.h"
#include "util/file_io.h"

namespace zept {

std::uint8_t TBitsEngine::ReadByte() {
  if (at_ >= bytes_.size())
    throw EFileError("unexpected end of the SWF header");
  return static_cast<std::uint8_t>(bytes_[at_++]);
}

std::uint16_t TBitsEngine::ReadWord() {
  const std::uint16_t low = ReadByte();
  return static_cast<std::uint16_t>(low | (ReadByte() << 8));
}

std::uint32_t TBitsEngine::ReadBits(int n) {
  if (n <= 0) return 0;
  std::uint32_t value = 0;
  while (n > unread_) {
    value = (value << unread_) | (current_ & ((1u << unread_) - 1));
    n -= unread_;
    current_ = ReadByte();
    unread_ = 8;
  }
  value = (value << n) | ((current_ >> (unread_ - n)) & ((1u << n) - 1));
  unread_ -= n;
  return value;
}

std::int32_t TBitsEngine::ReadSignedBits(int n) {
  if (n <= 0) return 0;
  std::uint32_t value = ReadBits(n);
  if (n < 32 && (value & (1u << (n - 1)))) value |= ~((1u << n) - 1);
  return static_cast<std::int32_t>(value);
}

std::array<std::int32_t, 4> TBitsEngine::ReadRect() {
  const int nbits = static_cast<int>(ReadBits(5));
  const std::int32_t xmin = ReadSignedBits(nbits), xmax = ReadSignedBits(nbits);
  const std::int32_t ymin = ReadSignedBits(nbits), ymax = ReadSignedBits(nbits);
  FlushBits();
  return {xmin, ymin, xmax, ymax};
}

namespace {

// Inflates no more than the header needs, whatever FileLength claims: the
// RECT is at most 17 bytes, and two words follow it.
std::string InflateHeader(const std::string& bytes) {
  constexpr std::size_t kNeeded = 32;
  std::string out(kNeeded, '\0');
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EFileError("cannot inflate the SWF body");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + 8));
  z.avail_in = static_cast<uInt>(bytes.size() - 8);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_SYNC_FLUSH);
  const std::size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
    throw EFileError("damaged compressed SWF body");
  }
  out.resize(produced);
  return out;
}

}  // namespace

void TSWFStreamReader::LoadFromBytes(const std::string& bytes) {
  if (bytes.size() < 4 ||
      (bytes.compare(0, 3, "FWS") != 0 && bytes.compare(0, 3, "CWS") != 0)) {
    Valid = false;
    return;
  }
  Compressed = bytes[0] == 'C';
  Valid = true;
  TBitsEngine head(bytes);
  Signature = bytes.substr(0, 3);
  head.ReadBits(24);
  Version = head.ReadByte();
  FileLength = head.ReadWord();
  FileLength |= static_cast<std::uint32_t>(head.ReadWord()) << 16;
  const std::string body = Compressed ? InflateHeader(bytes) : bytes;
  TBitsEngine bits(body, Compressed ? 0 : 8);
  FrameSize = bits.ReadRect();
  FrameRate = bits.ReadWord();
  FrameCount = bits.ReadWord();
}

std::optional<std::pair<int, int>> ReadPictureSize(const std::string& b) {
  auto be16 = [&b](std::size_t at) {
    return (static_cast<unsigned char>(b[at]) << 8) |
           static_cast<unsigned char>(b[at + 1]);
  };
  auto le = [&b](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
      v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
  };
  switch (DetectPictureFormat(b)) {
    case PictureFormat::Png:
      if (b.size() < 24) return std::nullopt;
      return std::make_pair(
          static_cast<int>((be16(16) << 16) | be16(18)) & 0x7FFFFFFF,
          static_cast<int>((be16(20) << 16) | be16(22)) & 0x7FFFFFFF);
    case PictureFormat::Gif:
      if (b.size() < 10) return std::nullopt;
      return std::make_pair(static_cast<int>(le(6, 2)),
                            static_cast<int>(le(8, 2)));
    case PictureFormat::Bmp: {
      if (b.size() < 26) return std::nullopt;
      if (le(14, 4) == 12) {
        return std::make_pair(static_cast<int>(le(18, 2)),
                              static_cast<int>(le(20, 2)));
      }
      // Bottom-up files give a negative height; INT_MIN has no positive twin.
      const std::int64_t h = static_cast<std::int32_t>(le(22, 4));
      return std::make_pair(
          static_cast<int>(static_cast<std::int32_t>(le(18, 4))),
          static_cast<int>(std::min<std::int64_t>(h < 0 ? -h : h, INT32_MAX)));
    }
    case PictureFormat::Jpeg: {
      // Walk the markers to the first frame header (SOF0-SOF15 but DHT,
      // JPG and DAC).
      std::size_t at = 2;
      while (at + 9 < b.size()) {
        if (static_cast<unsigned char>(b[at]) != 0xFF) return std::nullopt;
        const unsigned marker = static_cast<unsigned char>(b[at + 1]);
        if (marker == 0xFF) {
          ++at;
          continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
            marker != 0xC8 && marker != 0xCC) {
          return std::make_pair(be16(at + 7), be16(at + 5));
        }
        at += 2 + static_cast<std::size_t>(be16(at + 2));
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

bool GetMediaSize(Context& ctx, const WideString& path, int& width,
                  int& height) {
  platform::FileSystem& fs = ctx.platform.files;
  if (!fs.fileExists(path)) return false;
  const std::size_t dot = path.rfind(u'.');
  WideString ext = dot == WideString::npos ? WideString() : path.substr(dot);
  for (char16_t& c : ext) c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
  try {
    if (ext == u".swf") {
      std::optional<std::string> bytes = fs.readFile(path);
      if (!bytes) return false;
      TSWFStreamReader reader;
      reader.LoadFromBytes(*bytes);
      width = static_cast<int>(std::nearbyint(reader.Width() / 20.0));
      height = static_cast<int>(std::nearbyint(reader.Height() / 20.0));
      return true;
    }
    if (ext == u".jpg" || ext == u".jpeg" || ext == u".bmp" || ext == u".gif" ||
        ext == u".png") {
      std::optional<std::string> bytes = fs.readFile(path);
      if (!bytes) return false;
      std::optional<std::pair<int, int>> size = ReadPictureSize(*bytes);
      if (!size) return false;
      width = size->first;
      height = size->second;
      return true;
    }
  } catch (const std::exception&) {
    return false;
  }
  return false;
}

TMediaConverter::TMediaConverter(MovieHostFactory& movies,
                                 platform::FileSystem& files)
    : Player(movies.create()), files_(files) {
  Player->Visible = false;
}

void TMediaConverter::SetSize(int width, int height) {
  PixelWidth = std::max(width, 0);
  PixelHeight = std::max(height, 0);
}

void TMediaConverter::Load(const WideString& name) {
  FileName = name;
  Player->Width = PixelWidth;
  Player->Height = PixelHeight;
  const std::size_t query = name.find(u'?');
  Player->setMovie(
      files_.nativePath(BasePath + name.substr(0, query)) +
      (query == WideString::npos ? WideString() : name.substr(query)));
  if (ZoomWidth != 0 && ZoomHeight != 0)
    Player->SetZoomRect(0, 0, ZoomWidth, ZoomHeight);
}

void TMediaConverter::DrawInto(ReportCanvas& canvas, double x1, double y1,
                               double x2, double y2) {
  const WideString picture = PlainPicture();
  if (picture.empty()) {
    canvas.drawBitmap(x1, y1, x2, y2, GetBitmap());
  } else {
    canvas.drawPicture(x1, y1, x2, y2, picture, PixelWidth, PixelHeight);
  }
}

std::pair<int, int> CapPixelSize(double width, double height, double pageWidth,
                                 double pageHeight) {
  double w = std::nearbyint(width), h = std::nearbyint(height);
  if (!(w > 0) || !(h > 0)) return {0, 0};
  const double maxW = 300 * std::max(pageWidth, 1.0),
               maxH = 300 * std::max(pageHeight, 1.0);
  double scale = std::min({1.0, maxW / w, maxH / h});
  if (w * scale * h * scale > static_cast<double>(kMaxPicturePixels)) {
    scale = std::sqrt(static_cast<double>(kMaxPicturePixels) / (w * h));
  }
  return {std::max(1, static_cast<int>(w * scale)),
          std::max(1, static_cast<int>(h * scale))};
}

}  // namespace zept
