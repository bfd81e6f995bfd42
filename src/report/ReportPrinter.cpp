#include "report/ReportPrinter.h"

#include <cmath>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "report/PCTable.h"
#include "util/file_io.h"
#include "util/textlib.h"

namespace zept {

std::vector<XmlNode> ReportChildren(XmlNode node) {
  std::vector<XmlNode> children;
  if (!node.isElement()) return children;
  XmlNode first = node.firstChild();
  if (first.isText()) first = first.nextSibling();  // the element's own text
  for (XmlNode n = first; n; n = n.nextSibling()) children.push_back(n);
  return children;
}

WideString OwnText(XmlNode node) {
  if (!node.isElement()) return node.value();
  XmlNode first = node.firstChild();
  return first.isText() ? first.value() : WideString();
}

WideString GetText(XmlNode node) {
  const std::vector<XmlNode> children = ReportChildren(node);
  return children.empty() ? OwnText(node) : OwnText(children.front());
}

std::string ReportText(const ReportCanvas& canvas, const WideString& text) {
  return canvas.utf8Text() ? WideToUtf8(text) : WideToAnsi(text);
}

std::optional<double> StrToFloat(const WideString& text, char16_t separator) {
  std::size_t i = 0, end = text.size();
  while (i < end && text[i] == u' ') ++i;
  while (end > i && text[end - 1] == u' ') --end;
  double sign = 1;
  if (i < end && (text[i] == u'-' || text[i] == u'+'))
    sign = text[i++] == u'-' ? -1 : 1;
  double value = 0, scale = 1;
  bool digits = false, fraction = false;
  for (; i < end; ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      digits = true;
      if (fraction) {
        scale /= 10;
        value += (c - u'0') * scale;
      } else {
        value = value * 10 + (c - u'0');
      }
    } else if (c == separator && !fraction) {
      fraction = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digits || !std::isfinite(value)) return std::nullopt;
  return sign * value;
}

std::optional<double> TReportPrinter::Decimal(XmlNode element,
                                              const char* name) const {
  std::optional<WideString> text = element.findAttribute(name);
  if (!text) return std::nullopt;
  // Looked up once a report: the system answers slowly.
  if (!decimalSeparator_) {
    decimalSeparator_ =
        s_.ctx.platform.clock.regionalSettings().decimalSeparator;
  }
  std::optional<double> value = StrToFloat(*text, *decimalSeparator_);
  if (!value) {
    throw EConvertError("'" + WideToUtf8(*text) +
                        "' is not a valid floating point value");
  }
  return value;
}

std::optional<std::int32_t> TReportPrinter::Integer(XmlNode element,
                                                    const char* name) const {
  std::optional<WideString> text = element.findAttribute(name);
  if (!text) return std::nullopt;
  std::optional<std::int32_t> value = StrToInt(*text);
  if (!value)
    throw EConvertError("'" + WideToUtf8(*text) +
                        "' is not a valid integer value");
  return value;
}

void TReportPrinter::Print() {
  if (XmlText.empty()) return;
  std::string error;
  Xml = XmlDocument::ParseAnsi(XmlText, &error);
  if (!Xml->root())
    throw EXmlError("the report is not well-formed XML: " + error);
  if (!reportSystem) throw EZeptError("no report system to print with");
  reportSystem->execute([this](ReportCanvas& canvas) { DoPrint(canvas); });
}

void TReportPrinter::DoPrint(ReportCanvas& canvas) {
  Report = &canvas;
  canvas.MarginTop = Margins[1];
  canvas.MarginBottom = Margins[3];
  canvas.MarginLeft = Margins[2];
  canvas.MarginRight = Margins[0];
  // The first line starts below the margins just set.
  canvas.goTo(canvas.MarginLeft,
              canvas.MarginTop + canvas.lineHeight() - canvas.descent());
  PrintChildren(Xml->root());
  PrintPageNumber(true);
}

void TReportPrinter::NewPage() {
  if (Report->currentPage() >= FirstNumberedPage) {
    PrintPageNumber(false);
    ++PageNumber;
  }
  Report->newPage();
}

double TReportPrinter::RemainingHeight() const {
  return Report->pageHeight() - Report->MarginBottom - Report->y;
}

double TReportPrinter::PrintableWidth() const {
  return Report->pageWidth() - Report->MarginLeft - Report->MarginRight;
}

void TReportPrinter::PrintPageNumber(bool last) {
  if (!ShowPageNumbers) return;
  ReportCanvas& c = *Report;
  const double size = c.fontSize(), lineHeight = c.lineHeight();
  const double x = c.x, y = c.y;
  c.setFontSize(10);
  c.updateLineMetrics();
  c.setItalic(true);
  const std::string number = std::to_string(PageNumber);
  if (last) {
    c.printText(c.pageWidth() - 0.9, c.pageHeight() - 0.4,
                "Page " + number + " / " + number);
  } else {
    c.printText(c.pageWidth() - 0.8, c.pageHeight() - 0.4, "Page " + number);
  }
  c.setItalic(false);
  c.setFontSize(size);
  // Writing the line height back fixes it for the rest of the report.
  c.setLineHeight(lineHeight);
  c.goTo(x, y);
}

bool TReportPrinter::IsBlockTag(const Utf8String& name) const {
  const unsigned char* n = reinterpret_cast<const unsigned char*>(name.c_str());
  return QualifiedNameIs(n, nullptr, "table") ||
         QualifiedNameIs(n, nullptr, "mathml");
}

void TReportPrinter::PrintChildren(XmlNode element) {
  for (XmlNode child : ReportChildren(element)) {
    const Utf8String name = child.name();
    if (IsBlockTag(name)) {
      PrintTag(name, child);
    } else if (ReportChildren(child).size() >= 2) {
      PrintChildren(child);
    } else {
      PrintTag(name, child);
    }
  }
}

void TReportPrinter::PrintTag(const Utf8String& name, XmlNode element) {
  if (name == "br") {
    Report->newLine();
  } else if (name == "pg") {
    NewPage();
  } else if (name == "p") {
    printText(element);
  } else if (name == "hr") {
    printRule(element);
  } else if (name == "table") {
    TPCTable table(*this, element);
    table.Print();
  } else if (name == "img") {
    printImage(element);
  } else if (name == "mathml") {
    printFormula(element);
  }
}

void TReportPrinter::printText(XmlNode element) {
  ReportCanvas& c = *Report;
  if (std::optional<double> size = Decimal(element, "fontsize")) {
    c.setFontSize(*size);
    c.updateLineMetrics();
  }
  const double indent = Decimal(element, "indent").value_or(0) / 72;
  TMemoBuf buffer;
  buffer.BaseReport = &c;
  buffer.PrintStart = c.MarginLeft + indent;
  buffer.PrintEnd = c.pageWidth() - c.MarginRight;
  const WideString align = element.findAttribute("align").value_or(u"");
  buffer.Justification = align == u"center"  ? Justify::Center
                         : align == u"right" ? Justify::Right
                                             : Justify::Left;
  WideString text = GetText(element);
  // Line breaks and blanks that only open or close the element's layout are
  // dropped; leading blanks on the first line are the author's and stay.
  const std::size_t lead = text.find_first_not_of(u" \t\r\n");
  if (lead != WideString::npos && text.find_first_of(u"\r\n") < lead)
    text.erase(0, lead);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\n' ||
                           text.back() == u'\r' || text.back() == u'\t')) {
    text.pop_back();
  }
  buffer.appendText(ReportText(c, text));
  // A line taller than a whole page can never fit: on a fresh page where
  // nothing fits it is printed anyway, so the loop always ends.
  bool freshPage = false;
  while (buffer.remainingHeight() > 0) {
    const double h = buffer.remainingHeight();
    if (FitsOnPage(h)) {
      buffer.printHeight(h);
      continue;
    }
    if (RemainingHeight() > 0.5) {
      buffer.printHeight(RemainingHeight());
      if (freshPage && buffer.lastPrinted() == 0)
        buffer.printHeight(c.lineHeight());
    } else if (freshPage) {
      buffer.printHeight(c.lineHeight());
    }
    if (buffer.remainingHeight() <= 0) break;
    NewPage();
    freshPage = true;
  }
  c.setFontSize(10);
  c.updateLineMetrics();
}

