#include "desktop/bridge_movie.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>

#include "platform/codepage.h"
#include "swf/avm1.h"
#include "swf/swf.h"
#include "util/utf8.h"

namespace zept::desktop {

namespace {

constexpr std::size_t kHeaderBytesWanted = 4096;

// Up to limit bytes of the inflated body of a CWS movie.
std::optional<std::string> InflatePrefix(const std::string& bytes,
                                         std::size_t limit) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return std::nullopt;
  std::string out(limit, '\0');
  stream.next_in =
      reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + 8));
  stream.avail_in = static_cast<uInt>(bytes.size() - 8);
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(limit);
  const int result = inflate(&stream, Z_SYNC_FLUSH);
  const std::size_t produced = limit - stream.avail_out;
  inflateEnd(&stream);
  if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
    return std::nullopt;
  out.resize(produced);
  return out;
}

class BitReader {
 public:
  explicit BitReader(const std::string& bytes, std::size_t at)
      : bytes_(bytes), at_(at) {}
  bool bits(int n, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < n; ++i) {
      if (bit_ == 0) {
        if (at_ >= bytes_.size()) return false;
        current_ = static_cast<unsigned char>(bytes_[at_++]);
        bit_ = 8;
      }
      --bit_;
      value = (value << 1) | ((current_ >> bit_) & 1);
    }
    return true;
  }
  bool signedBits(int n, std::int32_t& value) {
    std::uint32_t raw;
    if (!bits(n, raw)) return false;
    if (n > 0 && (raw >> (n - 1)) & 1) raw |= ~0u << n;
    value = static_cast<std::int32_t>(raw);
    return true;
  }
  std::size_t next() const { return at_; }  // first byte after the bits

 private:
  const std::string& bytes_;
  std::size_t at_;
  unsigned current_ = 0;
  int bit_ = 0;
};

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendEncoded(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

}  // namespace

std::string QueryForEmulator(const std::string& query) {
  std::string out;
  std::size_t i = 0;
  while (i < query.size()) {
    const char c = query[i];
    if (c == '%' && i + 2 < query.size() && Hex(query[i + 1]) >= 0 &&
        Hex(query[i + 2]) >= 0) {
      // A run of encoded bytes, decoded and checked as a whole.
      std::string bytes;
      while (i + 2 < query.size() && query[i] == '%' &&
             Hex(query[i + 1]) >= 0 && Hex(query[i + 2]) >= 0) {
        bytes += static_cast<char>(Hex(query[i + 1]) * 16 + Hex(query[i + 2]));
        i += 3;
      }
      const std::string utf8 =
          IsValidUtf8(bytes) ? bytes : WideToUtf8(AnsiToWide(bytes));
      for (unsigned char byte : utf8) AppendEncoded(out, byte);
      continue;
    }
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '#' || c == '"' || c == '<' ||
        c == '>' || c == '%' || c == '\\' || c == '^' || c == '`' || c == '{' ||
        c == '|' || c == '}') {
      AppendEncoded(out, byte);
    } else {
      out += c;
    }
    ++i;
  }
  return out;
}

std::optional<SwfStage> ReadSwfStage(const std::string& bytes) {
  if (bytes.size() < 9) return std::nullopt;
  const std::string signature = bytes.substr(0, 3);
  std::string body;
  if (signature == "FWS") {
    body = bytes.substr(8, kHeaderBytesWanted);
  } else if (signature == "CWS") {
    std::optional<std::string> inflated =
        InflatePrefix(bytes, kHeaderBytesWanted);
    if (!inflated) return std::nullopt;
    body = std::move(*inflated);
  } else {
    return std::nullopt;
  }
  BitReader reader(body, 0);
  std::uint32_t nbits;
  std::int32_t rect[4];
  if (!reader.bits(5, nbits)) return std::nullopt;
  for (std::int32_t& v : rect) {
    if (!reader.signedBits(static_cast<int>(nbits), v)) return std::nullopt;
  }
  SwfStage stage;
  const double width = (static_cast<double>(rect[1]) - rect[0]) / 20.0;
  const double height = (static_cast<double>(rect[3]) - rect[2]) / 20.0;
  if (width >= 1 && width <= 8192 && height >= 1 && height <= 8192) {
    stage.width = static_cast<int>(std::lround(width));
    stage.height = static_cast<int>(std::lround(height));
  }
  std::size_t at = reader.next();
  if (at + 4 > body.size()) return stage;
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(body[i]);
  };
  // 8.8 fixed point; the bridge's writer takes whole rates up to 255.
  const double rate = byte(at + 1) + byte(at) / 256.0;
  if (rate >= 1) stage.frameRate = std::min(rate, 255.0);
  at += 4;
  // The background is one of the first tags; look at a few.
  for (int tags = 0; tags < 16 && at + 2 <= body.size(); ++tags) {
    const unsigned header = byte(at) | (byte(at + 1) << 8);
    at += 2;
    const unsigned code = header >> 6;
    std::size_t length = header & 0x3F;
    if (length == 0x3F) {
      if (at + 4 > body.size()) break;
      length = byte(at) | (byte(at + 1) << 8) | (byte(at + 2) << 16) |
               (std::size_t{byte(at + 3)} << 24);
      at += 4;
    }
    if (code == 9 && length >= 3 && at + 3 <= body.size()) {
      stage.red = byte(at);
      stage.green = byte(at + 1);
      stage.blue = byte(at + 2);
      break;
    }
    if (code == 0 || length > body.size() - at) break;
    at += length;
  }
  return stage;
}

