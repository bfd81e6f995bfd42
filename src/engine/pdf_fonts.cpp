#include "engine/pdf_fonts.h"

#include <hpdf_font.h>
#include <hpdf_fontdef.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace zept {
namespace {

// Why a font file is no TrueType font libharu can embed: "" when it is
// one, nullopt when there is no such file to read. libharu reads a table
// directory it is given without checking it, and a file that is no font
// at all crashes it: the directory is checked here first.
std::optional<std::string> TrueTypeProblem(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(in.tellg());
  in.seekg(0);
  const auto read = [&in](std::size_t n) {
    std::string bytes(n, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    return in ? bytes : std::string();
  };
  const auto number = [](const std::string& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
      v = v << 8 |
          static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
  };
  const std::string head = read(12);
  if (head.empty()) return "is no font";
  const std::uint32_t version = number(head, 0, 4);
  if (version == 0x4F54544F)
    return "has CFF outlines, which cannot be embedded";
  if (version != 0x00010000 && version != 0x74727565)
    return "is no TrueType font";
  const std::uint32_t tables = number(head, 4, 2);
  std::set<std::string> found;
  for (std::uint32_t i = 0; i < tables; ++i) {
    const std::string entry = read(16);
    if (entry.empty()) return "is cut short";
    const std::uint64_t offset = number(entry, 8, 4),
                        length = number(entry, 12, 4);
    if (offset + length > size) return "is cut short";
    found.insert(entry.substr(0, 4));
  }
  for (const char* table :
       {"cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name", "OS/2"})
    if (!found.count(table)) return std::string("has no '") + table + "' table";
  return std::string();
}

std::string CodePointName(char32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
  return text;
}

// libharu marks the parts of a composite glyph one level deep only, and
// none numbered past 32767 (Droid's kanji are built of such parts):
// every part of every glyph drawn is marked here, or it would be left
// out of the embedded font and the glyph drawn wrong.
void MarkParts(HPDF_FontDef def, const std::string& file) {
  auto* attr = static_cast<HPDF_TTFontDefAttr>(def->attr);
  std::ifstream in(file, std::ios::binary);
  if (!in) return;
  const std::uint32_t scale = attr->header.index_to_loc_format == 0 ? 2 : 1;
  std::vector<std::uint32_t> queue;
  for (std::uint32_t g = 0; g < attr->num_glyphs; ++g)
    if (attr->glyph_tbl.flgs[g]) queue.push_back(g);
  const auto be16 = [](const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) << 8 |
                                      static_cast<unsigned char>(b[at + 1]));
  };
  std::string glyph;
  while (!queue.empty()) {
    const std::uint32_t g = queue.back();
    queue.pop_back();
    const std::uint32_t start = attr->glyph_tbl.offsets[g] * scale;
    const std::uint32_t end = attr->glyph_tbl.offsets[g + 1] * scale;
    if (end <= start + 10 || end - start > 65536) continue;
    glyph.assign(end - start, '\0');
    in.seekg(attr->glyph_tbl.base_offset + start);
    if (!in.read(glyph.data(), static_cast<std::streamsize>(glyph.size()))) {
      in.clear();
      continue;
    }
    if (static_cast<std::int16_t>(be16(glyph, 0)) >= 0) continue;
    // The parts: flags, glyph, then arguments and a transform whose
    // sizes the flags give.
    for (std::size_t at = 10; at + 4 <= glyph.size();) {
      const std::uint16_t flags = be16(glyph, at);
      const std::uint16_t part = be16(glyph, at + 2);
      at += 4 + ((flags & 0x0001) ? 4 : 2) +
            ((flags & 0x0008)   ? 2
             : (flags & 0x0040) ? 4
             : (flags & 0x0080) ? 8
                                : 0);
      if (part < attr->num_glyphs && !attr->glyph_tbl.flgs[part]) {
        attr->glyph_tbl.flgs[part] = 1;
        queue.push_back(part);
      }
      if (!(flags & 0x0020)) break;
    }
  }
}

void Rewrite(HPDF_Dict stream, const std::string& bytes) {
  HPDF_MemStream_FreeData(stream->stream);
  HPDF_Stream_Write(stream->stream,
                    reinterpret_cast<const HPDF_BYTE*>(bytes.data()),
                    static_cast<HPDF_UINT>(bytes.size()));
}

