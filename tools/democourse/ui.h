#pragma once
// Building blocks of the demo course's movies: screens holding labels,
// buttons, text inputs and panels, laid out in pixels, with the behaviour
// written in ActionScript (see swf/script.h) and compiled into the movie's
// one frame.
//
// A movie is one frame. Every screen is a movie clip on the stage, named
// after the screen and hidden until the script shows it (showScreen in
// ui.as); objects placed on the stage itself are seen behind every screen.
// A named object on a screen is reached as screen.name in the script; one
// on the stage by its name alone, which must not be the name of a function
// or variable of the script (the variable would hide the object).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "swf/swf.h"

namespace zept::democourse {

using swf::Rect;
using swf::Rgb;

struct TextStyle {
  int size = 16;  // pixels
  Rgb color{0x22, 0x22, 0x22};
  bool bold = false;
  int align = 0;      // 0 left, 1 right, 2 center
  bool wrap = false;  // several lines, wrapped at the field's width
};

struct ButtonStyle {
  Rgb fill, hover, text, line;
  int textSize = 16;
};

// A quiz answer: a button whose box turns to "right" or "wrong" once the
// question is answered, with a word of its own on the right (the script
// sets it).
struct ChoiceStyle {
  ButtonStyle button;
  Rgb rightFill, rightLine, wrongFill, wrongLine;
};

struct InputStyle {
  Rgb fill, line, text;
  Rgb focusLine, focusHalo;  // the frame shown while the field has the keys
};

class Screen {
 public:
  const std::string& name() const { return name_; }

 private:
  friend class MovieBuilder;
  explicit Screen(std::string name) : name_(std::move(name)) {}
  std::string name_;
  swf::Timeline timeline_;
  std::uint16_t depth_ = 0;
};

class MovieBuilder {
 public:
  // The stage; fonts are the player's "_sans", plain and bold.
  MovieBuilder(int width, int height, Rgb background);

  // nullptr as screen places on the stage, behind every screen.
  Screen& screen(const std::string& name);

  void panel(Screen* on, Rect r, Rgb fill, std::optional<Rgb> line = {});
  // Read-only text, one line unless the style wraps. A named label's text
  // can be changed by the script (screen.name.text).
  void label(Screen* on, Rect r, const std::string& text,
             const TextStyle& style, const std::string& name = {});
  // A clickable box with a caption (screen.name.caption.text) that runs
  // the action, a piece of script, when clicked.
  void button(Screen* on, const std::string& name, Rect r,
              const std::string& caption, const std::string& action,
              const ButtonStyle& style);
  // An answer of a quiz (see ChoiceStyle): a button whose clips
  // screen.name.right and screen.name.wrong, hidden at first, each hold a
  // label (.label) at the right end of the box.
  void choice(Screen* on, const std::string& name, Rect r,
              const std::string& caption, const std::string& action,
              const ChoiceStyle& style);
  // A text field the learner types in (screen.name.text), borderless and
  // inset in a box (screen.nameBox) whose frame (nameBox.focus) the script
  // shows while the field has the keyboard.
  void input(Screen* on, const std::string& name, Rect r, bool password,
             const InputStyle& style);

  // Script run once when the movie starts, after the objects exist. The
  // pieces are compiled together, in the order given, after the wiring of
  // the screens and buttons, so functions may be used before their text.
  // The name is where the piece comes from, for compile errors.
  void script(const std::string& name, const std::string& source);

  // The finished movie (compressed). The builder is spent afterwards.
  std::string bytes();

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  void place(Screen* on, std::uint16_t character, int x, int y,
             const std::string& name);
  std::uint16_t font(bool bold) const { return bold ? bold_ : plain_; }
  // The box, the lit box and the caption of a button, in a clip of its own.
  swf::Timeline buttonClip(Rect r, const std::string& caption,
                           const ButtonStyle& style, int captionAlign);
  // A filled rectangle with a border `width` pixels wide.
  void frame(swf::Timeline& on, std::uint16_t& depth, Rect r, Rgb fill,
             Rgb line, int width);

  int width_, height_;
  swf::MovieWriter movie_;
  std::uint16_t plain_, bold_;
  std::uint16_t stageDepth_ = 0;
  std::vector<std::unique_ptr<Screen>> screens_;
  std::string wiring_;
  std::vector<std::pair<std::string, std::string>> scripts_;
};

// Quotes text as an ActionScript string literal.
std::string AsString(const std::string& text);

}  // namespace zept::democourse
