#pragma once
// The PDF writer's fonts beyond WinAnsi Helvetica: TrueType files embedded
// through libharu, for the characters Helvetica cannot draw. For the PDF
// writer only (src/engine/pdf.cpp).

#include <hpdf.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zept {

// The first error libharu reported to a document's error handler.
struct HaruError {
  HPDF_STATUS code = HPDF_OK;
  HPDF_STATUS detail = 0;
};

[[noreturn]] void ThrowHaruError(HPDF_STATUS code, HPDF_STATUS detail);

// The TrueType fonts behind WinAnsi Helvetica, loaded when a character
// first needs one, and made a font of the document when first drawn. Each
// is a Type0 font whose codes are the characters (libharu's UTF-8
// encoder); the glyphs drawn are the only ones embedded, and the font's
// widths, code-to-glyph map and text map are cut down to the codes used
// before the document is written.
class TextFonts {
 public:
  static constexpr int kHelvetica = -1;  // drawn in the Helvetica of the text
  static constexpr int kMissing = -2;    // no font has it: Helvetica's "?"

  // files in the order they are tried; notes gets what went wrong.
  TextFonts(HPDF_Doc doc, HaruError& error,
            const std::vector<std::string>& files,
            std::vector<std::string>& notes);

  // The font of each code: a word (the codes between blanks) that WinAnsi
  // holds stays in Helvetica; any other is drawn whole in the first font
  // that has all of it, so its letters match; failing that, each character
  // in the first font that has it. A 0 draws nothing and takes no part.
  std::vector<int> choose(std::u32string_view codes);
  // A code's width in font k (a font choose gave), thousandths of the font
  // size; the glyph is marked for embedding.
  std::uint32_t units(int k, char32_t code);
  // The document's font for font k, made when first drawn.
  HPDF_Font font(int k);
  // A code drawn in font k, standing for text.
  void use(int k, char32_t code, const std::u32string& text);
  // A character drawn as "?".
  void missing(char32_t code) { missing_.insert(code); }
  // Before the document is written: each font's tables cut to the codes
  // drawn, and a note of what no font had.
  void finish();

 private:
  struct Face {
    std::string file;
    bool tried = false, absent = false;
    HPDF_FontDef def = nullptr;
    const char* name = nullptr;
    HPDF_Font font = nullptr;
    std::map<std::uint16_t, std::u32string> used;
  };

  int fontOf(char32_t code);
  bool has(int k, char32_t code);
  // A font that cannot be read is left out with a note; the document goes
  // on without it.
  bool load(Face& face);
  void finishFont(Face& face);

  HPDF_Doc doc_;
  HaruError& error_;
  std::vector<std::string>& notes_;
  std::vector<Face> faces_;
  bool utf8Encoder_ = false;
  std::set<char32_t> missing_;
};

}  // namespace zept
