// The PDF of a small report with pictures, read back: where every text and
// picture stands, page by page. The expected positions are literal; they
// must not move when the PDF writer or the picture path changes.

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <sstream>

#include "engine/pdf.h"
#include "engine/picture.h"
#include "moviehost/headless.h"
#include "platform/errors.h"
#include "report/ReportPrinter.h"
#include "util/fake_env.h"

namespace zept {
namespace {

using testing::FakeEnv;
using Lines = std::vector<std::string>;

std::string PngFile(int width, int height) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0,
                            nullptr);
  std::string out(size, '\0');
  png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0,
                            nullptr);
  out.resize(size);
  return out;
}

std::string JpegFile(int width, int height) {
  Bitmap b = FilledBitmap(width, height, 0xFF336699u);
  for (int x = 0; x < width; ++x) b.pixels[x] = 0xFFFFCC00u;
  return EncodeJpeg(b, 80);
}

// Each page's drawing, from an uncompressed PDF: "x y 'text'" for a text
// and "picture x y width height" for a picture, in points from the bottom
// left, as the content stream writes them. Image streams are skipped; the
// other streams are the pages' contents, in page order.
std::vector<Lines> PagesOf(const std::string& pdf) {
  std::vector<Lines> pages;
  std::size_t at = 0;
  for (;;) {
    const std::size_t start = pdf.find("stream\r\n", at);
    if (start == std::string::npos) break;
    const std::size_t end = pdf.find("endstream", start);
    const std::size_t dict = pdf.rfind("obj", start);
    at = end;
    if (pdf.substr(dict, start - dict).find("/Image") != std::string::npos)
      continue;
    Lines drawn;
    std::istringstream content(pdf.substr(start + 8, end - start - 8));
    std::string line, position;
    while (std::getline(content, line)) {
      const auto ends = [&line](const char* op) {
        const std::size_t n = std::strlen(op);
        return line.size() > n && line.compare(line.size() - n, n, op) == 0;
      };
      if (ends(" Td")) {
        position = line.substr(0, line.size() - 3);
      } else if (ends(" Tj")) {
        drawn.push_back(position + " " + line.substr(0, line.size() - 3));
      } else if (ends(" cm")) {
        std::istringstream m(line);
        std::string w, b, c, h, x, y;
        m >> w >> b >> c >> h >> x >> y;
        drawn.push_back("picture " + x + " " + y + " " + w + " " + h);
      }
    }
    pages.push_back(drawn);
  }
  return pages;
}

class PdfLayoutTest : public ::testing::Test, protected FakeEnv {
 protected:
  std::function<void(const WideString&)> print = [](const WideString&) {};
  platform::HeadlessWindow window{1280, 1024, print};
  platform::ScriptedDialogs dialogs{print};
  HeadlessHostFactory movies{{ctx, print, dialogs, window, u"/app/"}};

  PdfLayoutTest() {
    fake.files.addDirectory(u"/pics");
    fake.files.addFile(u"/pics/photo.jpg", JpegFile(120, 80));
    fake.files.addFile(u"/pics/chart.png", PngFile(300, 150));
  }

  std::string pdf(const std::string& xml, int* pageCount = nullptr,
                  bool compress = false) {
    PdfReportSystem pdf(ctx, 8.5, 11);
    pdf.KeepInMemory = true;
    pdf.Compress = compress;
    TReportPrinter printer({ctx, movies, u"/app/bin/"});
    printer.SetXml(xml);
    printer.SetReportSystem(&pdf);
    printer.SetMargins(0.5, 0.5, 0.5, 0.5);
    printer.Print();
    if (pageCount) *pageCount = pdf.pages();
    return pdf.document();
  }
  std::vector<Lines> render(const std::string& xml, int* pageCount) {
    return PagesOf(pdf(xml, pageCount));
  }
};

const std::string kSentence =
    "the unit was completed with a score of 92 after two attempts and a "
    "total time of four minutes.";

std::string Para(const std::string& position, int n) {
  return position + " (Paragraph " + std::to_string(n) + ": " + kSentence + ")";
}

std::string Filler(int paragraphs) {
  std::string xml;
  for (int i = 0; i < paragraphs; ++i)
    xml += "<p>Paragraph " + std::to_string(i) + ": " + kSentence + "</p>";
  return xml;
}

