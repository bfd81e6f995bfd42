#include <gtest/gtest.h>

#include "engine/pdf.h"
#include "moviehost/headless.h"
#include "platform/errors.h"
#include "report/ReportPrinter.h"
#include "report/recording.h"
#include "util/fake_env.h"

namespace zept {
namespace {

using testing::FakeEnv;

// Letter paper, half-inch margins: 7.5 x 10 inches to print on. Text is
// half an em a character; a 10-point line is 1/6 inch and its descent
// 2.12/72 inch, so the first baseline is at 0.637 inch.
class ReportTest : public ::testing::Test, protected FakeEnv {
 protected:
  std::function<void(const WideString&)> print = [](const WideString&) {};
  platform::HeadlessWindow window{1280, 1024, print};
  platform::ScriptedDialogs dialogs{print};
  HeadlessHostFactory movies{{ctx, print, dialogs, window, u"/app/"}};
  RecordingReportSystem system;

  std::vector<std::string> run(const std::string& xml, bool numbers = false,
                               int first = 1) {
    system.canvas.ops.clear();
    TReportPrinter printer({ctx, movies, u"/app/bin/"});
    printer.SetXml(xml);
    printer.SetReportSystem(&system);
    printer.SetMargins(0.5, 0.5, 0.5, 0.5);
    printer.SetShowPageNumbers(numbers);
    printer.SetFirstNumberedPage(first);
    printer.Print();
    return system.canvas.ops;
  }
  std::vector<std::string> texts(const std::string& xml) {
    std::vector<std::string> out;
    for (const std::string& op : run(xml)) {
      if (op.rfind("text ", 0) == 0) out.push_back(op);
    }
    return out;
  }
};

using Ops = std::vector<std::string>;

TEST_F(ReportTest, EmptyReportStartsNoOutput) {
  EXPECT_TRUE(run("").empty());
  EXPECT_EQ(system.executions, 0);
}

TEST_F(ReportTest, MalformedXmlEndsTheRequestBeforeOutput) {
  EXPECT_THROW(run("<export><p>unclosed</export>"), EXmlError);
  EXPECT_EQ(system.executions, 0);
}

TEST_F(ReportTest, WalkRules) {
  const std::string hello = "text 1 0.500 0.637 10 'Hello'";
  EXPECT_EQ(texts("<r><p>Hello</p></r>"), Ops{hello});
  EXPECT_EQ(texts("<r><p><![CDATA[Hello]]></p></r>"), Ops{hello});
  EXPECT_EQ(texts("<r><p><font>Hello</font></p></r>"), Ops{hello});
  EXPECT_EQ(texts("<r><div><p>A</p><p>B</p></div></r>").size(), 2u);
  EXPECT_TRUE(texts("<r><div><p>A</p></div></r>").empty());
  EXPECT_TRUE(texts("<r><p><b>A</b><b>B</b></p></r>").empty());
  EXPECT_TRUE(texts("<r><p>A<b>x</b>B</p></r>").empty());
  EXPECT_TRUE(texts("<r><p><!-- c -->text</p></r>").empty());
  EXPECT_TRUE(
      texts("<r><P>Hello</P><TABLE><tr><td><s>x</s></td></tr></TABLE></r>")
          .empty());
  EXPECT_EQ(texts("<r>\n  <p>\n    Hello\n  </p>\n</r>").size(), 1u);
}

TEST_F(ReportTest, ParagraphsFontSizesAndAlignment) {
  const Ops ops = texts(
      "<r><p fontsize=\"20\">Big</p><p>Small</p><p align=\"right\">R</p>"
      "<p align=\"Center\">L</p><p indent=\"36\">I</p><p></p><p>End</p></r>");
  // 20 points: a line of 1/3 inch; the next paragraph is 10 points again.
  EXPECT_EQ(ops,
            (Ops{"text 1 0.500 0.637 20 'Big'", "text 1 0.500 0.971 10 'Small'",
                 "text 1 7.931 1.137 10 'R'", "text 1 0.500 1.304 10 'L'",
                 "text 1 1.000 1.471 10 'I'", "text 1 0.500 1.637 10 'End'"}));
}

TEST_F(ReportTest, LongParagraphsBreakAcrossPages) {
  // 108 characters fill a line at 10 points: each word here is one line.
  std::string words;
  for (int i = 0; i < 70; ++i) words += std::string(100, 'a' + i % 26) + " ";
  const Ops ops = texts("<r><p>" + words + "</p></r>");
  ASSERT_EQ(ops.size(), 70u);
  // 10 inches hold 59 lines on page 1; the rest go on page 2 from the top.
  EXPECT_EQ(ops[58].substr(0, 24), "text 1 0.500 10.304 10 '");
  EXPECT_EQ(ops[59].substr(0, 23), "text 2 0.500 0.637 10 '");

  // With 0.5 inch or less left, the paragraph starts on the next page.
  std::string fill;
  for (int i = 0; i < 57; ++i) fill += "<br/>";
  const Ops late =
      texts("<r>" + fill + "<p>one two</p><p>" + words + "</p></r>");
  EXPECT_EQ(late[1].substr(0, 23), "text 2 0.500 0.637 10 '");
}

TEST_F(ReportTest, LinesKeepTheBlanksBetweenWordsButNoneBeforeTheirFirst) {
  // 108 characters fill a line: the blank after the 107th still fits, the
  // next word does not.
  const std::string a107(107, 'a');
  EXPECT_EQ(texts("<r><p>  a  b</p><p>" + a107 + "  b</p></r>"),
            (Ops{"text 1 0.500 0.637 10 'a  b'",
                 "text 1 0.500 0.804 10 '" + a107 + " '",
                 "text 1 0.500 0.971 10 'b'"}));
}

TEST_F(ReportTest, Rules) {
  const Ops ops =
      run("<r><hr/><hr width=\"150\"/><hr width=\"-50\" align=\"left\"/>"
          "<hr width=\"50\" align=\"right\"/><hr width=\"50\"/><hr "
          "align=\"left\"/></r>");
  EXPECT_EQ(
      ops,
      (Ops{"line 1 0.500 0.637 8.000 0.637", "line 1 0.500 0.804 8.000 0.804",
           "line 1 0.500 0.971 4.250 0.971", "line 1 4.250 1.137 8.000 1.137",
           "line 1 2.375 1.304 6.125 1.304", "line 1 0.500 1.471 8.000 1.471",
           "page 1"}));
}

TEST_F(ReportTest, PicturesScaleOnlyWhenWideAndMoveToTheNextPage) {
  const Ops ops =
      run("<r><img src=\"/pics/a.png\" width=\"1200\" height=\"600\"/>"
          "<img src=\"/pics/b.png\" width=\"600\" height=\"1200\" "
          "align=\"center\"/></r>");
  EXPECT_EQ(ops, (Ops{"bitmap 1 0.500 0.637 8.000 4.387 720x360", "page 1",
                      "bitmap 2 1.125 0.500 7.375 13.000 600x1200", "page 2"}));
}

TEST_F(ReportTest, PageNumbers) {
  const std::string pages = "<r><p>a</p><pg/><p>b</p><pg/><p>c</p></r>";
  Ops feet;
  for (const std::string& op : run(pages, true)) {
    if (op.find("'Page") != std::string::npos) feet.push_back(op);
  }
  EXPECT_EQ(feet, (Ops{"text 1 7.700 10.600 10i 'Page 1'",
                       "text 2 7.700 10.600 10i 'Page 2'",
                       "text 3 7.600 10.600 10i 'Page 3 / 3'"}));
  feet.clear();
  for (const std::string& op : run(pages, true, 2)) {
    if (op.find("'Page") != std::string::npos) feet.push_back(op);
  }
  EXPECT_EQ(feet, (Ops{"text 2 7.700 10.600 10i 'Page 1'",
                       "text 3 7.600 10.600 10i 'Page 2 / 2'"}));
}

TEST_F(ReportTest, NumbersFollowTheLocale) {
  EXPECT_THROW(run("<r><p fontsize=\"12,5\">x</p></r>"), EConvertError);
  fake.clock.settings.decimalSeparator = u',';
  EXPECT_EQ(texts("<r><p FONTSIZE=\"12,5\">x</p></r>"),
            Ops{"text 1 0.500 0.637 12.5 'x'"});
}

TEST_F(ReportTest, TableWidthsHeightsAndBorders) {
  const Ops ops =
      run("<r><table><tr><td border=\"1\"><s>a</s></td><td "
          "width=\"180\"/><td/></tr>"
          "<tr><td/><td/></tr></table><p>after</p></r>");
  // Three cells of 2.5 inches; the text cell is one line plus 8 points high.
  EXPECT_EQ(ops[0], "text 1 0.556 0.804 10 'a'");  // the row's top + 1/6 inch
  EXPECT_EQ(ops[1], "line 1 3.000 0.637 3.000 0.915");
  EXPECT_EQ(ops[2], "line 1 0.500 0.637 3.000 0.637");
  EXPECT_EQ(ops[3], "line 1 0.500 0.637 0.500 0.915");
  EXPECT_EQ(ops[4], "line 1 0.500 0.915 3.000 0.915");
  // No line feed after the table: the next text stands on y = 0.915.
  EXPECT_EQ(ops[5], "text 1 0.500 0.915 10 'after'");
}

TEST_F(ReportTest, PictureCellsAndRowSpans) {
  const Ops ops =
      run("<r><table><tr><td width=\"144\"><img src=\"/p.png\" width=\"300\" "
          "height=\"150\"/></td>"
          "<td rowspan=\"3\" border=\"1\"><s>x</s></td></tr>"
          "<tr><td width=\"144\"/><td/></tr><tr><td "
          "width=\"144\"/><td/></tr></table></r>");
  // 3.125 inches of picture in a 2-inch cell: 2 - 8/72 wide, 1 inch high.
  EXPECT_EQ(ops[0], "bitmap 1 0.556 0.693 2.444 1.693 181x96");
  // One box over three rows: the rows below draw only sides and the bottom.
  Ops lines(ops.begin() + 2, ops.end() - 1);
  EXPECT_EQ(
      lines,
      (Ops{"line 1 8.000 0.637 8.000 1.748", "line 1 2.500 0.637 8.000 0.637",
           "line 1 2.500 0.637 2.500 1.748", "line 1 8.000 1.748 8.000 1.748",
           "line 1 2.500 1.748 2.500 1.748", "line 1 8.000 1.748 8.000 1.748",
           "line 1 2.500 1.748 2.500 1.748",
           "line 1 2.500 1.748 8.000 1.748"}));
}

TEST_F(ReportTest, TextCellsWithoutRoomEndTheReport) {
  try {
    run("<r><table><tr><td width=\"8\"><s>x</s></td></tr></table></r>");
    FAIL();
  } catch (const EZeptError& e) {
    EXPECT_STREQ(e.what(),
                 "TMemoBuf.PrintEnd must be greater than TMemoBuf.PrintStart");
  }
  EXPECT_EQ(run("<r><table/><p>x</p></r>")[0], "text 1 0.500 0.637 10 'x'");
}

TEST_F(ReportTest, PdfCarriesFontsByNameAndPicturesAsJpeg) {
  PdfReportSystem pdf(ctx, 8.5, 11);
  pdf.KeepInMemory = true;
  pdf.Compress = false;
  TReportPrinter printer({ctx, movies, u"/app/bin/"});
  printer.SetXml(
      "<r><p>Caf\xE9 &#8364;</p><img src=\"/x.png\" width=\"20\" "
      "height=\"10\"/></r>");
  printer.SetReportSystem(&pdf);
  printer.SetMargins(0.5, 0.5, 0.5, 0.5);
  printer.Print();
  const std::string& doc = pdf.document();
  EXPECT_EQ(doc.rfind("%PDF-", 0), 0u);
  EXPECT_NE(doc.find("/BaseFont /Helvetica"), std::string::npos);
  EXPECT_NE(doc.find("/Encoding /WinAnsiEncoding"), std::string::npos);
  EXPECT_EQ(doc.find("/FontFile"), std::string::npos);
  EXPECT_NE(doc.find("/DCTDecode"), std::string::npos);
  // WinAnsi bytes, written as octal escapes: é is 351, € is 200.
  EXPECT_NE(doc.find("(Caf\\351 \\200) Tj"), std::string::npos);
  EXPECT_NE(doc.find("\n36 746.1"),
            std::string::npos);  // 0.5 in; 11 - 0.637 in
  EXPECT_EQ(pdf.pages(), 1);
}

}  // namespace
}  // namespace zept

namespace zept {
namespace {

TEST_F(ReportTest,
       ALineTallerThanAPageIsPrintedOnAFreshPageAndTheReportGoesOn) {
  // One character at 1000 points: a line of nearly 17 inches.
  const Ops ops =
      texts("<r><p>first</p><p fontsize=\"1000\">i</p><p>after</p></r>");
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[1].substr(0, 7), "text 2 ");
  EXPECT_NE(ops[1].find("1000 'i'"), std::string::npos);
  EXPECT_EQ(ops[2].substr(0, 7), "text 3 ");
}

TEST_F(ReportTest, FormulasGoThroughTheFormulaPlayer) {
  const Ops ops =
      run("<r><mathml><math><mi>x</mi></math></mathml><mathml/></r>");
  EXPECT_EQ(ops, (Ops{"bitmap 1 0.500 0.637 2.583 1.679 200x100", "page 1"}));
}

}  // namespace
}  // namespace zept
