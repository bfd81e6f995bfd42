#pragma once
// The report printer: walks the report XML and lays it out on a report
// canvas, top to bottom, breaking pages as it goes. Paragraphs, rules,
// pictures and formulas here; tables in PCTable.

#include <array>
#include <memory>

#include "report/MediaConverter.h"
#include "report/surface.h"
#include "util/xml.h"

namespace zept {

// What the printer uses besides the canvas.
struct ReportServices {
  Context& ctx;
  MovieHostFactory& movies;
  // The folder of the formula player "MathMLPlayer.swf", with its separator.
  WideString formulaFolder;
};

// The report's children of an element: its element, CDATA, comment and text
// child nodes, without the text before the first of them (the element's own
// text) and without runs of white space.
std::vector<XmlNode> ReportChildren(XmlNode node);
// The text before the first child node; the content of a CDATA section,
// comment or text child.
WideString OwnText(XmlNode node);
// The own text of the first child, or the own text without children.
WideString GetText(XmlNode node);

class TReportPrinter {
 public:
  explicit TReportPrinter(ReportServices services) : s_(services) {}

  std::unique_ptr<XmlDocument> Xml;
  ReportSystem* reportSystem = nullptr;
  bool ShowPageNumbers = false;
  int FirstNumberedPage = 1;
  AnsiString XmlText;
  int PageNumber = 1;
  std::array<double, 4> Margins{};  // right, top, left, bottom
  ReportCanvas* Report = nullptr;

  void SetXml(const AnsiString& text) { XmlText = text; }
  void SetReportSystem(ReportSystem* system) { reportSystem = system; }
  void SetMargins(double right, double top, double left, double bottom) {
    Margins = {right, top, left, bottom};
  }
  void SetShowPageNumbers(bool on) { ShowPageNumbers = on; }
  void SetFirstNumberedPage(int n) { FirstNumberedPage = n <= 0 ? 1 : n; }

  // Parses and prints; an empty text does nothing. Errors (the parser's,
  // a bad number, the engine's) leave it and nothing is delivered.
  void Print();
  void DoPrint(ReportCanvas& canvas);

  void NewPage();
  double RemainingHeight() const;
  bool FitsOnPage(double height) const { return RemainingHeight() > height; }
  double PrintableWidth() const;
  void PrintPageNumber(bool last);

  void PrintChildren(XmlNode element);
  void PrintTag(const Utf8String& name, XmlNode element);
  bool IsBlockTag(const Utf8String& name) const;

  // Attribute helpers shared by the elements.
  std::optional<double> Decimal(XmlNode element, const char* name) const;
  std::optional<std::int32_t> Integer(XmlNode element, const char* name) const;
  ReportServices& services() { return s_; }

 private:
  void printText(XmlNode element);
  void printRule(XmlNode element);
  void printImage(XmlNode element);
  void printFormula(XmlNode element);
  // Draws a picture or formula at the current y, or at the top of a new
  // page when it does not fit, then feeds a line below it.
  void placeBitmap(double left, double width, double height,
                   TMediaConverter& converter);

  ReportServices s_;
  mutable std::optional<char16_t> decimalSeparator_;
};

// Text as the canvas takes it: UTF-8 where it draws any character, else
// Windows-1252 with "?" for what it cannot hold.
std::string ReportText(const ReportCanvas& canvas, const WideString& text);
// A decimal number with the given decimal separator; nullopt otherwise.
std::optional<double> StrToFloat(const WideString& text,
                                 char16_t decimalSeparator);

}  // namespace zept