std::string BuildBridgeMovie(const std::string& id, const std::string& token,
                             const std::string& movieUrl,
                             const SwfStage& stage) {
  using swf::Assembler;

  // get(path): "v" + value, or "u" when the variable is undefined.
  Assembler get;
  const Assembler::Label undefinedValue = get.newLabel();
  get.pushString("value")
      .pushString("_level1.")
      .pushString("path")
      .getVariable()
      .add2()
      .getVariable()
      .defineLocal();
  get.pushString("value")
      .getVariable()
      .typeOf()
      .pushString("undefined")
      .equals2()
      .ifTrue(undefinedValue);
  get.pushString("v").pushString("value").getVariable().add2().return_();
  get.bind(undefinedValue).pushString("u").return_();

  // set(path, "v" + value): the emulator hands an empty string over as null,
  // so every value comes with one character in front.
  Assembler set;
  set.pushString("_level1.")
      .pushString("path")
      .getVariable()
      .add2()
      .pushInt(1)
      .pushInt(1)
      .pushString("value")
      .getVariable()
      .pushString("substring")
      .callMethod()
      .setVariable()
      .pushBool(true)
      .return_();

  // state(): "_framesloaded/_totalframes" of the real movie.
  Assembler state;
  state.pushString("_level1")
      .pushInt(12)
      .getProperty()
      .pushString("/")
      .add2()
      .pushString("_level1")
      .pushInt(5)
      .getProperty()
      .add2()
      .return_();

  // The real ExternalInterface and the token live only in the locals of a
  // function run once, seen by the closures made in it: the movie gets an
  // object whose call() sends the token and its arguments to the page's
  // zeptCall. Nothing on the way is looked up where the movie could put
  // something of its own (no apply, no array methods).
  Assembler setup;
  setup.pushString("ei")
      .pushString("_global")
      .getVariable()
      .pushString("flash")
      .getMember()
      .pushString("external")
      .getMember()
      .pushString("ExternalInterface")
      .getMember()
      .defineLocal();
  setup.pushString("token").pushString(token).defineLocal();
  setup.defineFunction("", {"path"}, get).addCallback("zeptGet" + id);
  setup.defineFunction("", {"path", "value"}, set).addCallback("zeptSet" + id);
  setup.defineFunction("", {}, state).addCallback("zeptState" + id);

  setup.pushString("wrapper")
      .pushInt(0)
      .pushString("Object")
      .newObject()
      .defineLocal();
  setup.pushString("wrapper")
      .getVariable()
      .pushString("available")
      .pushBool(true)
      .setMember();

  Assembler addCallback;
  addCallback.pushString("method")
      .getVariable()
      .pushString("instance")
      .getVariable()
      .pushString("name")
      .getVariable()
      .pushInt(3)
      .pushString("ei")
      .getVariable()
      .pushString("addCallback")
      .callMethod()
      .return_();
  setup.pushString("wrapper").getVariable().pushString("addCallback");
  setup.defineFunction("", {"name", "instance", "method"}, addCallback);
  setup.setMember();

  Assembler call;
  call.pushString("arguments")
      .getVariable()
      .pushString("token")
      .getVariable()
      .pushString("zeptCall")
      .pushInt(3)
      .pushString("ei")
      .getVariable()
      .pushString("call")
      .callMethod()
      .return_();
  setup.pushString("wrapper").getVariable().pushString("call");
  setup.defineFunction("", {}, call);
  setup.setMember();

  setup.pushString("_global")
      .getVariable()
      .pushString("flash")
      .getMember()
      .pushString("external")
      .getMember()
      .pushString("ExternalInterface")
      .pushString("wrapper")
      .getVariable()
      .setMember();

  Assembler a;
  a.pushInt(0).defineFunction("", {}, setup).pushUndefined().callMethod().pop();
  // loadMovieNum(url, 1)
  a.pushString(movieUrl).pushString("_level1").getUrl2(0, false, false);
  a.stop();

  swf::MovieWriter movie(stage.width, stage.height, stage.frameRate,
                         swf::Rgb{stage.red, stage.green, stage.blue});
  movie.doAction(a);
  movie.showFrame();
  return movie.bytes(false);
}

}  // namespace zept::desktop
