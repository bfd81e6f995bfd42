#include "desktop/ruffle_host.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "desktop/bridge_movie.h"
#include "desktop/json_strings.h"
#include "engine/picture.h"
#include "platform/codepage.h"
#include "platform/errors.h"

namespace zept::desktop {

namespace {

// Up to limit bytes from the start of the regular file at path; nullopt,
// with the reason in why, for anything else. Opened without waiting, so
// that a FIFO in a course folder cannot hold the program.
std::optional<std::string> ReadFilePrefix(const std::string& path,
                                          std::size_t limit, std::string& why) {
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  struct stat info;
  std::optional<std::string> bytes;
  if (::fstat(fd, &info) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    why = "not a regular file";
  } else {
    bytes.emplace(std::min<std::size_t>(limit, info.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes->size()) {
      const ssize_t n = ::read(fd, bytes->data() + got, bytes->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes->resize(got);
  }
  ::close(fd);
  return bytes;
}

// A new secret of 128 random bits, in hex.
std::string NewToken() {
  unsigned char bits[16];
  std::size_t got = 0;
  while (got < sizeof bits) {
    const ssize_t n = ::getrandom(bits + got, sizeof bits - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw EMovieError(std::string("no random bits: ") + std::strerror(errno));
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bits) {
    token += kHex[byte >> 4];
    token += kHex[byte & 0xF];
  }
  return token;
}

const char* ScaleName(int mode) {
  switch (mode) {
    case 1:
      return "noBorder";
    case 2:
      return "exactFit";
    case 3:
      return "noScale";
    default:
      return "showAll";
  }
}

// The emulator's log level: ZEPT_RUFFLE_LOG (error, warn, info, debug,
// trace) for support, errors only otherwise.
std::string LogLevel() {
  const char* level = std::getenv("ZEPT_RUFFLE_LOG");
  for (const char* known : {"warn", "info", "debug", "trace"})
    if (level && std::strcmp(level, known) == 0) return known;
  return "error";
}

// "#RRGGBB" from the shell's colour text, or "" when it is none.
std::string CssColour(const WideString& text) {
  const std::optional<std::uint32_t> argb = ParseColour(text);
  if (!argb) return "";
  char out[8];
  std::snprintf(out, sizeof out, "#%06x", *argb & 0xFFFFFF);
  return out;
}

}  // namespace

class RuffleMovieHost final : public MovieHost {
 public:
  RuffleMovieHost(RuffleHostFactory& factory, std::string id)
      : factory_(factory),
        id_(std::move(id)),
        token_(NewToken()),
        generation_(factory.page_.generation()) {
    factory_.page_.op({"create", id_, token_});
    applyLayout();
  }

  const std::string& token() const { return token_; }

  ~RuffleMovieHost() override {
    factory_.live_.erase(id_);
    if (!bridgePath_.empty()) factory_.page_.removeVirtualFile(bridgePath_);
    if (gone()) return;
    try {
      factory_.page_.op({"free", id_});
    } catch (const std::exception&) {
      // The page is gone or stuck; the player goes with it.
    }
  }

  void setMovie(const WideString& url) override {
    const std::string text = WideToUtf8(url);
    const std::size_t mark = text.find('?');
    const std::string path = text.substr(0, mark);
    picture_.reset();
    drawn_ = false;
    std::string why;
    const std::optional<std::string> head = ReadFilePrefix(path, 1 << 16, why);
    // The emulator fails on such a movie without a word.
    if (!head && factory_.report_)
      factory_.report_(Utf8ToWide(SystemErrorMessage("open movie", path, why)));
    if (head && HasPictureExtension(Utf8ToWide(path)))
      if (auto bytes = ReadFilePrefix(path, kMaxPictureFileBytes, why))
        picture_ = DecodePicture(*bytes);
    const std::string query =
        mark == std::string::npos ? "" : text.substr(mark);
    SwfStage stage;
    if (std::optional<SwfStage> read = ReadSwfStage(head.value_or("")))
      stage = *read;
    else if (Width > 0 && Height > 0)
      stage.width = Width, stage.height = Height;
    stageColour_ = (unsigned{stage.red} << 16) | (unsigned{stage.green} << 8) |
                   stage.blue;
    const std::string folder =
        std::filesystem::path(path).parent_path().string();
    if (!bridgePath_.empty()) factory_.page_.removeVirtualFile(bridgePath_);
    bridgePath_ = folder + "/.zept-bridge-" + id_ + ".swf";
    factory_.page_.setVirtualFile(
        bridgePath_,
        BuildBridgeMovie(id_, token_,
                         MoviePage::FileUrl(path) + QueryForEmulator(query),
                         stage));
    applyLayout();
    factory_.newest_ = id_;
    if (factory_.onMovieStarting) factory_.onMovieStarting();
    factory_.page_.op({"background", id_, CssColour(BGColor)});
    factory_.page_.op({"load", id_, MoviePage::FileUrl(bridgePath_),
                       config(MoviePage::FileUrl(folder) + "/")});
  }

  void SetReturnValue(const WideString& value) override {
    returnValue_ = WideToUtf8(value);
  }

  int ReadyState() override {
    try {
      return std::stoi(factory_.page_.op({"state", id_}));
    } catch (const std::exception&) {
      return 0;
    }
  }

  WideString GetVariable(const WideString& name) override {
    return Utf8ToWide(factory_.page_.op({"get", id_, WideToUtf8(name)}));
  }

  void SetVariable(const WideString& name, const WideString& value) override {
    factory_.page_.op({"set", id_, WideToUtf8(name), WideToUtf8(value)});
  }

  bool AppendEntry(const WideString& name, const WideString& entry) override {
    factory_.page_.op({"append", id_, WideToUtf8(name), WideToUtf8(entry)});
    return true;
  }

  void SetZoomRect(int left, int top, int right, int bottom) override {
    factory_.page_.op({"zoom", id_, std::to_string(left), std::to_string(top),
                       std::to_string(right), std::to_string(bottom)});
  }

  Bitmap GetFrameBitmap() override {
    const int width = std::max(Width, 1), height = std::max(Height, 1);
    // A picture is drawn as it is, stretched, without waiting on the player.
    if (picture_) return StretchBitmap(*picture_, width, height);
    waitForFirstFrames();
    std::optional<Bitmap> frame;
    try {
      const std::string url = factory_.page_.op(
          {"frame", id_, std::to_string(width), std::to_string(height)});
      const std::size_t comma = url.find(',');
      if (comma != std::string::npos) {
        gsize length = 0;
        guchar* png = g_base64_decode(url.c_str() + comma + 1, &length);
        frame =
            DecodePicture(std::string(reinterpret_cast<char*>(png), length));
        g_free(png);
      }
    } catch (const std::exception&) {
    }
    if (frame && frame->width == width && frame->height == height)
      return *frame;
    return FilledBitmap(width, height,
                        ParseColour(BGColor).value_or(0xFFFFFFFF) | 0xFF000000);
  }

  // The answer of an ExternalInterface call made by this movie.
  std::string call(const WideString& request) {
    returnValue_.clear();
    if (OnFlashCall) OnFlashCall(*this, request);
    return returnValue_;
  }

  unsigned background() const {
    if (const std::optional<std::uint32_t> argb = ParseColour(BGColor))
      return *argb & 0xFFFFFF;
    return stageColour_;
  }

  // The player went with the page that played it.
  bool gone() const {
    return factory_.page_.processEnded() ||
           generation_ != factory_.page_.generation();
  }

  void applyLayout() {
    if (gone()) return;
    if (applied_ && appliedVisible_ == Visible && appliedWidth_ == Width &&
        appliedHeight_ == Height)
      return;
    factory_.page_.op({"layout", id_, Visible ? "1" : "0",
                       std::to_string(Width), std::to_string(Height)});
    applied_ = true;
    appliedVisible_ = Visible;
    appliedWidth_ = Width;
    appliedHeight_ = Height;
  }

 private:
  // base: the URL the movie's relative URLs are resolved against, its own
  // folder as in the Flash control (the emulator would take the page's).
  std::string config(const std::string& base) const {
    std::ostringstream json;
    const std::string background = CssColour(BGColor);
    json << "{\"autoplay\":\"on\",\"unmuteOverlay\":\"hidden\","
         << "\"base\":\"" << base
         << "\","
            "\"allowScriptAccess\":true,\"polyfills\":false,"
            "\"splashScreen\":false,"
            "\"publicPath\":\"zept://z/ruffle/\","
            "\"preferredRenderer\":\"canvas\",\"letterbox\":\"off\","
            "\"warnOnUnsupportedContent\":false,\"openUrlMode\":\"deny\","
            "\"quality\":\"high\","
         << "\"logLevel\":\"" << LogLevel() << "\","
         << "\"scale\":\"" << ScaleName(ScaleMode) << "\","
         << "\"contextMenu\":\"" << (StandartMenu ? "on" : "off") << "\","
         << "\"menu\":" << (StandartMenu ? "true" : "false") << ","
         << "\"backgroundColor\":"
         << (background.empty() ? "null" : "\"" + background + "\"") << "}";
    return json.str();
  }

  // A movie just loaded has drawn nothing yet: its frame is taken once it is
  // fully loaded and has had a few frames to draw, as long as the page can
  // play meanwhile (it cannot while a movie waits in a call).
  void waitForFirstFrames() {
    if (drawn_) return;
    for (int waited = 0; waited < kFirstFrameWaitMs && factory_.page_.canPlay();
         waited += 50) {
      if (ReadyState() == 4) {
        factory_.page_.play(150);
        drawn_ = true;
        return;
      }
      factory_.page_.play(50);
    }
  }

  static constexpr int kFirstFrameWaitMs = 5000;
  static constexpr std::size_t kMaxPictureFileBytes = 64 << 20;

  RuffleHostFactory& factory_;
  std::string id_;
  std::string token_;  // what the page's messages for this movie carry
  int generation_;
  unsigned stageColour_ = 0xFFFFFF;
  std::optional<Bitmap> picture_;
  bool drawn_ = false;
  std::string bridgePath_;
  std::string returnValue_;
  bool applied_ = false;
  bool appliedVisible_ = false;
  int appliedWidth_ = 0, appliedHeight_ = 0;
};

RuffleHostFactory::RuffleHostFactory(
    MoviePage& page, std::function<void(const WideString& line)> report)
    : page_(page), report_(std::move(report)) {
  page_.onMessage = [this](const std::vector<std::string>& message) {
    return handle(message);
  };
  page_.afterMessage = [this] { syncLayout(); };
}

RuffleHostFactory::~RuffleHostFactory() {
  page_.onMessage = nullptr;
  page_.afterMessage = nullptr;
}

std::unique_ptr<MovieHost> RuffleHostFactory::create() {
  const std::string id = std::to_string(nextId_++);
  auto host = std::make_unique<RuffleMovieHost>(*this, id);
  live_[id] = host.get();
  return host;
}

void RuffleHostFactory::syncLayout() {
  if (page_.busy()) return;
  for (auto& [id, host] : live_) {
    try {
      host->applyLayout();
    } catch (const std::exception&) {
    }
  }
}

bool RuffleHostFactory::shownMovieReady() {
  for (auto& [id, host] : live_) {
    if (host->Visible && host->ReadyState() == 4) return true;
  }
  return false;
}

bool RuffleHostFactory::newestMovieReady() {
  auto it = live_.find(newest_);
  return it == live_.end() ||
         (it->second->Visible && it->second->ReadyState() == 4);
}

std::pair<int, int> RuffleHostFactory::newestMovieSize() const {
  auto it = live_.find(newest_);
  if (it == live_.end()) return {0, 0};
  return {it->second->Width, it->second->Height};
}

unsigned RuffleHostFactory::newestMovieBackground() const {
  auto it = live_.find(newest_);
  return it == live_.end() ? 0 : it->second->background();
}

std::string RuffleHostFactory::handle(const std::vector<std::string>& message) {
  // {"fscommand", n, token, command, args} or {"call", n, token, request}:
  // a message that names no live movie by its secret is nobody's.
  if (message.size() < 4) return "";
  auto it = std::find_if(live_.begin(), live_.end(), [&](const auto& entry) {
    return entry.second->token() == message[2];
  });
  if (it == live_.end()) return "";
  RuffleMovieHost& host = *it->second;
  if (message[0] == "fscommand" && message.size() >= 5) {
    if (host.OnFSCommand)
      host.OnFSCommand(host, Utf8ToWide(message[3]), Utf8ToWide(message[4]));
    return "";
  }
  if (message[0] == "call") return host.call(Utf8ToWide(message[3]));
  return "";
}

}  // namespace zept::desktop
