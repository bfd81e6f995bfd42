#pragma once
// Tables of the report: rows of cells holding wrapped text, a picture or
// nothing, with borders, explicit or shared widths and row spans.

#include <memory>
#include <vector>

#include "report/ReportPrinter.h"

namespace zept {

class TTableRow;

class TTableElement {
 public:
  double Height = 0, Width = 0, ContentHeight = 0, ContentWidth = 0;
  double Inset = 4.0 / 72;
  XmlNode Node;
  int Dpi = 96;
};

class TTableDivision : public TTableElement {
 public:
  bool Border = false;
  bool BorderRight = true, BorderTop = true, BorderLeft = true,
       BorderBottom = true;
  bool HasWidth = false;
  int RowSpan = 1;
  Utf8String Kind = "empty";
  WideString Content;
  TTableRow* Row = nullptr;

  double Measure(TReportPrinter& printer);
  void DrawCell(TReportPrinter& printer, double x, double y);
  void DrawBorders(ReportCanvas& canvas, double x, double y, double width,
                   double height);
  void SetBorderSides(bool right, bool top, bool left, bool bottom) {
    BorderRight = right, BorderTop = top, BorderLeft = left,
    BorderBottom = bottom;
  }
};

class TTableRow : public TTableElement {
 public:
  std::vector<std::unique_ptr<TTableDivision>> Cells;

  std::size_t CellCount() const { return Cells.size(); }
  TTableDivision* GetCell(std::size_t index) const {
    return index < Cells.size() ? Cells[index].get() : nullptr;
  }
  void AddCell(std::unique_ptr<TTableDivision> cell) {
    if (cell) Cells.push_back(std::move(cell));
  }
  std::size_t FixedWidthCount() const;
  double MaxCellHeight() const;
};

class TPCTable {
 public:
  TPCTable(TReportPrinter& printer, XmlNode node)
      : printer_(printer), Node(node) {}

  double TotalHeight = 0;
  std::vector<std::unique_ptr<TTableRow>> Rows;
  bool HasRowSpan = false;

  void Print();
  void Layout();

 private:
  TReportPrinter& printer_;
  XmlNode Node;
};

}  // namespace zept
