#include "report/surface.h"

#include <cmath>

#include "platform/errors.h"

namespace zept {

double ReportCanvas::textWidth(std::string_view text) const {
  const CharWidths& widths = charWidths();
  std::uint64_t units = 0;
  for (char ch : text) units += widths[static_cast<unsigned char>(ch)];
  return widthOf(units);
}

void TMemoBuf::check() const {
  if (!BaseReport) throw EZeptError("TMemoBuf.BaseReport not assigned.");
  if (!(PrintEnd > PrintStart)) {
    throw EZeptError(
        "TMemoBuf.PrintEnd must be greater than TMemoBuf.PrintStart");
  }
}

void TMemoBuf::wrap() {
  if (wrapped_) return;
  wrapped_ = true;
  lines_.clear();
  next_ = 0;
  if (text_.empty()) return;
  const ReportCanvas& c = *BaseReport;
  const CharWidths& widths = c.charWidths();
  const double width = PrintEnd - PrintStart;
  auto fits = [&](std::uint64_t units) { return c.widthOf(units) <= width; };
  auto unitsOf = [&](std::size_t from, std::size_t to) {
    std::uint64_t units = 0;
    for (; from < to; ++from)
      units += widths[static_cast<unsigned char>(text_[from])];
    return units;
  };
  const std::uint64_t space = widths[' '];
  std::size_t start = 0;
  while (start <= text_.size()) {
    std::size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::size_t stop = end;
    if (stop > start && text_[stop - 1] == '\r') --stop;
    // Words are added while the line still fits; a word wider than the
    // whole width is cut where it must be. Words are split at every
    // blank, so a line keeps the blanks between its words but none before
    // its first word. Each character is measured once: a line's width is
    // the sum of its characters'.
    Line line{start, 0};
    std::uint64_t lineUnits = 0;
    std::size_t i = start;
    while (i < stop) {
      const std::size_t blank =
          std::string_view(text_).substr(i, stop - i).find(' ');
      const std::size_t wordEnd =
          blank == std::string_view::npos ? stop : i + blank;
      const std::uint64_t wordUnits = unitsOf(i, wordEnd);
      if (line.length == 0) {
        if (fits(wordUnits)) {
          line = {i, wordEnd - i};
          lineUnits = wordUnits;
          i = wordEnd + 1;
          continue;
        }
        std::size_t n = 1;
        std::uint64_t prefix = unitsOf(i, i + 1);
        while (n < wordEnd - i) {
          const std::uint64_t longer =
              prefix + widths[static_cast<unsigned char>(text_[i + n])];
          if (!fits(longer)) break;
          prefix = longer;
          ++n;
        }
        lines_.push_back({i, n});
        i += n;
        continue;
      }
      if (fits(lineUnits + space + wordUnits)) {
        line.length = wordEnd - line.start;
        lineUnits += space + wordUnits;
        i = wordEnd + 1;
        continue;
      }
      lines_.push_back(line);
      line = {i, 0};
      lineUnits = 0;
    }
    lines_.push_back(line);
    if (end >= text_.size()) break;
    start = end + 1;
  }
}

double TMemoBuf::remainingHeight() {
  check();
  wrap();
  return static_cast<double>(lines_.size() - next_) * BaseReport->lineHeight();
}

void TMemoBuf::printHeight(double h) {
  check();
  wrap();
  ReportCanvas& c = *BaseReport;
  const double lh = c.lineHeight();
  lastPrinted_ = 0;
  // A tiny tolerance so that a height computed as n line heights holds n.
  std::size_t fit =
      lh > 0 ? static_cast<std::size_t>(std::floor(h / lh + 1e-9)) : 0;
  for (; fit > 0 && next_ < lines_.size(); --fit, ++next_, ++lastPrinted_) {
    const std::string_view line(text_.data() + lines_[next_].start,
                                lines_[next_].length);
    double lx = PrintStart;
    if (Justification == Justify::Center)
      lx = PrintStart + (PrintEnd - PrintStart - c.textWidth(line)) / 2;
    if (Justification == Justify::Right) lx = PrintEnd - c.textWidth(line);
    c.printText(lx, c.y, line);
    if (fit > 1 && next_ + 1 < lines_.size()) c.y += lh;
  }
  c.newLine();
}

}  // namespace zept
