#include "swf/swf.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>

#include "report/MediaConverter.h"

namespace zept::swf {
namespace {

// Spaced upper-case hex, so a failure shows which byte differs.
template <typename Bytes>
std::string Hex(const Bytes& bytes) {
  std::string out;
  static const char* kDigits = "0123456789ABCDEF";
  for (auto b : bytes) {
    auto v = static_cast<std::uint8_t>(b);
    if (!out.empty()) out += ' ';
    out += kDigits[v >> 4];
    out += kDigits[v & 15];
  }
  return out;
}

TEST(SwfWriter, UncompressedHeaderAndFrameTags) {
  MovieWriter movie(8, 550, 400, 12.5, {0x11, 0x22, 0x33});
  movie.showFrame();
  movie.showFrame();
  EXPECT_EQ(Hex(movie.bytes(false)),
            "46 57 53 08 26 00 00 00 "     // FWS, version 8, 38 bytes
            "78 00 05 5F 00 00 0F A0 00 "  // RECT 0..11000, 0..8000 twips
            "80 0C 02 00 "                 // 12.5 fps in 8.8, 2 frames
            "44 11 00 00 00 00 "           // FileAttributes
            "43 02 11 22 33 "              // SetBackgroundColor
            "40 00 40 00 00 00");          // ShowFrame x2, End
  // Before version 8 there is no FileAttributes tag.
  EXPECT_EQ(Hex(MovieWriter(6, 1, 1, 1, {}).bytes(false)),
            "46 57 53 06 17 00 00 00 30 0A 00 A0 00 01 00 00 "
            "43 02 00 00 00 00 00");
}

TEST(SwfWriter, CompressedFormInflatesToTheSameBodyAndReadsBack) {
  MovieWriter movie(640, 480, 24, {255, 255, 255});
  Assembler a;
  a.pushString(std::string(200, 'x')).trace();  // a long tag header
  movie.doAction(a);
  movie.showFrame();
  const std::string plain = movie.bytes(false), packed = movie.bytes(true);
  EXPECT_EQ(packed.substr(0, 3), "CWS");
  EXPECT_EQ(packed.substr(3, 5), plain.substr(3, 5));
  std::string body(plain.size() - 8, '\0');
  uLongf size = body.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(body.data()), &size,
                       reinterpret_cast<const Bytef*>(packed.data() + 8),
                       packed.size() - 8),
            Z_OK);
  EXPECT_EQ(size, body.size());
  EXPECT_EQ(body, plain.substr(8));
  EXPECT_EQ(packed, movie.bytes(true)) << "output must be reproducible";

  for (const auto& file : {plain, packed}) {
    TSWFStreamReader reader;
    reader.LoadFromBytes(file);
    ASSERT_TRUE(reader.Valid);
    EXPECT_EQ(reader.Width(), 640 * 20);  // twips
    EXPECT_EQ(reader.Height(), 480 * 20);
    EXPECT_EQ(reader.FrameRate, 24 * 256);
    EXPECT_EQ(reader.FrameCount, 1);
    EXPECT_EQ(reader.FileLength, plain.size());
  }
  // DoAction: 0x3F marks the long form, then a 32-bit length.
  EXPECT_NE(plain.find(std::string("\x3F\x03\xCF\x00\x00\x00\x96\xCA", 8)),
            std::string::npos);
}

