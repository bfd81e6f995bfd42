#pragma once
// A small writer of SWF movies for AVM1 (ActionScript 1 and 2): solid
// rectangles, device-font text fields, buttons, sprites and actions.
//
// Sizes and positions are in pixels and written in twips (a twentieth of a
// pixel). Strings are UTF-8 and may not hold a NUL byte. The output depends
// only on the calls made, so a movie built twice is the same bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "swf/avm1.h"

namespace zept::swf {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The control tags of a timeline: the main movie's or a sprite's.
class Timeline {
 public:
  // PlaceObject2 of a new character at a free depth, moved by (x, y).
  void placeObject(std::uint16_t characterId, std::uint16_t depth, int x = 0,
                   int y = 0, std::string_view instanceName = {});
  void removeObject(std::uint16_t depth);  // RemoveObject2
  void frameLabel(std::string_view name);
  void doAction(const Assembler& actions);
  void showFrame();
  int frameCount() const { return frames_; }

 protected:
  friend class MovieWriter;
  void tag(std::uint16_t code, const std::vector<std::uint8_t>& body);
  std::vector<std::uint8_t> tags_;
  int frames_ = 0;
};

class MovieWriter : public Timeline {
 public:
  static constexpr std::uint8_t kDefaultVersion = 8;

  // Writes FileAttributes (version 8 and later) and SetBackgroundColor.
  // A frame rate outside 0 .. 255.99 throws std::invalid_argument.
  MovieWriter(std::uint8_t version, int widthPx, int heightPx, double frameRate,
              Rgb background);
  MovieWriter(int widthPx, int heightPx, double frameRate, Rgb background)
      : MovieWriter(kDefaultVersion, widthPx, heightPx, frameRate, background) {
  }

  // Each define call writes its tag and returns the new character's id;
  // ids count from 1, and more than 65535 characters throw.

  // DefineShape: the rectangle filled, with a one-pixel line around it when
  // a line colour is given. The shape's coordinates are the rectangle's.
  std::uint16_t defineRectangle(Rect r, Rgb fill, std::optional<Rgb> line = {});
  // DefineFont2 without glyphs: the player's font of that name ("_sans",
  // "_serif", "_typewriter" or an installed family).
  std::uint16_t defineDeviceFont(std::string_view name, bool bold = false,
                                 bool italic = false);

  struct TextOptions {
    bool readOnly = true, multiline = false, wordWrap = false, border = false,
         password = false, selectable = false, html = false;
    int align = 0;  // 0 left, 1 right, 2 center, 3 justify
  };
  // DefineEditText with the bounds in the character's coordinates. An
  // empty variable name binds no variable; empty text writes none.
  std::uint16_t defineEditText(Rect bounds, std::uint16_t fontId,
                               int fontHeightPx, Rgb color,
                               std::string_view initialText,
                               std::string_view variableName,
                               const TextOptions& options);
  std::uint16_t defineEditText(Rect bounds, std::uint16_t fontId,
                               int fontHeightPx, Rgb color,
                               std::string_view initialText,
                               std::string_view variableName) {
    return defineEditText(bounds, fontId, fontHeightPx, color, initialText,
                          variableName, TextOptions{});
  }

  // DefineButton2 with one character per state; onRelease runs on
  // OverDownToOverUp, the release of a click on the button.
  std::uint16_t defineButton(std::uint16_t upShape, std::uint16_t overShape,
                             std::uint16_t downShape, std::uint16_t hitShape,
                             const Assembler& onRelease);

  // DefineSprite: a movie clip playing the frames of the given timeline.
  std::uint16_t defineSprite(const Timeline& frames);

  // DoInitAction: actions run once, before the sprite's first use.
  void doInitAction(std::uint16_t spriteId, const Assembler& actions);

  // The file: "FWS", or "CWS" with the body after the 8-byte header
  // deflated by zlib. The End tag is added; FileLength is the length
  // uncompressed and the frame count that of showFrame.
  std::string bytes(bool compressed) const;

 private:
  std::uint16_t nextId();

  std::uint8_t version_;
  int width_, height_;
  std::uint16_t frameRate_;  // 8.8 fixed point
  int lastId_ = 0;
};

}  // namespace zept::swf
