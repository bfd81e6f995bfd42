#pragma once
// What a report needs of a rendering engine: the report canvas (cursor,
// fonts, margins, pages, drawing), the paragraph buffer that wraps text
// between two edges, and the report system that runs a print job. All
// positions are inches from the page's top-left corner, y downwards.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bitmap.h"
#include "platform/text.h"

namespace zept {

// Advance widths of the 256 ANSI characters of a font, in thousandths of
// the font size.
using CharWidths = std::array<std::uint16_t, 256>;

class ReportCanvas {
 public:
  virtual ~ReportCanvas() = default;

  double MarginTop = 0, MarginBottom = 0, MarginLeft = 0, MarginRight = 0;
  // The cursor; y is the baseline of the current text line.
  double x = 0, y = 0;

  virtual double pageWidth() const = 0;
  virtual double pageHeight() const = 0;
  int currentPage() const { return page_; }

  void goTo(double nx, double ny) {
    x = nx;
    y = ny;
  }
  // y grows by one line height; x returns to the left margin.
  void newLine() {
    y += lineHeight();
    x = MarginLeft;
  }

  // The font: Helvetica (Arial's metrics), size in points.
  double fontSize() const { return fontSize_; }
  void setFontSize(double points) { fontSize_ = points; }
  bool italic() const { return italic_; }
  void setItalic(bool on) { italic_ = on; }
  // Recomputes line height and ascent for the current font, unless the line
  // height was fixed by writing it.
  void updateLineMetrics() {
    if (!fixedLineHeight_) lineHeight_ = fontSize_ * 1.2 / 72;
  }
  double lineHeight() const { return lineHeight_; }
  void setLineHeight(double inches) {
    lineHeight_ = inches;
    fixedLineHeight_ = true;
  }
  double descent() const { return fontSize_ * 0.212 / 72; }

  // The current font's widths; a text is as wide as its characters.
  virtual const CharWidths& charWidths() const = 0;
  // The text this canvas measures and draws: Windows-1252 bytes, or UTF-8
  // on a canvas that draws any character.
  virtual bool utf8Text() const { return false; }
  // Each byte's width at the current font, in thousandths of the font size:
  // a character's width on its first byte, 0 on the others. Joined and
  // ligated letters are measured as they are drawn.
  virtual void byteUnits(std::string_view text,
                         std::vector<std::uint32_t>& units) const;
  // Inches of a width in thousandths of the font size, at the current font.
  double widthOf(std::uint64_t units) const {
    return static_cast<double>(units) / 1000.0 * fontSize() / 72;
  }
  // Width of a text at the current font, inches.
  double textWidth(std::string_view text) const;
  // y := ny, then text left-aligned from nx, standing on the baseline.
  void printText(double nx, double ny, std::string_view text) {
    y = ny;
    drawText(nx, ny, text);
  }
  void moveTo(double nx, double ny) {
    penX_ = nx;
    penY_ = ny;
  }
  void lineTo(double nx, double ny) {
    drawLine(penX_, penY_, nx, ny);
    penX_ = nx;
    penY_ = ny;
  }
  virtual void drawBitmap(double x1, double y1, double x2, double y2,
                          const Bitmap& bitmap) = 0;
  // The picture file stretched to width x height pixels (white when it is
  // no readable picture), drawn stretched into the rectangle: what a movie
  // host that shows only that file would give as its bitmap.
  virtual void drawPicture(double x1, double y1, double x2, double y2,
                           const WideString& file, int width, int height) = 0;
  // Finishes the page and begins the next; the cursor goes to the first
  // line's baseline.
  void newPage() {
    endPage();
    ++page_;
    beginPage();
    x = MarginLeft;
    y = MarginTop + lineHeight() - descent();
  }
  // The first page begins: called by the report system before printing.
  void start() {
    page_ = 1;
    beginPage();
    x = MarginLeft;
    y = MarginTop + lineHeight() - descent();
  }
  void finish() { endPage(); }

 protected:
  virtual void drawText(double x, double y, std::string_view text) = 0;
  virtual void drawLine(double x1, double y1, double x2, double y2) = 0;
  virtual void beginPage() = 0;
  virtual void endPage() = 0;

 private:
  double fontSize_ = 10;
  bool italic_ = false;
  double lineHeight_ = 10 * 1.2 / 72;
  bool fixedLineHeight_ = false;
  double penX_ = 0, penY_ = 0;
  int page_ = 1;
};

enum class Justify { Left, Center, Right };

// A block of text wrapped between two x positions and printed line by line.
class TMemoBuf {
 public:
  ReportCanvas* BaseReport = nullptr;
  double PrintStart = 0, PrintEnd = 0;
  Justify Justification = Justify::Left;

  void appendText(const AnsiString& text) {
    text_ += text;
    wrapped_ = false;
  }
  // The height the unprinted lines need.
  double remainingHeight();
  // Prints the whole remaining lines that fit into height h, from the
  // current y down, then moves to a new line.
  void printHeight(double h);
  // Lines printed so far (the last call).
  std::size_t lastPrinted() const { return lastPrinted_; }

 private:
  void check() const;
  void wrap();

  // A wrapped line: a piece of text_.
  struct Line {
    std::size_t start, length;
  };

  AnsiString text_;
  std::vector<Line> lines_;
  std::size_t next_ = 0;
  bool wrapped_ = false;
  std::size_t lastPrinted_ = 0;
};

enum class ReportDestination { Printer, File };

// One print job: opens a canvas for the destination, calls the print event
// with it, finishes the last page and delivers the result.
class ReportSystem {
 public:
  virtual ~ReportSystem() = default;
  ReportDestination DefaultDest = ReportDestination::Printer;
  WideString OutputFileName;
  bool AllowSetup = true;
  // Errors of the print event come out of execute; nothing is delivered.
  virtual void execute(const std::function<void(ReportCanvas&)>& onPrint) = 0;
};

}  // namespace zept