TEST(SwfWriter, DefinitionTags) {
  MovieWriter movie(100, 100, 12, {});
  EXPECT_EQ(movie.defineRectangle({1, 2, 3, 4}, {255, 0, 0}), 1);
  Assembler onRelease;
  onRelease.stop();
  EXPECT_EQ(movie.defineButton(1, 1, 1, 1, onRelease), 2);
  EXPECT_EQ(movie.defineDeviceFont("_sans"), 3);
  EXPECT_EQ(
      movie.defineEditText({0, 0, 100, 20}, 3, 12, {0, 0, 0x80}, "hi", "v"), 4);
  movie.placeObject(2, 5, 10, -3, "b");
  const std::string file = movie.bytes(false);
  const std::size_t tags = 8 + 7 + 4 + 6 + 5;
  EXPECT_EQ(Hex(file.substr(tags)),
            // DefineShape: bounds, one solid red fill, no line, 1/0 index bits,
            // move to (20, 40) with fill 1, four straight edges, end.
            "9A 00 01 00 40 A2 81 43 C0 01 00 FF 00 00 00 "
            "10 14 E5 14 75 1E 6C A8 6A 44 D9 B0 00 "
            // DefineButton2: one record for all four states, action offset 10,
            // one condition (OverDownToOverUp) holding ActionStop.
            "93 08 02 00 00 0A 00 0F 01 00 01 00 00 00 00 00 00 08 00 07 00 "
            // DefineFont2 "_sans" without glyphs, wide codes.
            "0E 0C 03 00 04 00 05 5F 73 61 6E 73 00 00 00 00 "
            // DefineEditText: text, colour, read-only, font; not selectable.
            "58 09 04 00 60 00 3E 80 00 0C 80 8D 10 03 00 F0 00 00 00 80 FF "
            "76 00 68 69 00 "
            // PlaceObject2 of the button at depth 5, (200, -60) twips, "b".
            "8B 06 26 05 00 02 00 12 C8 E2 00 62 00 "
            "00 00");
}

TEST(SwfWriter, SpritesAndTextOptions) {
  MovieWriter movie(100, 100, 12, {});
  Timeline clip;
  Assembler play;
  play.play();
  clip.frameLabel("go");
  clip.doAction(play);
  clip.showFrame();
  clip.removeObject(2);
  clip.showFrame();
  EXPECT_EQ(movie.defineSprite(clip), 1);
  movie.doInitAction(1, play);
  MovieWriter::TextOptions options;
  options.readOnly = false;
  options.multiline = options.wordWrap = options.border = true;
  options.password = options.selectable = options.html = true;
  options.align = 2;
  EXPECT_EQ(
      movie.defineEditText({0, 0, 10, 10}, 0, 12, {1, 2, 3}, "", "", options),
      2);
  EXPECT_EQ(Hex(movie.bytes(false).substr(30)),
            // DefineSprite: id, 2 frames, FrameLabel, DoAction, ShowFrame,
            // RemoveObject2, ShowFrame, End.
            "D7 09 01 00 02 00 C3 0A 67 6F 00 02 03 06 00 40 00 "
            "02 07 02 00 40 00 00 00 "
            "C4 0E 01 00 06 00 "  // DoInitAction for sprite 1
            // DefineEditText without font or text; the layout centred.
            "58 09 02 00 48 01 90 00 64 00 74 2A 01 02 03 FF "
            "02 00 00 00 00 00 00 00 00 00 "
            "00 00");

  EXPECT_THROW(movie.defineRectangle({0, 0, -1, 5}, {}), std::invalid_argument);
  EXPECT_THROW(movie.defineDeviceFont(std::string("a\0b", 3)),
               std::invalid_argument);
  options.align = 4;
  EXPECT_THROW(movie.defineEditText({}, 0, 12, {}, "", "", options),
               std::invalid_argument);
  EXPECT_THROW(MovieWriter(10, 10, 256, {}), std::invalid_argument);
  EXPECT_THROW(movie.frameLabel(std::string("\0", 1)), std::invalid_argument);
}

