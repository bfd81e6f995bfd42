#include "engine/bidi.h"

#include <fribidi.h>

namespace zept {
namespace {

// Marks and joiners that steer ordering or joining but have no glyph.
bool DrawsNothing(char32_t c) {
  return c == 0x061C || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         c == 0xFEFF;
}

// A text's bidi analysis and its shaped characters, one per character.
struct Analysis {
  std::vector<FriBidiChar> chars;
  std::vector<FriBidiCharType> types;
  std::vector<FriBidiLevel> levels;
  std::vector<FriBidiChar> shaped;  // FRIBIDI_CHAR_FILL where ligated away
  FriBidiParType base = FRIBIDI_PAR_ON;
};

Analysis Analyse(std::u32string_view text) {
  Analysis a;
  const auto n = static_cast<FriBidiStrIndex>(text.size());
  a.chars.assign(text.begin(), text.end());
  a.types.resize(text.size());
  a.levels.assign(text.size(), 0);
  fribidi_get_bidi_types(a.chars.data(), n, a.types.data());
  std::vector<FriBidiBracketType> brackets(text.size());
  fribidi_get_bracket_types(a.chars.data(), n, a.types.data(), brackets.data());
  if (!fribidi_get_par_embedding_levels_ex(a.types.data(), brackets.data(), n,
                                           &a.base, a.levels.data())) {
    // Out of memory in fribidi: the text stays left to right, unjoined.
    a.base = FRIBIDI_PAR_LTR;
    a.levels.assign(text.size(), 0);
    a.shaped = a.chars;
    return a;
  }
  std::vector<FriBidiArabicProp> joining(text.size());
  fribidi_get_joining_types(a.chars.data(), n, joining.data());
  fribidi_join_arabic(a.types.data(), n, a.levels.data(), joining.data());
  a.shaped = a.chars;
  fribidi_shape(FRIBIDI_FLAGS_DEFAULT | FRIBIDI_FLAGS_ARABIC, a.levels.data(),
                n, joining.data(), a.shaped.data());
  return a;
}

bool LigatedAway(const Analysis& a, std::size_t i) {
  return a.shaped[i] == FRIBIDI_CHAR_FILL && a.chars[i] != FRIBIDI_CHAR_FILL;
}

// Only text with a right-to-left or Arabic character needs fribidi.
bool NeedsShaping(std::u32string_view text) {
  for (char32_t c : text) {
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) ||
        (c >= 0xFE70 && c <= 0xFEFC) || (c >= 0x10800 && c <= 0x10FFF) ||
        (c >= 0x1E800 && c <= 0x1EFFF) || c == 0x200F || c == 0x202B ||
        c == 0x202E || c == 0x2067)
      return true;
  }
  return false;
}

}  // namespace

std::vector<DrawnChar> VisualLine(std::u32string_view line) {
  std::vector<DrawnChar> drawn;
  drawn.reserve(line.size());
  if (!NeedsShaping(line)) {
    for (char32_t c : line)
      if (!DrawsNothing(c)) drawn.push_back({c, std::u32string(1, c)});
    return drawn;
  }
  Analysis a = Analyse(line);
  // What each drawn character stands for: a ligature carries the letters
  // ligated into it, which come before it in reading order.
  std::vector<std::u32string> texts(line.size());
  std::u32string pending;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (LigatedAway(a, i)) {
      pending += line[i];
    } else if (!DrawsNothing(line[i])) {
      texts[i] = pending + line[i];
      pending.clear();
    }
  }
  std::vector<FriBidiStrIndex> map(line.size());
  for (std::size_t i = 0; i < map.size(); ++i)
    map[i] = static_cast<FriBidiStrIndex>(i);
  std::vector<FriBidiChar> visual = a.shaped;
  // Marks stay before their letters in drawing order, where a zero-width
  // mark lands over the glyph that follows it.
  if (!fribidi_reorder_line(
          0, a.types.data(), static_cast<FriBidiStrIndex>(line.size()), 0,
          a.base, a.levels.data(), visual.data(), map.data())) {
    for (std::size_t i = 0; i < map.size(); ++i) {
      map[i] = static_cast<FriBidiStrIndex>(i);
      visual[i] = a.shaped[i];
    }
  }
  for (std::size_t v = 0; v < visual.size(); ++v) {
    const auto i = static_cast<std::size_t>(map[v]);
    if (texts[i].empty()) continue;
    drawn.push_back({static_cast<char32_t>(visual[v]), std::move(texts[i])});
  }
  return drawn;
}

std::u32string DrawnForms(std::u32string_view text) {
  std::u32string forms(text);
  if (NeedsShaping(text)) {
    const Analysis a = Analyse(text);
    for (std::size_t i = 0; i < forms.size(); ++i)
      forms[i] = LigatedAway(a, i) ? 0 : static_cast<char32_t>(a.shaped[i]);
  }
  for (std::size_t i = 0; i < forms.size(); ++i)
    if (DrawsNothing(text[i])) forms[i] = 0;
  return forms;
}

}  // namespace zept
