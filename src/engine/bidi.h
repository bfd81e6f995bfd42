#pragma once
// Right-to-left text for the PDF writer, on fribidi: where a line's
// characters stand from left to right, and the joined forms Arabic letters
// take. A PDF holds glyphs in the order they are drawn; readers put
// right-to-left runs back in reading order from their positions.

#include <string>
#include <string_view>
#include <vector>

namespace zept {

// One glyph as drawn.
struct DrawnChar {
  char32_t code;        // the character, or the form it is drawn with
  std::u32string text;  // the characters it stands for, in reading order
};

// A line's glyphs from left to right: runs of right-to-left text reversed
// (the line takes the direction of its first strong character), brackets
// in them mirrored, Arabic letters in their joined presentation forms and
// lam-alef as one ligature. Bidi controls and joiners draw nothing.
std::vector<DrawnChar> VisualLine(std::u32string_view line);

// The code each character of a text is drawn with, in the text's own
// order: its joined form, or 0 for one that draws nothing itself (a bidi
// control, or a letter ligated into the character after it).
std::u32string DrawnForms(std::u32string_view text);

}  // namespace zept
