#include "moviehost/headless.h"

#include <algorithm>
#include <map>

#include "engine/picture.h"
#include "platform/codepage.h"
#include "util/arraylib.h"
#include "util/file_io.h"
#include "util/textlib.h"
#include "util/xml.h"

namespace zept {

class HeadlessMovieHost final : public MovieHost {
 public:
  explicit HeadlessMovieHost(HeadlessHostFactory& factory) : factory_(factory) {
    factory_.live_.push_back(this);
  }
  ~HeadlessMovieHost() override {
    auto& live = factory_.live_;
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
  }

  void setMovie(const WideString& url) override {
    env().print(u"movie: " + url);
    const std::size_t q = url.find(u'?');
    const WideString path = url.substr(0, q);
    variables_.clear();
    if (q != WideString::npos) {
      for (const WideString& item : Explode(url.substr(q + 1), u"&")) {
        const std::size_t eq = item.find(u'=');
        if (eq == WideString::npos) continue;
        variables_[item.substr(0, eq)] = item.substr(eq + 1);
      }
    }
    frames_.clear();
    script_.reset();
    picture_.reset();
    picturePath_.clear();
    pictureRead_ = false;
    frame_.reset();
    loadedTurn_ = factory_.turn_;
    platform::FileSystem& fs = env().ctx.platform.files;
    readyState_ = fs.fileExists(path) ? 4 : 0;
    // A picture is decoded when its frame is first asked for.
    if (HasPictureExtension(path)) picturePath_ = path;
    const WideString scriptPath = path + u".movie.xml";
    std::optional<std::string> bytes;
    try {
      bytes = fs.readFile(scriptPath);
    } catch (const std::exception&) {
    }
    if (!bytes) return;
    script_ = XmlDocument::ParseDeclared(*bytes);
    XmlNode root = script_->root();
    if (!root || root.name() != "movie") {
      WriteTrace(env().ctx, u"TFlashPlayerControl", u"setMovie",
                 u"movie script is not well-formed XML: " + scriptPath, 1,
                 u"Error");
      script_.reset();
      return;
    }
    if (auto state = StrToInt(root.attribute("readystate", u"4")))
      readyState_ = *state;
    const WideString frame = root.attribute("frame");
    if (!frame.empty())
      frame_ = readPicture(ExtractFilePath(scriptPath) + frame);
    frames_.push_back(Frame{root.childNodes(), 0});
  }

  void SetReturnValue(const WideString& value) override {
    returnValue_ = value;
  }
  int ReadyState() override { return readyState_; }
  WideString GetVariable(const WideString& name) override {
    auto it = variables_.find(name);
    return it == variables_.end() ? u"" : it->second;
  }
  void SetVariable(const WideString& name, const WideString& value) override {
    variables_[name] = value;
  }
  void SetZoomRect(int, int, int, int) override {}
  // The script's frame image, else the picture the movie is, stretched to
  // the client size; else the background colour (white when none is set).
  Bitmap GetFrameBitmap() override {
    if (frame_) return StretchBitmap(*frame_, Width, Height);
    if (!picturePath_.empty() && !pictureRead_) {
      picture_ = readPicture(picturePath_);
      pictureRead_ = true;
    }
    if (picture_) return StretchBitmap(*picture_, Width, Height);
    return FilledBitmap(Width, Height, background());
  }
  WideString PlainPicture() const override {
    if (frame_ || picturePath_.empty() || background() != 0xFFFFFFFFu)
      return u"";
    return picturePath_;
  }

  // Runs one step when the script can go on; false otherwise.
  bool step() {
    if (loadedTurn_ >= factory_.turn_)
      return false;  // starts the turn after loading
    while (!frames_.empty() &&
           frames_.back().next >= frames_.back().steps.size()) {
      frames_.pop_back();
    }
    if (frames_.empty()) return false;
    Frame& frame = frames_.back();
    XmlNode node = frame.steps[frame.next];
    const std::string name = node.name();
    if (name == "wait") {
      if (!queueHolds(node.attribute("event"))) return false;
      ++frame.next;
      return true;
    }
    ++frame.next;
    run(node, name);
    return true;
  }

 private:
  struct Frame {
    std::vector<XmlNode> steps;
    std::size_t next;
  };

  HeadlessHostFactory::Environment& env() { return factory_.env_; }
  std::uint32_t background() const {
    return ParseColour(BGColor).value_or(0xFFFFFFFFu);
  }

