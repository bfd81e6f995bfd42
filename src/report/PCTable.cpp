#include "report/PCTable.h"

#include <cmath>

#include "util/file_io.h"

namespace zept {

std::size_t TTableRow::FixedWidthCount() const {
  std::size_t n = 0;
  for (const auto& cell : Cells) n += cell->HasWidth ? 1 : 0;
  return n;
}

double TTableRow::MaxCellHeight() const {
  double h = 0;
  for (const auto& cell : Cells) h = std::max(h, cell->Height);
  return h;
}

double TTableDivision::Measure(TReportPrinter& printer) {
  const double w = Width, p = Inset;
  const std::vector<XmlNode> children = ReportChildren(Node);
  if (children.empty()) {
    Kind = "empty";
    Content.clear();
    return Height;
  }
  XmlNode first = children.front();
  if (first.name() == "img") {
    Kind = "img";
    Content = first.findAttribute("src").value_or(u"");
    int pw = 0, ph = 0;
    std::optional<std::int32_t> aw = printer.Integer(first, "width");
    std::optional<std::int32_t> ah = printer.Integer(first, "height");
    if (aw && ah) {
      pw = *aw;
      ph = *ah;
    } else {
      GetMediaSize(printer.services().ctx, Content, pw, ph);
    }
    const double iw = pw / 96.0, ih = ph / 96.0;
    if (iw > w) {
      ContentWidth = w - 2 * p;
      ContentHeight = ih * w / iw;
    } else {
      ContentWidth = iw;
      ContentHeight = ih;
    }
    Height = 2 * p + ContentHeight;
    return Height;
  }
  Kind = "text";
  Content = OwnText(first);
  ContentWidth = w - 2 * p;
  // A cell with no room for its text is refused now, before anything of
  // it is drawn, with the engine's own message.
  TMemoBuf buffer;
  buffer.BaseReport = printer.Report;
  buffer.PrintStart = 0;
  buffer.PrintEnd = ContentWidth;
  buffer.appendText(ReportText(*printer.Report, Content));
  ContentHeight = buffer.remainingHeight();
  Height = 2 * p + ContentHeight;
  return Height;
}

void TTableDivision::DrawCell(TReportPrinter& printer, double x, double y) {
  ReportCanvas& c = *printer.Report;
  const double p = Inset;
  if (Kind == "text") {
    c.updateLineMetrics();
    c.goTo(x, y + 1.0 / 6);
    TMemoBuf buffer;
    buffer.BaseReport = &c;
    buffer.PrintStart = x + p;
    buffer.PrintEnd = x + p + ContentWidth;
    const WideString align = Node.findAttribute("align").value_or(u"");
    buffer.Justification = align == u"center"  ? Justify::Center
                           : align == u"right" ? Justify::Right
                                               : Justify::Left;
    buffer.appendText(ReportText(c, Content));
    buffer.printHeight(ContentHeight);
  } else if (Kind == "img") {
    TMediaConverter converter(printer.services().movies,
                              printer.services().ctx.platform.files);
    const auto [pw, ph] = CapPixelSize(96 * ContentWidth, 96 * ContentHeight,
                                       c.pageWidth(), c.pageHeight());
    converter.SetSize(pw, ph);
    converter.SetBasePath(ExtractFilePath(Content));
    converter.Load(ExtractFileName(Content));
    if (ContentWidth > 0 && ContentHeight > 0) {
      converter.DrawInto(c, x + p, y + p, x + p + ContentWidth,
                         y + p + ContentHeight);
    }
  }
  if (Border) DrawBorders(c, x, y, Width, Row ? Row->Height : Height);
}

void TTableDivision::DrawBorders(ReportCanvas& c, double x, double y,
                                 double width, double height) {
  if (BorderRight) {
    c.moveTo(x + width, y);
    c.lineTo(x + width, y + height);
  }
  if (BorderTop) {
    c.moveTo(x, y);
    c.lineTo(x + width, y);
  }
  if (BorderLeft) {
    c.moveTo(x, y);
    c.lineTo(x, y + height);
  }
  if (BorderBottom) {
    c.moveTo(x, y + height);
    c.lineTo(x + width, y + height);
  }
}

void TPCTable::Print() {
  Rows.clear();
  HasRowSpan = false;
  Layout();
}

void TPCTable::Layout() {
  TReportPrinter& printer = printer_;
  ReportCanvas& c = *printer.Report;
  // 1. Build.
  for (XmlNode rowNode : ReportChildren(Node)) {
    auto row = std::make_unique<TTableRow>();
    row->Node = rowNode;
    for (XmlNode cellNode : ReportChildren(rowNode)) {
      auto cell = std::make_unique<TTableDivision>();
      cell->Node = cellNode;
      if (std::optional<double> width = printer.Decimal(cellNode, "width")) {
        cell->Width = *width / 72;
        cell->HasWidth = true;
      }
      if (std::optional<WideString> border = cellNode.findAttribute("border")) {
        cell->Border = *border == u"1";
      }
      cell->RowSpan = printer.Integer(cellNode, "rowspan").value_or(1);
      row->Width += cell->Width;
      cell->Row = row.get();
      row->AddCell(std::move(cell));
    }
    Rows.push_back(std::move(row));
  }
  // 2. Measure.
  const double u = printer.PrintableWidth();
  for (std::size_t i = 0; i < Rows.size(); ++i) {
    TTableRow& row = *Rows[i];
    for (std::size_t j = 0; j < row.CellCount(); ++j) {
      TTableDivision& cell = *row.GetCell(j);
      if (!cell.HasWidth) {
        cell.Width =
            (u - row.Width) /
            static_cast<double>(row.CellCount() - row.FixedWidthCount());
      }
      cell.Measure(printer);
      if (cell.RowSpan > 1) {
        HasRowSpan = true;
        cell.SetBorderSides(true, true, true, false);
        // Cells below lend their borders to one box; missing ones are skipped.
        for (int k = 1; k < cell.RowSpan; ++k) {
          if (i + k >= Rows.size()) break;
          TTableDivision* below = Rows[i + k]->GetCell(j);
          if (!below) continue;
          below->Border = cell.Border;
          const bool last = k == cell.RowSpan - 1;
          below->SetBorderSides(true, false, true, last);
        }
      }
    }
  }
  // 3. Heights.
  TotalHeight = 0;
  for (auto& row : Rows) {
    row->Height = row->MaxCellHeight();
    TotalHeight += row->Height;
  }
  // 4. Draw.
  double x = c.MarginLeft, y = c.y;
  if (HasRowSpan && !printer.FitsOnPage(TotalHeight)) {
    printer.NewPage();
    y = c.MarginTop;
    c.x = x;
  }
  for (auto& row : Rows) {
    c.y = y;
    if (!printer.FitsOnPage(row->Height)) {
      printer.NewPage();
      y = c.MarginTop;
      c.x = x;
    }
    for (auto& cell : row->Cells) {
      cell->DrawCell(printer, x, y);
      x += cell->Width;
    }
    y += row->Height;
    c.y = y;
    x = c.MarginLeft;
  }
  c.goTo(c.MarginLeft, y);
}

}  // namespace zept