void Hex16(std::string& out, char32_t unit) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(unit));
  out += text;
}

std::string ToUnicode(const std::map<std::uint16_t, std::u32string>& used) {
  std::string out =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 "
      ">> def\n/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  // At most 100 entries a block.
  auto it = used.begin();
  while (it != used.end()) {
    const std::size_t n = std::min<std::size_t>(
        100, static_cast<std::size_t>(std::distance(it, used.end())));
    out += std::to_string(n) + " beginbfchar\n";
    for (std::size_t i = 0; i < n; ++i, ++it) {
      out += '<';
      Hex16(out, it->first);
      out += "> <";
      // Readers put a right-to-left run back in reading order character
      // by character, a ligature's too: its characters are written as
      // they stand on the page, right to left.
      std::u32string text = it->second;
      if (text.size() > 1 &&
          std::all_of(text.begin(), text.end(),
                      [](char32_t c) { return c >= 0x0590 && c <= 0x08FF; }))
        std::reverse(text.begin(), text.end());
      for (char32_t c : text) {
        if (c >= 0x10000) {
          Hex16(out, 0xD800 + ((c - 0x10000) >> 10));
          Hex16(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
          Hex16(out, c);
        }
      }
      out += ">\n";
    }
    out += "endbfchar\n";
  }
  out +=
      "endcmap\nCMapName currentdict /CMap defineresource pop\nend\n"
      "end\n";
  return out;
}

}  // namespace

[[noreturn]] void ThrowHaruError(HPDF_STATUS code, HPDF_STATUS detail) {
  char text[96];
  std::snprintf(text, sizeof text, "PDF writer error 0x%04X (detail %u)",
                static_cast<unsigned>(code), static_cast<unsigned>(detail));
  throw EZeptError(text);
}

TextFonts::TextFonts(HPDF_Doc doc, HaruError& error,
                     const std::vector<std::string>& files,
                     std::vector<std::string>& notes)
    : doc_(doc), error_(error), notes_(notes) {
  for (const std::string& file : files) {
    faces_.emplace_back();
    faces_.back().file = file;
  }
}