void TReportPrinter::printRule(XmlNode element) {
  ReportCanvas& c = *Report;
  const double u = PrintableWidth();
  double x1 = c.MarginLeft, x2 = c.pageWidth() - c.MarginRight;
  if (std::optional<double> width = Decimal(element, "width")) {
    const double w = std::min(std::fabs(*width), 100.0);
    const double length = u * w / 100;
    const WideString align = element.findAttribute("align").value_or(u"");
    if (align == u"left") {
      x1 = c.MarginLeft;
      x2 = c.MarginLeft + length;
    } else if (align == u"right") {
      x1 = c.pageWidth() - c.MarginRight - length;
      x2 = c.pageWidth() - c.MarginRight;
    } else {
      x1 = c.MarginLeft + (u - length) / 2;
      x2 = x1 + length;
    }
  }
  c.moveTo(x1, c.y);
  c.lineTo(x2, c.y);
  c.newLine();
}

void TReportPrinter::printImage(XmlNode element) {
  ReportCanvas& c = *Report;
  TMediaConverter converter(s_.movies, s_.ctx.platform.files);
  const WideString src = element.findAttribute("src").value_or(u"");
  double width, height;
  std::optional<double> w = Decimal(element, "width"),
                        h = Decimal(element, "height");
  if (w && h) {
    width = *w / 96;
    height = *h / 96;
  } else {
    int pw = 0, ph = 0;
    GetMediaSize(s_.ctx, src, pw, ph);
    width = pw / 96.0;
    height = ph / 96.0;
  }
  const double u = PrintableWidth();
  if (width >= height && width > u) {
    height = u / width * height;
    width = u;
  }
  Integer(element, "proportional");  // read, and of no use for the layout
  const WideString align = element.findAttribute("align").value_or(u"");
  const double left = align == u"center" ? (c.pageWidth() - width) / 2
                      : align == u"right"
                          ? c.pageWidth() - width - c.MarginRight
                          : c.MarginLeft;
  const auto [pw, ph] =
      CapPixelSize(96 * width, 96 * height, c.pageWidth(), c.pageHeight());
  converter.SetSize(pw, ph);
  converter.SetBasePath(ExtractFilePath(src));
  converter.Load(ExtractFileName(src));
  placeBitmap(left, width, height, converter);
}

