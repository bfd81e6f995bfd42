#include "report/surface.h"

#include <algorithm>
#include <cmath>

#include "platform/errors.h"

namespace zept {

void ReportCanvas::byteUnits(std::string_view text,
                             std::vector<std::uint32_t>& units) const {
  const CharWidths& widths = charWidths();
  units.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    units[i] = widths[static_cast<unsigned char>(text[i])];
}

double ReportCanvas::textWidth(std::string_view text) const {
  std::vector<std::uint32_t> units;
  byteUnits(text, units);
  std::uint64_t total = 0;
  for (std::uint32_t u : units) total += u;
  return widthOf(total);
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
  std::vector<std::uint32_t> widths;
  c.byteUnits(text_, widths);
  // A UTF-8 character is never cut: its other bytes go with its first.
  const bool utf8 = c.utf8Text();
  const auto charEnd = [&](std::size_t at) {
    ++at;
    while (utf8 && at < text_.size() &&
           (static_cast<unsigned char>(text_[at]) & 0xC0) == 0x80)
      ++at;
    return at;
  };
  const double width = PrintEnd - PrintStart;
  auto fits = [&](std::uint64_t units) { return c.widthOf(units) <= width; };
  const std::uint64_t space = c.charWidths()[' '];
  std::size_t start = 0;
  while (start <= text_.size()) {
    std::size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::size_t stop = end;
    if (stop > start && text_[stop - 1] == '\r') --stop;
    // Words are added while the line still fits; a word wider than the
    // whole width is cut where it must be. Words are split at every
    // blank, so a line keeps the blanks between its words but none before
    // its first word. A line's width is the sum of its characters', and a
    // word is measured only as far as it fits.
    Line line{start, 0};
    std::uint64_t lineUnits = 0;
    std::size_t i = start, wordEnd = start;
    while (i < stop) {
      if (i > wordEnd || i == start || text_[i - 1] == ' ') {
        const std::size_t blank =
            std::string_view(text_).substr(i, stop - i).find(' ');
        wordEnd = blank == std::string_view::npos ? stop : i + blank;
      }
      const std::uint64_t base = line.length == 0 ? 0 : lineUnits + space;
      std::uint64_t units = base;
      std::size_t k = i;
      for (; k < wordEnd; ++k) {
        const std::uint64_t more = units + widths[k];
        if (!fits(more)) break;
        units = more;
      }
      if (k == wordEnd && (k > i || fits(base))) {
        line = line.length == 0 ? Line{i, wordEnd - i}
                                : Line{line.start, wordEnd - line.start};
        lineUnits = units;
        i = wordEnd + 1;
        continue;
      }
      if (line.length != 0) {
        lines_.push_back(line);
        line = {i, 0};
        lineUnits = 0;
        continue;
      }
      // The longest part of the word that fits, one character at least.
      const std::size_t n = std::max(k, charEnd(i)) - i;
      lines_.push_back({i, n});
      i += n;
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