TEST(Avm1Assembler, PushesAndGetUrl) {
  Assembler a;
  a.pushString("a").pushNumber(1.5).pushInt(-2).pushBool(true).pushNull();
  a.pushUndefined().pushRegister(3);
  a.getUrl("FSCommand:hi", "x").getUrl2(0, true, false);
  EXPECT_EQ(Hex(a.bytes()),
            "96 03 00 00 61 00 "
            "96 09 00 06 00 00 F8 3F 00 00 00 00 "  // high half first
            "96 05 00 07 FE FF FF FF "
            "96 02 00 05 01 96 01 00 02 96 01 00 03 96 02 00 04 03 "
            "83 0F 00 46 53 43 6F 6D 6D 61 6E 64 3A 68 69 00 78 00 "
            "9A 01 00 40 00");
  EXPECT_THROW(a.pushString(std::string("a\0b", 3)), std::invalid_argument);
}

TEST(Avm1Assembler, FunctionsAndConstantPool) {
  Assembler body;
  body.pushString("b").return_();
  Assembler a;
  a.constantPool({"x", "yz"}).pushConstant(1).pushConstant(300);
  a.defineFunction("f", {"a"}, body);
  a.defineFunction2(
      {"", 2, Assembler::kPreloadThis | Assembler::kPreloadGlobal, {{1, "p"}}},
      body);
  EXPECT_EQ(Hex(a.bytes()),
            "88 07 00 02 00 78 00 79 7A 00 "
            "96 02 00 08 01 96 03 00 09 2C 01 "
            // The body's 7 bytes follow the record and are not in its
            // length.
            "9B 08 00 66 00 01 00 61 00 07 00 96 03 00 00 62 00 3E "
            "8E 0B 00 00 01 00 02 01 01 01 70 00 07 00 "
            "96 03 00 00 62 00 3E 00");
}

TEST(Avm1Assembler, JumpsForwardAndBackward) {
  Assembler a;
  auto top = a.newLabel(), end = a.newLabel();
  a.bind(top).pushBool(true).ifTrue(end).jump(top).bind(end).stop();
  // Offsets count from the end of the branch record: +5 and -15.
  EXPECT_EQ(Hex(a.bytes()),
            "96 02 00 05 01 9D 02 00 05 00 99 02 00 F1 FF 07 00");

  Assembler unbound;
  unbound.jump(unbound.newLabel());
  EXPECT_THROW(unbound.bytes(), std::logic_error);
  EXPECT_THROW(a.bind(top), std::logic_error);
  EXPECT_THROW(a.jump(7), std::logic_error);

  Assembler far;
  auto start = far.newLabel();
  far.bind(start).pushString(std::string(32800, 'x')).jump(start);
  EXPECT_THROW(far.bytes(), std::length_error);
}

TEST(Avm1Assembler, ExternalInterfaceAndFscommand) {
  Assembler call;
  call.pushString("x").callExternal("probe", 1);
  // "x", "probe", 2, flash.external.ExternalInterface, "call", CallMethod.
  EXPECT_EQ(Hex(call.bytes()),
            "96 03 00 00 78 00 96 07 00 00 70 72 6F 62 65 00 "
            "96 05 00 07 02 00 00 00 "
            "96 07 00 00 66 6C 61 73 68 00 1C "
            "96 0A 00 00 65 78 74 65 72 6E 61 6C 00 4E "
            "96 13 00 00 45 78 74 65 72 6E 61 6C 49 6E 74 65 72 66 61 63 65 "
            "00 4E 96 06 00 00 63 61 6C 6C 00 52 00");

  Assembler callback;
  callback.addCallback("get");
  const std::string text = Hex(callback.bytes());
  // null, "get", 3 pushed above the function; the result popped.
  EXPECT_EQ(text.substr(0, 44), "96 01 00 02 96 05 00 00 67 65 74 00 96 05 00");
  EXPECT_EQ(text.substr(text.size() - 44),
            "61 64 64 43 61 6C 6C 62 61 63 6B 00 52 17 00");

  Assembler fs;
  fs.fscommand("quit", "");
  EXPECT_EQ(Hex(fs.bytes()),
            "83 10 00 46 53 43 6F 6D 6D 61 6E 64 3A 71 75 69 74 00 00 00");
}

}  // namespace
}  // namespace zept::swf