  std::optional<Bitmap> readPicture(const WideString& path) {
    try {
      if (std::optional<std::string> bytes =
              env().ctx.platform.files.readFile(path)) {
        return DecodePicture(*bytes);
      }
    } catch (const std::exception&) {
    }
    return std::nullopt;
  }

  bool queueHolds(const WideString& event) {
    for (const WideString& entry :
         Explode(GetVariable(u"API._sCommand"), u"|")) {
      if (entry.substr(0, entry.find(u';')) == event) return true;
    }
    return false;
  }

  void call(const WideString& request) {
    returnValue_.clear();
    if (OnFlashCall) OnFlashCall(*this, request);
    env().print(u"return: " + returnValue_);
  }

  void run(XmlNode node, const std::string& name) {
    if (name == "fscommand") {
      if (OnFSCommand)
        OnFSCommand(*this, node.attribute("command"), node.text());
    } else if (name == "flashcall") {
      call(node.text());
    } else if (name == "externalcall") {
      Utf8String request = "<invoke name=\"";
      AppendXmlAttributeValue(request, node.attribute("name"));
      request += "\" returntype=\"xml\"><arguments>";
      for (XmlNode arg : node.children("arg")) {
        request += "<string>";
        AppendXmlAttributeValue(request, arg.text());
        request += "</string>";
      }
      request += "</arguments></invoke>";
      call(Utf8ToWide(request));
    } else if (name == "print") {
      const WideString variable = node.attribute("variable");
      env().print(variable + u" = " + GetVariable(variable));
    } else if (name == "set") {
      variables_[node.attribute("variable")] = node.text();
    } else if (name == "dialog") {
      platform::DialogAnswer answer;
      answer.ok = node.attribute("answer") == u"ok";
      // A real dialog answers with a native path; so does this one, even
      // for a script written with "\".
      if (answer.ok) {
        answer.file = env().ctx.platform.files.nativePath(
            env().programFolder + node.attribute("file"));
      }
      env().dialogs.queue(answer);
    } else if (name == "window") {
      env().print(DescribeWindow(env().window.state()));
    } else if (name == "log") {
      env().print(node.text());
    } else if (name == "if" || name == "unless") {
      const bool equal =
          GetVariable(node.attribute("variable")) == node.attribute("equals");
      if (equal == (name == "if"))
        frames_.push_back(Frame{node.childNodes(), 0});
    }
  }

  HeadlessHostFactory& factory_;
  std::unique_ptr<XmlDocument> script_;
  WideString picturePath_;
  bool pictureRead_ = false;
  std::optional<Bitmap> picture_;
  std::optional<Bitmap> frame_;
  std::vector<Frame> frames_;
  std::map<WideString, WideString> variables_;
  WideString returnValue_;
  int readyState_ = 0;
  std::int64_t loadedTurn_ = 0;
};

std::unique_ptr<MovieHost> HeadlessHostFactory::create() {
  return std::make_unique<HeadlessMovieHost>(*this);
}

bool HeadlessHostFactory::runTurn() {
  ++turn_;
  bool progressed = false;
  const std::vector<HeadlessMovieHost*> snapshot = live_;
  for (HeadlessMovieHost* host : snapshot) {
    // A step may free a movie that comes later in the turn.
    if (std::find(live_.begin(), live_.end(), host) == live_.end()) continue;
    if (host->step()) progressed = true;
  }
  return progressed;
}

void RunHeadless(HeadlessHostFactory& movies, platform::VirtualTimers& timers,
                 const platform::Window& window,
                 const std::function<void(const WideString&)>& print) {
  while (!window.state().closed) {
    if (movies.runTurn()) continue;
    if (timers.fireEarliest()) continue;
    print(u"idle");
    return;
  }
}

WideString DescribeWindow(const platform::WindowState& s) {
  return u"window: " + IntToStr(s.left) + u" " + IntToStr(s.top) + u" " +
         IntToStr(s.width) + u" " + IntToStr(s.height) + u" border=" +
         (s.sizeable ? u"sizeable" : u"none") + u" topmost=" +
         (s.topMost ? u"1" : u"0") + u" debug=" + (s.debugPanel ? u"1" : u"0") +
         u" caption=" + s.caption;
}

}  // namespace zept
