// Writes the smallest movie that shows which button a click reaches when a
// button lies hidden over another: the content of a scroll box reaches
// below the box, where the box clips it away, and a Submit button sits
// there, under it in depth. On the left the box clips with scrollRect, on
// the right with a mask (setMask). Each button sends fscommand with its
// name, which zept_bare_page prints:
//
//   zept_hidden_buttons_movie OUT.swf
//   zept_bare_page build/ruffle OUT.swf 400 300   (then click the Submits)
//
// The Flash Player sends "submit-scrollrect" and "submit-mask"; a click
// that reaches a hidden row sends "hidden-scrollrect" or "hidden-mask".

#include <cstdio>
#include <fstream>
#include <string>

#include "swf/script.h"
#include "swf/swf.h"

using zept::swf::CompileScript;
using zept::swf::MovieWriter;
using zept::swf::Rect;
using zept::swf::Rgb;
using zept::swf::Timeline;

namespace {

// A button of one rectangle that sends its name.
std::uint16_t Button(MovieWriter& movie, Rect r, Rgb color,
                     const std::string& name) {
  const std::uint16_t shape = movie.defineRectangle(r, color, Rgb{0, 0, 0});
  return movie.defineButton(
      shape, shape, shape, shape,
      CompileScript("fscommand(\"" + name +
                    "\", \"\"); flash.external.ExternalInterface.call("
                    "\"clicked\", \"" +
                    name + "\");"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.swf\n", argv[0]);
    return 2;
  }
  MovieWriter movie(400, 300, 24, {255, 255, 255});
  // Submit buttons at y 200..240, under the boxes in depth.
  movie.placeObject(
      Button(movie, {20, 200, 160, 40}, {0, 120, 255}, "submit-scrollrect"), 1);
  movie.placeObject(
      Button(movie, {220, 200, 160, 40}, {0, 120, 255}, "submit-mask"), 2);
  // Each box: a visible row at the top, a row at y 190..250 that the box
  // (150 pixels high) hides.
  for (const std::string kind : {"scrollrect", "mask"}) {
    const int x = kind == "mask" ? 200 : 0;
    Timeline rows;
    rows.placeObject(
        Button(movie, {20, 20, 160, 40}, {120, 200, 120}, "row-" + kind), 1);
    rows.placeObject(
        Button(movie, {10, 190, 180, 60}, {255, 80, 80}, "hidden-" + kind), 2);
    rows.showFrame();
    movie.placeObject(movie.defineSprite(rows), kind == "mask" ? 4 : 3, x, 0,
                      "box_" + kind);
  }
  Timeline clip;
  clip.placeObject(movie.defineRectangle({0, 0, 200, 150}, {0, 0, 0}), 1);
  clip.showFrame();
  movie.placeObject(movie.defineSprite(clip), 5, 200, 0, "clip_mask");
  movie.doAction(CompileScript(R"(
box_scrollrect.scrollRect = new flash.geom.Rectangle(0, 0, 200, 150);
box_mask.setMask(clip_mask);
)"));
  movie.showFrame();
  std::ofstream(argv[1], std::ios::binary) << movie.bytes(true);
  return 0;
}