void TReportPrinter::printFormula(XmlNode element) {
  ReportCanvas& c = *Report;
  const std::vector<XmlNode> children = ReportChildren(element);
  if (children.empty()) return;  // no formula to draw
  const double width = 200.0 / 96, height = 100.0 / 96;
  const WideString source = Utf8ToWide(children.front().xml());
  TMediaConverter converter(s_.movies, s_.ctx.platform.files);
  converter.SetSize(200, 100);
  converter.SetZoom(200, 100);
  converter.SetBasePath(s_.formulaFolder);
  converter.Load(u"MathMLPlayer.swf?sMML=" + source +
                 u"&sWidth=200&sHeight=100");
  placeBitmap(c.MarginLeft, width, height, converter);
}

void TReportPrinter::placeBitmap(double left, double width, double height,
                                 TMediaConverter& converter) {
  ReportCanvas& c = *Report;
  double top;
  if (FitsOnPage(height)) {
    top = c.y;
  } else {
    NewPage();
    top = c.MarginTop;
  }
  if (width > 0 && height > 0) {
    converter.DrawInto(c, left, top, left + width, top + height);
  }
  // Pictures and formulas end at a fixed half inch, not at the margin.
  c.goTo(0.5, top + height);
  c.newLine();
}

}  // namespace zept
