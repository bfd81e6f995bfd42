#pragma once
// The PDF destination of the rendering engine, on libharu: fonts referenced
// by name (Helvetica, metrically Arial, in WinAnsiEncoding, not embedded)
// and pictures written as JPEG at quality 90, but for a JPEG file drawn at
// its own size, which is written as it is. Pictures and page contents are
// made on worker threads while the report is laid out.

#include <string>
#include <vector>

#include "report/surface.h"
#include "util/context.h"

namespace zept {

// The TrueType fonts that draw what WinAnsi Helvetica cannot, in the order
// they are tried: Debian's Hebrew and Arabic from fonts-noto-core, then
// fonts-dejavu-core (Latin, Greek, Cyrillic, and Hebrew and Arabic when
// Noto is missing), fonts-droid-fallback for Chinese and Japanese, and
// fonts-nanum for the Korean syllables Droid lacks. Noto's CJK fonts are
// CFF outlines, which libharu cannot embed.
std::vector<std::string> DefaultTextFonts();

class PdfReportSystem final : public ReportSystem {
 public:
  // Paper in inches.
  PdfReportSystem(Context& ctx, double paperWidth, double paperHeight)
      : ctx_(ctx), paperWidth_(paperWidth), paperHeight_(paperHeight) {}

  // Draws the pages and writes OutputFileName (atomically). Errors of the
  // print event or of the writer leave it, and no file is written.
  void execute(const std::function<void(ReportCanvas&)>& onPrint) override;
  // The PDF of the last execution.
  const std::string& document() const { return document_; }
  int pages() const { return pages_; }
  // When set, the document is kept in memory and no file is written.
  bool KeepInMemory = false;
  // Off, the page content stays readable text (for tests).
  bool Compress = true;
  // On, text is UTF-8 and any character is drawn: what WinAnsi Helvetica
  // lacks comes from the first of TextFonts that has it, embedded (only the
  // glyphs used), with right-to-left runs reordered and Arabic joined. Text
  // that WinAnsi holds comes out as it does with this off. Off, text is
  // Windows-1252, as the shell's report pages store it.
  bool Utf8Text = false;
  std::vector<std::string> TextFonts = DefaultTextFonts();
  // What the last execution could not draw as asked (a font missing or
  // unreadable, characters printed as "?"), one line each, for the journal.
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  Context& ctx_;
  double paperWidth_, paperHeight_;
  std::string document_;
  int pages_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace zept