std::string SmallReport() {
  return "<report><p fontsize=\"14\">Results of the unit</p>"
         "<p>Every picture below is drawn from a file: a JPEG at its own size, "
         "a PNG made smaller, the same files again in a table, and a JPEG made "
         "larger.</p>"
         "<img src=\"/pics/photo.jpg\"/>"
         "<p align=\"center\">A centred caption</p>"
         "<img src=\"/pics/chart.png\" width=\"200\" height=\"100\" "
         "align=\"right\"/>"
         "<table>"
         "<tr><td width=\"144\" border=\"1\"><s>Unit 1</s></td>"
         "<td border=\"1\"><img src=\"/pics/chart.png\" width=\"300\" "
         "height=\"150\"/></td>"
         "<td border=\"1\" align=\"right\"><s>92</s></td></tr>"
         "<tr><td width=\"144\" border=\"1\"><s>Unit 2</s></td>"
         "<td border=\"1\"><img src=\"/pics/photo.jpg\"/></td>"
         "<td border=\"1\" align=\"right\"><s>80</s></td></tr>"
         "</table>" +
         Filler(23) +
         "<p>A long paragraph that does not fit on the first page: " +
         std::string(120, 'x') + " " + kSentence + " " + kSentence + " " +
         kSentence + "</p>" +
         "<img src=\"/pics/photo.jpg\" width=\"240\" height=\"160\"/>"
         "<img src=\"/pics/missing.png\" width=\"48\" height=\"48\"/>"
         "<p>The end</p></report>";
}

TEST_F(PdfLayoutTest, TextAndPicturesKeepTheirPlaces) {
  int pageCount = 0;
  const std::vector<Lines> pages = render(SmallReport(), &pageCount);
  // Points from the bottom left of Letter paper (612 x 792).
  const Lines page1 = {
      "36 746.12 (Results of the unit)",
      "36 729.32001 (Every picture below is drawn from a file: a JPEG at its "
      "own size, a PNG made smaller, the same files again in a table, and)",
      "36 717.32001 (a JPEG made larger.)",
      "picture 36 645.32001 90 60",
      "267.09 633.32001 (A centred caption)",
      "picture 426 546.32001 150 75",
      "40 522.32001 (Unit 1)",
      "picture 184 431.32001 190 99",
      "560.88 522.32001 (92)",
      "40 415.32001 (Unit 2)",
      "picture 184 363.32001 90 60",
      "560.88 415.32001 (80)",
      Para("36 359.32001", 0),
      Para("36 347.32001", 1),
      Para("36 335.32001", 2),
      Para("36 323.32001", 3),
      Para("36 311.32001", 4),
      Para("36 299.32001", 5),
      Para("36 287.32001", 6),
      Para("36 275.32001", 7),
      Para("36 263.32001", 8),
      Para("36 251.32001", 9),
      Para("36 239.32001", 10),
      Para("36 227.32001", 11),
      Para("36 215.32001", 12),
      Para("36 203.32001", 13),
      Para("36 191.32001", 14),
      Para("36 179.32001", 15),
      Para("36 167.32001", 16),
      Para("36 155.32001", 17),
      Para("36 143.32001", 18),
      Para("36 131.32001", 19),
      Para("36 119.32", 20),
      Para("36 107.32", 21),
      Para("36 95.32", 22),
      "36 83.32 (A long paragraph that does not fit on the first page:)",
      "36 71.32 (" + std::string(108, 'x') + ")",
      "36 59.32 (xxxxxxxxxxxx the unit was completed with a score of 92 after "
      "two attempts and a total time of four minutes. the unit was)",
  };
  const Lines page2 = {
      "36 746.12 (completed with a score of 92 after two attempts and a total "
      "time of four minutes. the unit was completed with a score of 92)",
      "36 734.12 (after two attempts and a total time of four minutes.)",
      "picture 36 602.12 180 120",
      "picture 36 554.12 36 36",
      "36 542.12 (The end)",
  };
  EXPECT_EQ(pageCount, 2);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], page1);
  EXPECT_EQ(pages[1], page2);
}

TEST_F(PdfLayoutTest, EachPictureAtEachSizeIsOneImageAndJpegsKeepTheirData) {
  const std::string doc = pdf(SmallReport());
  // Six pictures drawn: the photo twice at its own size, the chart at two
  // sizes, the photo enlarged and a missing file.
  std::size_t images = 0;
  for (std::size_t at = doc.find("/Subtype /Image"); at != std::string::npos;
       at = doc.find("/Subtype /Image", at + 1)) {
    ++images;
  }
  EXPECT_EQ(images, 5u);
  EXPECT_NE(doc.find(JpegFile(120, 80)), std::string::npos);
}

