#include <gtest/gtest.h>
#include <zlib.h>

#include "moviehost/headless.h"
#include "report/MediaConverter.h"
#include "util/fake_env.h"

namespace zept {
namespace {

using testing::FakeEnv;

// An SWF header written bit by bit: RECT with nbits, then rate and count.
std::string SwfBody(int nbits, std::int32_t xmin, std::int32_t xmax,
                    std::int32_t ymin, std::int32_t ymax) {
  std::string out;
  std::uint32_t acc = 0;
  int used = 0;
  auto put = [&](std::uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc = (acc << 1) | ((value >> i) & 1);
      if (++used == 8) {
        out += static_cast<char>(acc);
        acc = 0;
        used = 0;
      }
    }
  };
  put(static_cast<std::uint32_t>(nbits), 5);
  for (std::int32_t v : {xmin, xmax, ymin, ymax})
    put(static_cast<std::uint32_t>(v), nbits);
  if (used) out += static_cast<char>(acc << (8 - used));
  out += std::string("\x00\x18\x01\x00", 4);  // 24 fps, 1 frame
  return out;
}

std::string Swf(const std::string& body, bool compressed) {
  std::string header = compressed ? "CWS" : "FWS";
  header += '\x0a';
  const std::uint32_t length = static_cast<std::uint32_t>(8 + body.size());
  for (int i = 0; i < 4; ++i)
    header += static_cast<char>((length >> (8 * i)) & 0xFF);
  if (!compressed) return header + body;
  uLongf size = compressBound(body.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(body.data()), body.size());
  packed.resize(size);
  return header + packed;
}

class MediaTest : public ::testing::Test, protected FakeEnv {
 protected:
  std::pair<bool, std::pair<int, int>> measure(const WideString& path,
                                               const std::string& bytes) {
    fake.files.addFile(path, bytes);
    int w = 0, h = 0;
    const bool ok = GetMediaSize(ctx, path, w, h);
    return {ok, {w, h}};
  }
};

TEST_F(MediaTest, SwfStageSizes) {
  const std::string stage = SwfBody(15, 0, 11000, 0, 8000);
  EXPECT_EQ(measure(u"/m/a.swf", Swf(stage, false)),
            std::make_pair(true, std::make_pair(550, 400)));
  EXPECT_EQ(measure(u"/m/b.SWF", Swf(stage, true)),
            std::make_pair(true, std::make_pair(550, 400)));
  // Halves go to the even neighbour: 10.5 gives 10, 11.5 gives 12.
  EXPECT_EQ(
      measure(u"/m/c.swf", Swf(SwfBody(12, 0, 200, 0, 210), false)).second,
      std::make_pair(10, 10));
  EXPECT_EQ(
      measure(u"/m/d.swf", Swf(SwfBody(12, 0, 200, 0, 230), false)).second,
      std::make_pair(10, 12));
  EXPECT_EQ(measure(u"/m/e.swf", "FWS"),
            std::make_pair(true, std::make_pair(0, 0)));
  EXPECT_EQ(measure(u"/m/f.swf", "GIF89a..."),
            std::make_pair(true, std::make_pair(0, 0)));
}

TEST_F(MediaTest, CompressedHeadersThatLieAboutTheirLength) {
  std::string swf = Swf(SwfBody(15, 0, 11000, 0, 8000), true);
  swf[4] = swf[5] = swf[6] = swf[7] = '\xff';  // 4 GB claimed
  EXPECT_EQ(measure(u"/m/big.swf", swf).second, std::make_pair(550, 400));
  EXPECT_FALSE(
      measure(u"/m/broken.swf", "CWS\x0a\x10\x00\x00\x00garbage!").first);
  EXPECT_FALSE(measure(u"/m/short.swf",
                       Swf(SwfBody(31, 0, 1, 0, 1), false).substr(0, 10))
                   .first);
}

TEST_F(MediaTest, PictureSizesAndOtherFiles) {
  const std::string gif("GIF89a\x20\x03\x58\x02", 10);
  EXPECT_EQ(measure(u"/m/p.GIF", gif),
            std::make_pair(true, std::make_pair(800, 600)));
  EXPECT_FALSE(measure(u"/m/p.jpg", "not a jpeg").first);
  EXPECT_FALSE(measure(u"/m/notes.txt", "hello").first);
  int w = 0, h = 0;
  EXPECT_FALSE(GetMediaSize(ctx, u"/m/missing.png", w, h));
}

TEST_F(MediaTest, APlayerShowingJustAPictureLetsTheCallerDrawTheFile) {
  std::function<void(const WideString&)> print = [](const WideString&) {};
  platform::HeadlessWindow window{1280, 1024, print};
  platform::ScriptedDialogs dialogs{print};
  HeadlessHostFactory movies{{ctx, print, dialogs, window, u"/app/"}};
  fake.files.addFile(u"/m/p.gif",
                     std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00"
                                 "\xff\x00\x00\x00\x00\x00,"
                                 "\x00\x00\x00\x00\x01\x00\x01\x00"
                                 "\x00\x02\x02\x44\x01\x00;",
                                 36));
  fake.files.addFile(u"/m/s.gif.movie.xml", "<movie frame=\"p.gif\"/>");
  fake.files.addFile(u"/m/s.gif", "");
  TMediaConverter converter(movies, fake.files);
  converter.SetSize(4, 2);
  converter.SetBasePath(u"/m/");
  converter.Load(u"p.gif");
  EXPECT_EQ(converter.PlainPicture(), u"/m/p.gif");
  // The frame is still the picture stretched, decoded when asked for.
  EXPECT_EQ(converter.GetBitmap().pixels,
            std::vector<std::uint32_t>(8, 0xFFFF0000u));
  converter.Load(u"missing.png");
  EXPECT_EQ(converter.PlainPicture(), u"/m/missing.png");
  // A script's frame, or a movie, is not a plain picture.
  converter.Load(u"s.gif");
  EXPECT_EQ(converter.PlainPicture(), u"");
  converter.Load(u"movie.swf");
  EXPECT_EQ(converter.PlainPicture(), u"");
}

TEST(BitsEngine, ReadsMostSignificantBitFirst) {
  const std::string bytes("\xA5\xF0", 2);  // 1010 0101 1111 0000
  TBitsEngine bits(bytes);
  EXPECT_EQ(bits.ReadBits(0), 0u);
  EXPECT_EQ(bits.ReadBits(3), 5u);
  EXPECT_EQ(bits.ReadSignedBits(3), 1);
  EXPECT_EQ(bits.ReadSignedBits(4), 7);   // 0 1 | 1 1 across the byte edge
  EXPECT_EQ(bits.ReadSignedBits(4), -4);  // 1 1 0 0
  bits.FlushBits();
  EXPECT_THROW(bits.ReadByte(), std::exception);
}

TEST(PixelCaps, BitmapsNeverOutgrowThePage) {
  EXPECT_EQ(CapPixelSize(200, 100, 8.5, 11), std::make_pair(200, 100));
  const auto [w, h] = CapPixelSize(1e6, 1e6, 8.5, 11);
  EXPECT_LE(static_cast<std::int64_t>(w) * h, 40'000'000);
  EXPECT_LE(w, 2550);
  EXPECT_EQ(CapPixelSize(0, 100, 8.5, 11), std::make_pair(0, 0));
}

}  // namespace
}  // namespace zept
