#include "swf/swf.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace zept::swf {

namespace {

using Bytes = std::vector<std::uint8_t>;

enum TagCode : std::uint16_t {
  kEnd = 0,
  kShowFrame = 1,
  kDefineShape = 2,
  kSetBackgroundColor = 9,
  kDoAction = 12,
  kPlaceObject2 = 26,
  kRemoveObject2 = 28,
  kDefineButton2 = 34,
  kDefineEditText = 37,
  kDefineSprite = 39,
  kFrameLabel = 43,
  kDefineFont2 = 48,
  kDoInitAction = 59,
  kFileAttributes = 69,
};

constexpr int kTwips = 20;

void putU16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putString(Bytes& out, std::string_view s) {
  if (s.find('\0') != std::string_view::npos)
    throw std::invalid_argument("SWF string holds a NUL byte");
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

void putRgb(Bytes& out, Rgb c) { out.insert(out.end(), {c.r, c.g, c.b}); }

void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

int twips(int px) {
  long long t = static_cast<long long>(px) * kTwips;
  if (t < std::numeric_limits<std::int32_t>::min() / 2 ||
      t > std::numeric_limits<std::int32_t>::max() / 2)
    throw std::invalid_argument("SWF coordinate out of range");
  return static_cast<int>(t);
}

// Bits of a signed field that holds v; 0 for 0.
int signedBits(std::int64_t v) {
  if (v == 0) return 0;
  int n = 1;
  while (v < -(std::int64_t{1} << (n - 1)) || v >= (std::int64_t{1} << (n - 1)))
    ++n;
  return n;
}

int signedBits(std::initializer_list<std::int64_t> values) {
  int n = 0;
  for (auto v : values) n = std::max(n, signedBits(v));
  return n;
}

// Writes bit fields most significant bit first, as SWF packs them.
class BitWriter {
 public:
  explicit BitWriter(Bytes& out) : out_(out) {}
  ~BitWriter() { flush(); }

  void bits(std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      current_ = static_cast<std::uint8_t>((current_ << 1) | ((v >> i) & 1));
      if (++used_ == 8) {
        out_.push_back(current_);
        current_ = 0;
        used_ = 0;
      }
    }
  }
  void sbits(std::int32_t v, int n) { bits(static_cast<std::uint32_t>(v), n); }
  // Pads the last byte with zero bits.
  void flush() {
    if (used_ > 0) bits(0, 8 - used_);
  }

 private:
  Bytes& out_;
  std::uint8_t current_ = 0;
  int used_ = 0;
};

// RECT in twips.
void putRect(Bytes& out, int xMin, int xMax, int yMin, int yMax) {
  int n = signedBits({xMin, xMax, yMin, yMax});
  if (n > 31) throw std::invalid_argument("SWF rectangle out of range");
  BitWriter w(out);
  w.bits(n, 5);
  for (int v : {xMin, xMax, yMin, yMax}) w.sbits(v, n);
}

// MATRIX with a translation alone, in twips.
void putTranslation(Bytes& out, int x, int y) {
  BitWriter w(out);
  w.bits(0, 1);  // no scale
  w.bits(0, 1);  // no rotation
  int n = signedBits({x, y});
  w.bits(n, 5);
  w.sbits(x, n);
  w.sbits(y, n);
}

void putTagHeader(Bytes& out, std::uint16_t code, std::size_t length) {
  if (length > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("SWF tag too long");
  if (length < 0x3F) {
    putU16(out, static_cast<std::uint16_t>(code << 6 | length));
  } else {
    putU16(out, static_cast<std::uint16_t>(code << 6 | 0x3F));
    putU32(out, static_cast<std::uint32_t>(length));
  }
}

}  // namespace

void Timeline::tag(std::uint16_t code, const Bytes& body) {
  putTagHeader(tags_, code, body.size());
  append(tags_, body);
}

void Timeline::placeObject(std::uint16_t characterId, std::uint16_t depth,
                           int x, int y, std::string_view instanceName) {
  Bytes body;
  std::uint8_t flags = 0x02 | 0x04;  // a character and a matrix
  if (!instanceName.empty()) flags |= 0x20;
  body.push_back(flags);
  putU16(body, depth);
  putU16(body, characterId);
  putTranslation(body, twips(x), twips(y));
  if (!instanceName.empty()) putString(body, instanceName);
  tag(kPlaceObject2, body);
}

void Timeline::removeObject(std::uint16_t depth) {
  Bytes body;
  putU16(body, depth);
  tag(kRemoveObject2, body);
}

void Timeline::frameLabel(std::string_view name) {
  Bytes body;
  putString(body, name);
  tag(kFrameLabel, body);
}

void Timeline::doAction(const Assembler& actions) {
  tag(kDoAction, actions.bytes());
}

void Timeline::showFrame() {
  if (frames_ == std::numeric_limits<std::uint16_t>::max())
    throw std::length_error("SWF timeline longer than 65535 frames");
  tag(kShowFrame, {});
  ++frames_;
}

MovieWriter::MovieWriter(std::uint8_t version, int widthPx, int heightPx,
                         double frameRate, Rgb background)
    : version_(version), width_(widthPx), height_(heightPx) {
  if (widthPx < 0 || heightPx < 0)
    throw std::invalid_argument("negative SWF stage size");
  twips(widthPx);
  twips(heightPx);
  if (!(frameRate >= 0 && frameRate < 256))
    throw std::invalid_argument("SWF frame rate outside 0 to 255.99");
  frameRate_ = static_cast<std::uint16_t>(
      std::min(std::lround(frameRate * 256), long{0xFFFF}));
  if (version_ >= 8) tag(kFileAttributes, {0, 0, 0, 0});
  Bytes color;
  putRgb(color, background);
  tag(kSetBackgroundColor, color);
}

std::uint16_t MovieWriter::nextId() {
  if (lastId_ == std::numeric_limits<std::uint16_t>::max())
    throw std::length_error("more than 65535 SWF characters");
  return static_cast<std::uint16_t>(++lastId_);
}

std::uint16_t MovieWriter::defineRectangle(Rect r, Rgb fill,
                                           std::optional<Rgb> line) {
  if (r.width < 0 || r.height < 0)
    throw std::invalid_argument("negative SWF rectangle size");
  const int x0 = twips(r.x), y0 = twips(r.y);
  const int w = twips(r.width), h = twips(r.height);
  const int half = line ? kTwips / 2 : 0;  // half the line is outside
  auto id = nextId();
  Bytes body;
  putU16(body, id);
  putRect(body, x0 - half, x0 + w + half, y0 - half, y0 + h + half);
  body.push_back(1);  // one fill style, solid
  body.push_back(0x00);
  putRgb(body, fill);
  if (line) {
    body.push_back(1);
    putU16(body, kTwips);
    putRgb(body, *line);
  } else {
    body.push_back(0);
  }
  {
    BitWriter bw(body);
    const int lineBits = line ? 1 : 0;
    bw.bits(1, 4);  // fill index bits
    bw.bits(lineBits, 4);
    // Style change: move to the corner, fill style 1 (and line style 1).
    bw.bits(0, 1);
    bw.bits(0, 1);             // new styles
    bw.bits(line ? 1 : 0, 1);  // line style
    bw.bits(1, 1);             // fill style 1
    bw.bits(0, 1);             // fill style 0
    bw.bits(1, 1);             // move to
    int n = signedBits({x0, y0});
    bw.bits(n, 5);
    bw.sbits(x0, n);
    bw.sbits(y0, n);
    bw.bits(1, 1);
    if (line) bw.bits(1, 1);
    // Clockwise on screen; an edge holds at most 17 signed bits, so long
    // sides are split.
    auto edge = [&](int delta, bool vertical) {
      constexpr int kMaxDelta = (1 << 16) - 1;
      while (delta != 0) {
        int step = std::clamp(delta, -kMaxDelta, kMaxDelta);
        delta -= step;
        int bits = std::max(2, signedBits(step));
        bw.bits(1, 1);  // edge
        bw.bits(1, 1);  // straight
        bw.bits(bits - 2, 4);
        bw.bits(0, 1);  // along an axis
        bw.bits(vertical ? 1 : 0, 1);
        bw.sbits(step, bits);
      }
    };
    edge(w, false);
    edge(h, true);
    edge(-w, false);
    edge(-h, true);
    bw.bits(0, 6);  // end of shape
  }
  tag(kDefineShape, body);
  return id;
}

std::uint16_t MovieWriter::defineDeviceFont(std::string_view name, bool bold,
                                            bool italic) {
  if (name.empty() || name.size() > 255 ||
      name.find('\0') != std::string_view::npos)
    throw std::invalid_argument("SWF font name of 1 to 255 bytes");
  auto id = nextId();
  Bytes body;
  putU16(body, id);
  std::uint8_t flags = 0x04;  // wide codes, required from SWF 6
  if (italic) flags |= 0x02;
  if (bold) flags |= 0x01;
  body.push_back(flags);
  body.push_back(0);  // language
  body.push_back(static_cast<std::uint8_t>(name.size()));
  body.insert(body.end(), name.begin(), name.end());
  putU16(body, 0);  // no glyphs
  putU16(body, 0);  // code table offset
  tag(kDefineFont2, body);
  return id;
}

std::uint16_t MovieWriter::defineEditText(Rect bounds, std::uint16_t fontId,
                                          int fontHeightPx, Rgb color,
                                          std::string_view initialText,
                                          std::string_view variableName,
                                          const TextOptions& options) {
  if (bounds.width < 0 || bounds.height < 0)
    throw std::invalid_argument("negative SWF text field size");
  if (options.align < 0 || options.align > 3)
    throw std::invalid_argument("SWF text alignment is 0 to 3");
  const int height = twips(fontHeightPx);
  if (height < 0 || height > 0xFFFF)
    throw std::invalid_argument("SWF font height out of range");
  const int x0 = twips(bounds.x), y0 = twips(bounds.y);
  const int x1 = x0 + twips(bounds.width), y1 = y0 + twips(bounds.height);
  auto id = nextId();
  Bytes body;
  putU16(body, id);
  putRect(body, x0, x1, y0, y1);
  std::uint16_t flags = 0x0004;  // text colour
  if (fontId != 0) flags |= 0x0001;
  if (options.readOnly) flags |= 0x0008;
  if (options.password) flags |= 0x0010;
  if (options.multiline) flags |= 0x0020;
  if (options.wordWrap) flags |= 0x0040;
  if (!initialText.empty()) flags |= 0x0080;
  if (options.html) flags |= 0x0200;
  if (options.border) flags |= 0x0800;
  if (!options.selectable) flags |= 0x1000;
  if (options.align != 0) flags |= 0x2000;
  putU16(body, flags);
  if (fontId != 0) {
    putU16(body, fontId);
    putU16(body, static_cast<std::uint16_t>(height));
  }
  putRgb(body, color);
  body.push_back(0xFF);  // opaque
  if (options.align != 0) {
    body.push_back(static_cast<std::uint8_t>(options.align));
    for (int i = 0; i < 4; ++i) putU16(body, 0);  // margins, indent, leading
  }
  putString(body, variableName);
  if (!initialText.empty()) putString(body, initialText);
  tag(kDefineEditText, body);
  return id;
}

std::uint16_t MovieWriter::defineButton(std::uint16_t upShape,
                                        std::uint16_t overShape,
                                        std::uint16_t downShape,
                                        std::uint16_t hitShape,
                                        const Assembler& onRelease) {
  auto actions = onRelease.bytes();
  // One record per character, holding every state it is shown in.
  std::vector<std::pair<std::uint16_t, std::uint8_t>> records;
  const std::uint16_t states[] = {upShape, overShape, downShape, hitShape};
  for (int s = 0; s < 4; ++s) {
    if (states[s] == 0) continue;
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const auto& r) { return r.first == states[s]; });
    if (it == records.end())
      records.push_back({states[s], static_cast<std::uint8_t>(1 << s)});
    else
      it->second |= static_cast<std::uint8_t>(1 << s);
  }
  auto id = nextId();
  Bytes body;
  putU16(body, id);
  body.push_back(0);  // not a menu button
  Bytes characters;
  std::uint16_t depth = 0;
  for (const auto& [character, stateFlags] : records) {
    characters.push_back(stateFlags);
    putU16(characters, character);
    putU16(characters, ++depth);
    characters.push_back(0);  // identity matrix
    characters.push_back(0);  // no colour transform
  }
  characters.push_back(0);
  // The offset counts from the offset field itself.
  putU16(body, static_cast<std::uint16_t>(2 + characters.size()));
  append(body, characters);
  putU16(body, 0);       // the last condition
  putU16(body, 0x0008);  // OverDownToOverUp
  append(body, actions);
  tag(kDefineButton2, body);
  return id;
}