// The document's objects in order: their /Type (and /Subtype), "stream" or
// "value" for the others.
std::vector<std::string> ObjectsOf(const std::string& pdf) {
  std::vector<std::string> kinds;
  for (std::size_t at = pdf.find(" 0 obj\n"); at != std::string::npos;
       at = pdf.find(" 0 obj\n", at + 1)) {
    const std::string body = pdf.substr(at, pdf.find("endobj", at) - at);
    auto name = [&body](const char* key) {
      const std::size_t k = body.find(key);
      if (k == std::string::npos) return std::string();
      const std::size_t from = k + std::strlen(key);
      return body.substr(from, body.find_first_of(" \n", from) - from);
    };
    std::string kind = name("/Type /");
    if (const std::string sub = name("/Subtype /"); !sub.empty())
      kind += "/" + sub;
    if (kind.empty())
      kind = body.find("stream\r\n") != std::string::npos ? "stream" : "value";
    kinds.push_back(kind);
  }
  return kinds;
}

TEST_F(PdfLayoutTest, ObjectsComeInTheOrderTheyAreDrawn) {
  // Pages, their contents and lengths, fonts, and each picture's image with
  // its length where it is first drawn; the photo drawn again on page 1 is
  // the same image.
  using Kinds = std::vector<std::string>;
  EXPECT_EQ(
      ObjectsOf(pdf(SmallReport())),
      (Kinds{"Catalog",       "Pages",         "value",         "Font/Type1",
             "Font/Type1",    "Page",          "stream",        "value",
             "XObject/Image", "value",         "XObject/Image", "value",
             "XObject/Image", "value",         "Page",          "stream",
             "value",         "XObject/Image", "value",         "XObject/Image",
             "value"}));
}

// The data of each stream that is not an image, in order.
std::vector<std::string> ContentStreams(const std::string& pdf) {
  std::vector<std::string> streams;
  for (std::size_t at = pdf.find("stream\r\n"); at != std::string::npos;
       at = pdf.find("stream\r\n", at + 1)) {
    const std::size_t dict = pdf.rfind("obj", at);
    if (pdf.compare(at - 3, 3, "end") == 0 ||
        pdf.substr(dict, at - dict).find("/Image") != std::string::npos) {
      continue;
    }
    streams.push_back(pdf.substr(at + 8, pdf.find("endstream", at) - at - 9));
  }
  return streams;
}

TEST_F(PdfLayoutTest, CompressedPagesHoldTheSameContent) {
  std::string xml = SmallReport();
  xml.insert(xml.rfind("</report>"), "<pg/>");  // and an empty page
  const std::string plain = pdf(xml), packed = pdf(xml, nullptr, true);
  const std::vector<std::string> pages = ContentStreams(plain);
  const std::vector<std::string> compressed = ContentStreams(packed);
  ASSERT_EQ(pages.size(), 3u);  // the last one empty
  ASSERT_EQ(compressed.size(), 3u);
  EXPECT_TRUE(compressed[2].empty());
  for (std::size_t i = 0; i < 2; ++i) {
    std::string inflated(pages[i].size(), '\0');
    uLongf size = inflated.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &size,
                         reinterpret_cast<const Bytef*>(compressed[i].data()),
                         compressed[i].size()),
              Z_OK);
    EXPECT_EQ(inflated.substr(0, size), pages[i]);
  }
  EXPECT_NE(packed.find("/Length 8 0 R\n/Filter [ /FlateDecode ]\n>>"),
            std::string::npos);
  EXPECT_EQ(plain.find("/FlateDecode"), std::string::npos);
}

TEST_F(PdfLayoutTest, AWordLongerThanTheWritersLongestTextIsCutIntoLines) {
  int pages = 0;
  const std::vector<Lines> drawn =
      render("<r><p>" + std::string(70000, 'W') + "</p></r>", &pages);
  EXPECT_GT(pages, 10);
  EXPECT_EQ(drawn[0][0], "36 746.12 (" + std::string(57, 'W') + ")");
}

TEST_F(PdfLayoutTest, FontSizesTheWriterRefusesEndTheReport) {
  for (const char* size : {"601", "1000"}) {
    try {
      pdf("<r><p>fine</p><p fontsize=\"" + std::string(size) +
          "\">too big</p></r>");
      ADD_FAILURE() << size;
    } catch (const EZeptError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("PDF writer error 0x1050", 0), 0u)
          << e.what();
    }
  }
  const std::string largest = pdf("<r><p fontsize=\"600\">x</p></r>");
  EXPECT_NE(largest.find("/F1 600 Tf"), std::string::npos);
}

}  // namespace
}  // namespace zept
