#include "report/surface.h"

#include <cmath>

#include "platform/errors.h"

namespace zept {

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
  const double width = PrintEnd - PrintStart;
  std::size_t start = 0;
  while (start <= text_.size()) {
    std::size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::string paragraph = text_.substr(start, end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
    // Words are added while the line still fits; a word wider than the
    // whole width is cut where it must be.
    std::string line;
    std::size_t i = 0;
    while (i < paragraph.size()) {
      std::size_t wordEnd = paragraph.find(' ', i);
      if (wordEnd == std::string::npos) wordEnd = paragraph.size();
      const std::string word = paragraph.substr(i, wordEnd - i);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (BaseReport->textWidth(candidate) <= width) {
        line = candidate;
        i = wordEnd + 1;
        continue;
      }
      if (!line.empty()) {
        lines_.push_back(line);
        line.clear();
        continue;
      }
      std::size_t n = 1;
      while (n < word.size() &&
             BaseReport->textWidth(word.substr(0, n + 1)) <= width)
        ++n;
      lines_.push_back(word.substr(0, n));
      paragraph.erase(i, n);
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
    const std::string& line = lines_[next_];
    const double w = c.textWidth(line);
    double lx = PrintStart;
    if (Justification == Justify::Center)
      lx = PrintStart + (PrintEnd - PrintStart - w) / 2;
    if (Justification == Justify::Right) lx = PrintEnd - w;
    c.printText(lx, c.y, line);
    if (fit > 1 && next_ + 1 < lines_.size()) c.y += lh;
  }
  c.newLine();
}

}  // namespace zept
