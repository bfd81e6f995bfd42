#include "democourse/ui.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "swf/script.h"

namespace zept::democourse {

namespace {

constexpr double kFrameRate = 24;

// A text field is about this much taller than its font: the player's
// gutters and the line's descent.
int LineHeight(int size) { return size + size / 2 + 4; }

}  // namespace

std::string AsString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

MovieBuilder::MovieBuilder(int width, int height, Rgb background)
    : width_(width),
      height_(height),
      movie_(width, height, kFrameRate, background),
      plain_(movie_.defineDeviceFont("_sans")),
      bold_(movie_.defineDeviceFont("_sans", true)) {}

Screen& MovieBuilder::screen(const std::string& name) {
  for (const auto& s : screens_)
    if (s->name() == name) throw std::invalid_argument("two screens " + name);
  screens_.push_back(std::unique_ptr<Screen>(new Screen(name)));
  return *screens_.back();
}

void MovieBuilder::place(Screen* on, std::uint16_t character, int x, int y,
                         const std::string& name) {
  if (on)
    on->timeline_.placeObject(character, ++on->depth_, x, y, name);
  else
    movie_.placeObject(character, ++stageDepth_, x, y, name);
}

void MovieBuilder::panel(Screen* on, Rect r, Rgb fill,
                         std::optional<Rgb> line) {
  place(on, movie_.defineRectangle(r, fill, line), 0, 0, {});
}

void MovieBuilder::label(Screen* on, Rect r, const std::string& text,
                         const TextStyle& style, const std::string& name) {
  swf::MovieWriter::TextOptions options;
  options.multiline = options.wordWrap = style.wrap;
  options.align = style.align;
  const std::uint16_t id =
      movie_.defineEditText({0, 0, r.width, r.height}, font(style.bold),
                            style.size, style.color, text, {}, options);
  place(on, id, r.x, r.y, name);
}

void MovieBuilder::frame(swf::Timeline& on, std::uint16_t& depth, Rect r,
                         Rgb fill, Rgb line, int width) {
  if (width <= 1) {
    on.placeObject(movie_.defineRectangle(r, fill, line), ++depth);
    return;
  }
  // A shape's line is one pixel: a wider one is the line's colour showing
  // round a smaller fill.
  on.placeObject(movie_.defineRectangle(r, line), ++depth);
  on.placeObject(
      movie_.defineRectangle(
          {r.x + width, r.y + width, r.width - 2 * width, r.height - 2 * width},
          fill),
      ++depth);
}

swf::Timeline MovieBuilder::buttonClip(Rect r, const std::string& caption,
                                       const ButtonStyle& style,
                                       int captionAlign) {
  // The box, the box when the pointer is over it, and the caption on top
  // at depth 100, above whatever the caller adds between them.
  swf::Timeline clip;
  const Rect box{0, 0, r.width, r.height};
  clip.placeObject(movie_.defineRectangle(box, style.fill, style.line), 1);
  // Shapes have no object of their own in the script; the lit box is a
  // clip so that it can be shown and hidden.
  swf::Timeline lit;
  lit.placeObject(movie_.defineRectangle(box, style.hover, style.line), 1);
  lit.showFrame();
  clip.placeObject(movie_.defineSprite(lit), 2, 0, 0, "hover");
  const int textHeight = LineHeight(style.textSize);
  // Left-aligned captions keep clear of the box's edge.
  const int inset = captionAlign == 0 ? 16 : 4;
  swf::MovieWriter::TextOptions options;
  options.align = captionAlign;
  clip.placeObject(
      movie_.defineEditText({0, 0, r.width - 2 * inset, textHeight}, bold_,
                            style.textSize, style.text, caption, {}, options),
      100, inset, (r.height - textHeight) / 2, "caption");
  return clip;
}

void MovieBuilder::button(Screen* on, const std::string& name, Rect r,
                          const std::string& caption, const std::string& action,
                          const ButtonStyle& style) {
  if (name.empty()) throw std::invalid_argument("a button needs a name");
  swf::Timeline clip = buttonClip(r, caption, style, 2);
  clip.showFrame();
  place(on, movie_.defineSprite(clip), r.x, r.y, name);
  const std::string path = on ? on->name() + "." + name : name;
  wiring_ += "makeButton(" + path + ", function () {\n" + action + "\n});\n";
}

void MovieBuilder::choice(Screen* on, const std::string& name, Rect r,
                          const std::string& caption, const std::string& action,
                          const ChoiceStyle& style) {
  if (name.empty()) throw std::invalid_argument("a choice needs a name");
  swf::Timeline clip = buttonClip(r, caption, style.button, 0);
  const Rect box{0, 0, r.width, r.height};
  const int markSize = 15, markWidth = 180;
  const int markHeight = LineHeight(markSize);
  std::uint16_t depth = 2;
  for (const auto& [state, fill, line] :
       {std::tuple{"right", style.rightFill, style.rightLine},
        std::tuple{"wrong", style.wrongFill, style.wrongLine}}) {
    swf::Timeline marked;
    std::uint16_t inner = 0;
    frame(marked, inner, box, fill, line, 2);
    swf::MovieWriter::TextOptions options;
    options.align = 1;
    marked.placeObject(
        movie_.defineEditText({0, 0, markWidth, markHeight}, bold_, markSize,
                              line, {}, {}, options),
        ++inner, r.width - 16 - markWidth, (r.height - markHeight) / 2,
        "label");
    marked.showFrame();
    clip.placeObject(movie_.defineSprite(marked), ++depth, 0, 0, state);
  }
  clip.showFrame();
  place(on, movie_.defineSprite(clip), r.x, r.y, name);
  const std::string path = on ? on->name() + "." + name : name;
  wiring_ += "makeChoice(" + path + ", function () {\n" + action + "\n});\n";
}

void MovieBuilder::input(Screen* on, const std::string& name, Rect r,
                         bool password, const InputStyle& style) {
  if (name.empty()) throw std::invalid_argument("an input needs a name");
  // The box, and over it the frame that tells where the keys go: a halo
  // round the box and a stronger line.
  swf::Timeline box;
  std::uint16_t depth = 0;
  const Rect whole{0, 0, r.width, r.height};
  frame(box, depth, whole, style.fill, style.line, 1);
  swf::Timeline focus;
  std::uint16_t inner = 0;
  constexpr int kHalo = 3;
  focus.placeObject(movie_.defineRectangle({-kHalo, -kHalo, r.width + 2 * kHalo,
                                            r.height + 2 * kHalo},
                                           style.focusHalo),
                    ++inner);
  frame(focus, inner, whole, style.fill, style.focusLine, 2);
  focus.showFrame();
  box.placeObject(movie_.defineSprite(focus), ++depth, 0, 0, "focus");
  box.showFrame();
  place(on, movie_.defineSprite(box), r.x, r.y, name + "Box");

  // The field itself, borderless, inset from the box's edges.
  swf::MovieWriter::TextOptions options;
  options.readOnly = false;
  options.selectable = true;
  options.password = password;
  const int size = 18, padding = 10;
  const int height = std::min(LineHeight(size), r.height);
  const std::uint16_t id =
      movie_.defineEditText({0, 0, r.width - 2 * padding, height}, plain_, size,
                            style.text, {}, {}, options);
  place(on, id, r.x + padding, r.y + (r.height - height) / 2, name);
  const std::string screen = on ? on->name() + "." : "";
  wiring_ += "makeInput(" + screen + name + ", " + screen + name + "Box);\n";
}

void MovieBuilder::script(const std::string& name, const std::string& source) {
  scripts_.emplace_back(name, source);
}

std::string MovieBuilder::bytes() {
  std::string screens;
  for (const auto& s : screens_) {
    s->timeline_.showFrame();
    place(nullptr, movie_.defineSprite(s->timeline_), 0, 0, s->name());
    screens += (screens.empty() ? "" : ", ") + s->name();
  }
  scripts_.emplace(
      scripts_.begin(),
      "the wiring of " + std::to_string(screens_.size()) + " screens",
      "var screens = [" + screens + "];\nhideScreens();\n" + wiring_);
  // One program, so that every function is known everywhere; an error is
  // told by the piece and the line in it.
  std::string source;
  std::vector<int> firstLines;
  int lines = 0;
  for (const auto& [name, text] : scripts_) {
    firstLines.push_back(lines + 1);
    source += text + "\n";
    lines += static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  }
  swf::Assembler code;
  try {
    code = swf::CompileScript(source);
  } catch (const swf::ScriptError& e) {
    const std::string what = e.what();
    const int line = std::stoi(what.substr(5));
    std::size_t piece = 0;
    while (piece + 1 < firstLines.size() && firstLines[piece + 1] <= line)
      ++piece;
    throw swf::ScriptError(scripts_[piece].first + ": line " +
                           std::to_string(line - firstLines[piece] + 1) +
                           what.substr(what.find(':')));
  }
  code.stop();
  movie_.doAction(code);
  movie_.showFrame();
  return movie_.bytes(true);
}

}  // namespace zept::democourse