std::vector<int> TextFonts::choose(std::u32string_view codes) {
  std::vector<int> fonts(codes.size(), kHelvetica);
  const auto blank = [](char32_t c) { return c != 0 && c <= 0x20; };
  for (std::size_t i = 0; i < codes.size();) {
    if (blank(codes[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    bool ansi = true;
    for (; end < codes.size() && !blank(codes[end]); ++end)
      ansi = ansi && (codes[end] == 0 || AnsiByteOf(codes[end]) >= 0);
    if (!ansi) {
      int whole = kMissing;
      for (int k = 0; k < static_cast<int>(faces_.size()); ++k) {
        bool all = true;
        for (std::size_t j = i; j < end && all; ++j)
          all = codes[j] == 0 || has(k, codes[j]);
        if (all) {
          whole = k;
          break;
        }
      }
      for (std::size_t j = i; j < end; ++j)
        fonts[j] = whole != kMissing ? whole : fontOf(codes[j]);
    }
    i = end;
  }
  return fonts;
}

std::uint32_t TextFonts::units(int k, char32_t code) {
  const HPDF_INT16 w = HPDF_TTFontDef_GetCharWidth(
      faces_[k].def, static_cast<HPDF_UINT16>(code));
  return w > 0 ? static_cast<std::uint32_t>(w) : 0;
}

HPDF_Font TextFonts::font(int k) {
  Face& face = faces_[k];
  if (!face.font) {
    if (!utf8Encoder_) {
      HPDF_UseUTFEncodings(doc_);
      utf8Encoder_ = true;
    }
    face.font = HPDF_GetFont(doc_, face.name, "UTF-8");
    if (error_.code != HPDF_OK) ThrowHaruError(error_.code, error_.detail);
  }
  return face.font;
}

void TextFonts::use(int k, char32_t code, const std::u32string& text) {
  faces_[k].used.emplace(static_cast<std::uint16_t>(code), text);
}

void TextFonts::finish() {
  for (Face& face : faces_)
    if (face.font) finishFont(face);
  if (missing_.empty()) return;
  std::string note = "the PDF shows \"?\" for characters no font has (";
  std::size_t listed = 0;
  for (char32_t code : missing_) {
    if (listed++ == 20) {
      note += ", ...";
      break;
    }
    if (listed > 1) note += ", ";
    note += CodePointName(code);
  }
  note += ")";
  std::string absent;
  for (const Face& face : faces_) {
    if (face.absent) absent += (absent.empty() ? "" : ", ") + face.file;
  }
  if (!absent.empty()) note += "; fonts not installed: " + absent;
  notes_.push_back(note);
}

int TextFonts::fontOf(char32_t code) {
  if (AnsiByteOf(code) >= 0) return kHelvetica;
  for (int k = 0; k < static_cast<int>(faces_.size()); ++k)
    if (has(k, code)) return k;
  return kMissing;
}

bool TextFonts::has(int k, char32_t code) {
  if (code > 0xFFFF || !load(faces_[k])) return false;
  HPDF_FontDef def = faces_[k].def;
  const HPDF_UINT16 gid =
      HPDF_TTFontDef_GetGlyphid(def, static_cast<HPDF_UINT16>(code));
  return gid != 0 &&
         gid < static_cast<HPDF_TTFontDefAttr>(def->attr)->num_glyphs;
}

bool TextFonts::load(Face& face) {
  if (face.tried) return face.def != nullptr;
  face.tried = true;
  const std::optional<std::string> problem = TrueTypeProblem(face.file);
  if (!problem) {
    face.absent = true;
    return false;
  }
  if (!problem->empty()) {
    notes_.push_back("the font " + face.file + " is left out: it " + *problem);
    return false;
  }
  const char* name =
      HPDF_LoadTTFontFromFile(doc_, face.file.c_str(), HPDF_TRUE);
  HPDF_FontDef def = name ? HPDF_GetFontDef(doc_, name) : nullptr;
  if (def && error_.code == HPDF_OK) {
    const auto* attr = static_cast<HPDF_TTFontDefAttr>(def->attr);
    // Glyphs are looked up through a format 0 or 4 character map only.
    if (attr->cmap.format == 0 || attr->cmap.seg_count_x2 > 0) {
      face.def = def;
      face.name = name;
      return true;
    }
  }
  if (error_.code == HPDF_FILE_OPEN_ERROR) {
    face.absent = true;
  } else {
    char code[64];
    std::snprintf(code, sizeof code, "PDF writer error 0x%04X",
                  static_cast<unsigned>(error_.code));
    notes_.push_back("the font " + face.file + " is left out: " +
                     (error_.code != HPDF_OK ? std::string(code)
                                             : "no usable character map"));
  }
  HPDF_ResetError(doc_);
  error_ = HaruError{};
  return false;
}

void TextFonts::finishFont(Face& face) {
  MarkParts(face.def, face.file);
  auto* attr = static_cast<HPDF_FontAttr>(face.font->attr);
  HPDF_MMgr mmgr = face.font->mmgr;
  // Widths of the codes drawn only, rather than of every character the
  // font has.
  HPDF_Array widths = HPDF_Array_New(mmgr);
  for (const auto& [code, text] : face.used) {
    HPDF_Array one = HPDF_Array_New(mmgr);
    HPDF_Array_AddNumber(one, HPDF_TTFontDef_GetCharWidth(face.def, code));
    HPDF_Array_AddNumber(widths, code);
    HPDF_Array_Add(widths, one);
  }
  HPDF_Dict_Add(attr->descendant_font, "W", widths);
  const std::uint16_t last = face.used.empty() ? 0 : face.used.rbegin()->first;
  if (attr->map_stream) {
    std::string map(2 * (static_cast<std::size_t>(last) + 1), '\0');
    for (const auto& [code, text] : face.used) {
      const HPDF_UINT16 gid = HPDF_TTFontDef_GetGlyphid(face.def, code);
      map[2 * code] = static_cast<char>(gid >> 8);
      map[2 * code + 1] = static_cast<char>(gid & 0xFF);
    }
    Rewrite(attr->map_stream, map);
  }
  // libharu's own text map here is no valid ToUnicode CMap, and copying
  // or searching the text would read the joined Arabic forms: each code
  // maps to the characters it was drawn for.
  if (attr->cmap_stream) Rewrite(attr->cmap_stream, ToUnicode(face.used));
  if (error_.code != HPDF_OK) ThrowHaruError(error_.code, error_.detail);
}

}  // namespace zept