std::uint16_t MovieWriter::defineSprite(const Timeline& frames) {
  auto id = nextId();
  Bytes body;
  putU16(body, id);
  putU16(body, static_cast<std::uint16_t>(frames.frameCount()));
  append(body, frames.tags_);
  putTagHeader(body, kEnd, 0);
  tag(kDefineSprite, body);
  return id;
}

void MovieWriter::doInitAction(std::uint16_t spriteId,
                               const Assembler& actions) {
  Bytes body;
  putU16(body, spriteId);
  append(body, actions.bytes());
  tag(kDoInitAction, body);
}

std::string MovieWriter::bytes(bool compressed) const {
  Bytes body;
  putRect(body, 0, twips(width_), 0, twips(height_));
  putU16(body, frameRate_);
  putU16(body, static_cast<std::uint16_t>(frames_));
  append(body, tags_);
  putTagHeader(body, kEnd, 0);

  const std::size_t length = 8 + body.size();
  if (length > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("SWF file longer than 4 GiB");
  std::string out = compressed ? "CWS" : "FWS";
  out.push_back(static_cast<char>(version_));
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>(length >> (8 * i)));
  if (!compressed) {
    out.append(body.begin(), body.end());
    return out;
  }
  uLongf size = compressBound(body.size());
  Bytes deflated(size);
  if (compress2(deflated.data(), &size, body.data(), body.size(),
                Z_BEST_COMPRESSION) != Z_OK)
    throw std::runtime_error("cannot compress SWF body");
  out.append(deflated.begin(), deflated.begin() + size);
  return out;
}

}  // namespace zept::swf
