#include "engine/pdf.h"

#include <hpdf.h>
// libharu's page and stream records (installed with it): the canvas writes
// page contents into them itself.
#include <hpdf_pages.h>
#include <hpdf_streams.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>

#include "engine/bidi.h"
#include "engine/pdf_fonts.h"
#include "engine/pdf_workers.h"
#include "engine/picture.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "util/utf8.h"

namespace zept {
namespace {

constexpr int kJpegQuality = 90;
// Pictures and pages drawn but not yet handed to the writer, at most: a
// picture holds its JPEG data, a page its content (a few kilobytes).
constexpr std::size_t kPicturesWaiting = 4;
constexpr std::size_t kPagesWaiting = 64;

void OnHaruError(HPDF_STATUS code, HPDF_STATUS detail, void* user) {
  auto* error = static_cast<HaruError*>(user);
  if (error->code == HPDF_OK) {
    error->code = code;
    error->detail = detail;
  }
}

// Page content written the way libharu's own operators write it, byte for
// byte, without a library call (and its scratch buffers) per operator.
namespace content {

// A number as HPDF_FToA writes it: at most five decimals, computed in the
// library's float arithmetic, trailing zeros and point dropped.
void Real(std::string& out, HPDF_REAL val) {
  if (val > HPDF_LIMIT_MAX_REAL)
    val = HPDF_LIMIT_MAX_REAL;
  else if (val < HPDF_LIMIT_MIN_REAL)
    val = HPDF_LIMIT_MIN_REAL;
  char digits[HPDF_REAL_LEN + 1];
  char* t = digits + HPDF_REAL_LEN;
  *t-- = 0;
  char text[HPDF_REAL_LEN + 2];
  char* s = text;
  if (val < 0) {
    *s++ = '-';
    val = -val;
  }
  HPDF_INT32 intPart = static_cast<HPDF_INT32>(val + 0.000005);
  HPDF_INT32 fraction = static_cast<HPDF_INT32>(
      static_cast<HPDF_REAL>(val - intPart + 0.000005) * 100000);
  for (int i = 0; i < 5; ++i) {
    *t-- = static_cast<char>(fraction % 10 + '0');
    fraction /= 10;
  }
  *t-- = '.';
  *t = '0';
  if (intPart == 0) t--;
  while (intPart > 0) {
    *t-- = static_cast<char>(intPart % 10 + '0');
    intPart /= 10;
  }
  ++t;
  while (*t != 0) *s++ = *t++;
  // Drop the zeros that end the decimals, and the point when none is left.
  const char* first = text;
  --s;
  while (s > first) {
    if (*s == '0') {
      --s;
      continue;
    }
    if (*s == '.') --s;
    break;
  }
  out.append(text, static_cast<std::size_t>(s + 1 - text));
}

void Pair(std::string& out, HPDF_REAL x, HPDF_REAL y, const char* op) {
  Real(out, x);
  out += ' ';
  Real(out, y);
  out += op;
}

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c > 0x7e || c == '\\' || c == '%' || c == '#' ||
         c == '/' || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' ||
         c == ']' || c == '{' || c == '}';
}

// A literal string: other bytes as three-digit octal escapes.
void Text(std::string& out, std::string_view text) {
  out += '(';
  std::size_t plain = 0;  // start of the bytes not yet written
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!NeedsEscape(c)) continue;
    out.append(text, plain, i - plain);
    const char escape[4] = {'\\', static_cast<char>('0' + (c >> 6)),
                            static_cast<char>('0' + ((c >> 3) & 7)),
                            static_cast<char>('0' + (c & 7))};
    out.append(escape, 4);
    plain = i + 1;
  }
  out.append(text, plain, text.size() - plain);
  out += ')';
}

}  // namespace content

HPDF_REAL Pt(double inches) { return static_cast<HPDF_REAL>(inches * 72); }

// Writes "/Filter [ /FlateDecode ]" for a page whose content is compressed
// already, exactly where libharu writes it for a stream it compresses.
HPDF_STATUS WriteFlateFilter(HPDF_Dict, HPDF_Stream stream) {
  static const char kFilter[] = "/Filter [ /FlateDecode ]\012";
  return HPDF_Stream_Write(stream, reinterpret_cast<const HPDF_BYTE*>(kFilter),
                           sizeof kFilter - 1);
}

// The canvas writes each page's content itself and keeps, in order, what
// libharu must see: pages begun, fonts and images first used on a page,
// and each page's content once it is complete. Pictures are made and page
// contents compressed on the workers; the writer gets its calls in the
// order that drawing straight through makes them, as soon as what they
// need is ready, so the document comes out as it would without workers.
class PdfCanvas final : public ReportCanvas {
 public:
  // With textFonts, text is UTF-8 (see PdfReportSystem::Utf8Text).
  PdfCanvas(HPDF_Doc doc, HaruError& error, double width, double height,
            platform::FileSystem& files, bool compress,
            const std::vector<std::string>* textFonts,
            std::vector<std::string>& notes)
      : doc_(doc),
        error_(error),
        width_(width),
        height_(height),
        compress_(compress),
        workers_(files, kJpegQuality, PdfWorkers::DefaultThreads()) {
    regular_.font = HPDF_GetFont(doc, "Helvetica", "WinAnsiEncoding");
    oblique_.font = HPDF_GetFont(doc, "Helvetica-Oblique", "WinAnsiEncoding");
    check();
    // A text's width in these fonts is the sum of its characters' widths.
    for (Font* f : {&regular_, &oblique_}) {
      for (int b = 0; b < 256; ++b) {
        const HPDF_BYTE byte = static_cast<HPDF_BYTE>(b);
        f->widths[b] = static_cast<std::uint16_t>(
            HPDF_Font_TextWidth(f->font, &byte, 1).width);
      }
    }
    check();
    if (textFonts)
      textFonts_ = std::make_unique<TextFonts>(doc, error, *textFonts, notes);
  }

  double pageWidth() const override { return width_; }
  double pageHeight() const override { return height_; }
  int pagesStarted() const { return started_; }

  const CharWidths& charWidths() const override { return font().widths; }
  bool utf8Text() const override { return textFonts_ != nullptr; }
  void byteUnits(std::string_view text,
                 std::vector<std::uint32_t>& units) const override {
    if (!textFonts_) return ReportCanvas::byteUnits(text, units);
    units.assign(text.size(), 0);
    std::u32string codes;
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size();) {
      const Utf8Char c = ReadUtf8(text, i, Utf8Bad::kByte);
      codes += c.code;
      starts.push_back(i);
      i += c.length;
    }
    const std::u32string forms = DrawnForms(codes);
    const std::vector<int> fonts = textFonts_->choose(forms);
    for (std::size_t k = 0; k < forms.size(); ++k) {
      if (forms[k] != 0) units[starts[k]] = unitsOf(fonts[k], forms[k]);
    }
  }

  void drawBitmap(double x1, double y1, double x2, double y2,
                  const Bitmap& bitmap) override {
    // An empty bitmap makes no picture.
    if (bitmap.width <= 0 || bitmap.height <= 0) return;
    drawImage(workers_.bitmap(bitmap), x1, y1, x2, y2);
  }
  void drawPicture(double x1, double y1, double x2, double y2,
                   const WideString& file, int width, int height) override {
    if (width <= 0 || height <= 0) return;
    drawImage(workers_.file(file, width, height), x1, y1, x2, y2);
  }

  // Everything drawn is in the writer.
  void flush() {
    while (!ops_.empty()) apply(true);
  }
  // Before the document is written.
  void finishFonts() {
    if (textFonts_) textFonts_->finish();
  }

 protected:
  void drawText(double x, double y, std::string_view text) override {
    const HPDF_REAL size = checkedSize();
    // As libharu takes a text: up to a NUL, 65535 bytes at most.
    text = text.substr(0, std::min(text.find('\0'), std::size_t{65535}));
    if (!textFonts_) return drawAnsi(x, y, size, text);
    std::u32string codes;
    std::string ansi;
    bool allAnsi = true;
    for (std::size_t i = 0; i < text.size();) {
      const Utf8Char c = ReadUtf8(text, i, Utf8Bad::kByte);
      codes += c.code;
      const int byte = AnsiByteOf(c.code);
      allAnsi = allAnsi && byte >= 0;
      if (allAnsi) ansi += static_cast<char>(byte);
      i += c.length;
    }
    // What WinAnsi holds is written as it is without UTF-8 text.
    if (allAnsi) return drawAnsi(x, y, size, ansi);
    drawUnicode(x, y, size, codes);
  }

 private:
  // libharu's limits, checked as HPDF_Page_SetFontAndSize checks them.
  HPDF_REAL checkedSize() const {
    const HPDF_REAL size = static_cast<HPDF_REAL>(fontSize());
    if (size <= 0 || size > HPDF_MAX_FONTSIZE) {
      ThrowHaruError(HPDF_PAGE_INVALID_FONT_SIZE,
                     static_cast<HPDF_STATUS>(static_cast<std::int64_t>(size)));
    }
    return size;
  }

  void drawAnsi(double x, double y, HPDF_REAL size, std::string_view text) {
    const Font& f = font();
    const std::string name = fontName(f.font);
    std::string& out = content_;
    out += "BT\012/";
    out += name;
    out += ' ';
    content::Real(out, size);
    out += " Tf\012";
    content::Pair(out, Pt(x), Pt(height_ - y), " Td\012");
    // A text of no width is not shown.
    std::uint64_t units = 0;
    for (char ch : text) units += f.widths[static_cast<unsigned char>(ch)];
    if (units > 0) {
      content::Text(out, text);
      out += " Tj\012";
    }
    out += "ET\012";
  }

  // Runs of one font each, left to right, in one text object: each run's
  // glyphs move the pen by their widths, as they were measured.
  void drawUnicode(double x, double y, HPDF_REAL size,
                   const std::u32string& codes) {
    const std::vector<DrawnChar> drawn = VisualLine(codes);
    std::u32string visual;
    for (const DrawnChar& d : drawn) visual += d.code;
    const std::vector<int> fonts = textFonts_->choose(visual);
    std::string& out = content_;
    out += "BT\012";
    bool placed = false;
    for (std::size_t i = 0; i < drawn.size();) {
      const int k = fonts[i];
      std::size_t end = i;
      while (end < drawn.size() && fonts[end] == k) ++end;
      std::string shown;
      std::uint64_t units = 0;
      HPDF_Font pdfFont = font().font;
      if (k < 0) {
        for (std::size_t j = i; j < end; ++j) {
          int byte = AnsiByteOf(drawn[j].code);
          if (k == TextFonts::kMissing || byte < 0) {
            for (char32_t c : drawn[j].text) textFonts_->missing(c);
            byte = '?';
          }
          shown += static_cast<char>(byte);
          units += font().widths[static_cast<unsigned char>(byte)];
        }
      } else {
        pdfFont = textFonts_->font(k);
        shown = "<";
        for (std::size_t j = i; j < end; ++j) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "%04X",
                        static_cast<unsigned>(drawn[j].code));
          shown += hex;
          units += textFonts_->units(k, drawn[j].code);
          textFonts_->use(k, drawn[j].code, drawn[j].text);
        }
        shown += ">";
      }
      i = end;
      // A run of no width is not shown.
      if (units == 0) continue;
      out += '/';
      out += fontName(pdfFont);
      out += ' ';
      content::Real(out, size);
      out += " Tf\012";
      if (!placed) {
        content::Pair(out, Pt(x), Pt(height_ - y), " Td\012");
        placed = true;
      }
      if (k < 0)
        content::Text(out, shown);
      else
        out += shown;
      out += " Tj\012";
    }
    out += "ET\012";
  }

  std::uint32_t unitsOf(int k, char32_t code) const {
    if (k >= 0) return textFonts_->units(k, code);
    const int byte = k == TextFonts::kMissing ? -1 : AnsiByteOf(code);
    return font().widths[static_cast<unsigned char>(byte < 0 ? '?' : byte)];
  }

 protected:
  void drawLine(double x1, double y1, double x2, double y2) override {
    content_ += "0.75 w\012";
    content::Pair(content_, Pt(x1), Pt(height_ - y1), " m\012");
    content::Pair(content_, Pt(x2), Pt(height_ - y2), " l\012");
    content_ += "S\012";
  }
  void beginPage() override {
    pageFonts_.clear();
    pageImages_.clear();
    push(Op(Op::Page));
  }
  void endPage() override {
    Op op(Op::Content);
    if (compress_ && !content_.empty()) {
      op.job = workers_.deflate(std::move(content_));
    } else {
      op.bytes = std::move(content_);
    }
    content_.clear();
    push(std::move(op));
  }

 private:
  struct Font {
    HPDF_Font font = nullptr;
    CharWidths widths{};
  };
  struct Op {
    enum Kind { Page, Content, UseFont, UseImage };
    explicit Op(Kind k) : kind(k) {}
    Kind kind;
    std::string bytes;  // the content, or the name on the page
    HPDF_Font font = nullptr;
    PdfWorkers::Ticket job;  // the picture, or the compressed content
  };

  const Font& font() const { return italic() ? oblique_ : regular_; }

  // The page's name for a font: F1, F2, ... in the order of first use, as
  // libharu names them when they join the page's resources.
  std::string fontName(HPDF_Font f) {
    const auto at = std::find(pageFonts_.begin(), pageFonts_.end(), f);
    if (at != pageFonts_.end())
      return "F" + std::to_string(at - pageFonts_.begin() + 1);
    pageFonts_.push_back(f);
    Op use(Op::UseFont);
    use.font = f;
    use.bytes = "F" + std::to_string(pageFonts_.size());
    const std::string name = use.bytes;
    push(std::move(use));
    return name;
  }

  // As HPDF_Page_DrawImage writes it; the image's name on the page is X1,
  // X2, ... in the order of first use.
  void drawImage(PdfWorkers::Ticket job, double x1, double y1, double x2,
                 double y2) {
    const auto at = std::find(pageImages_.begin(), pageImages_.end(), job);
    std::string name;
    if (at != pageImages_.end()) {
      name = "X" + std::to_string(at - pageImages_.begin() + 1);
    } else {
      pageImages_.push_back(job);
      Op use(Op::UseImage);
      use.job = std::move(job);
      use.bytes = "X" + std::to_string(pageImages_.size());
      name = use.bytes;
      push(std::move(use));
    }
    std::string& out = content_;
    out += "q\012";
    content::Real(out, Pt(x2 - x1));
    out += " 0 0 ";
    content::Real(out, Pt(y2 - y1));
    out += ' ';
    content::Pair(out, Pt(x1), Pt(height_ - y2), " cm\012/");
    out += name;
    out += " Do\012Q\012";
  }

  // What is ready goes to the writer at once, so that data is freed early;
  // no more than a few pictures and pages wait for the workers.
  void push(Op op) {
    if (op.job) ++(op.kind == Op::Content ? pagesWaiting_ : picturesWaiting_);
    ops_.push_back(std::move(op));
    while (!ops_.empty() && apply(picturesWaiting_ > kPicturesWaiting ||
                                  pagesWaiting_ > kPagesWaiting)) {
    }
  }

  // Hands the first operation to the writer; false when it waits for a
  // worker and wait is false.
  bool apply(bool wait) {
    Op& op = ops_.front();
    if (op.job && !wait && !workers_.done(op.job) &&
        !(op.kind == Op::UseImage && images_.count(op.job.get()))) {
      return false;
    }
    switch (op.kind) {
      case Op::Page:
        page_ = HPDF_AddPage(doc_);
        check();
        HPDF_Page_SetWidth(page_, Pt(width_));
        HPDF_Page_SetHeight(page_, Pt(height_));
        ++started_;
        break;
      case Op::Content:
        writeContent(op);
        break;
      case Op::UseFont:
        expectName(HPDF_Page_GetLocalFontName(page_, op.font), op.bytes);
        break;
      case Op::UseImage:
        expectName(HPDF_Page_GetXObjectName(page_, image(op.job)), op.bytes);
        break;
    }
    check();
    if (op.job) --(op.kind == Op::Content ? pagesWaiting_ : picturesWaiting_);
    ops_.pop_front();
    return true;
  }

  // The document's image for a picture, loaded when first used: each
  // picture job is one image, however often it is drawn.
  HPDF_Image image(const PdfWorkers::Ticket& job) {
    auto known = images_.find(job.get());
    if (known != images_.end()) return known->second;
    const std::string& jpeg = workers_.result(job);
    HPDF_Image loaded = HPDF_LoadJpegImageFromMem(
        doc_, reinterpret_cast<const HPDF_BYTE*>(jpeg.data()),
        static_cast<HPDF_UINT>(jpeg.size()));
    check();
    workers_.release(job);
    images_.emplace(job.get(), loaded);
    loadedJobs_.push_back(job);
    return loaded;
  }

  void writeContent(Op& op) {
    auto* attr = static_cast<HPDF_PageAttr>(page_->attr);
    const std::string& bytes = op.job ? workers_.result(op.job) : op.bytes;
    if (!bytes.empty()) {
      const HPDF_STATUS written = HPDF_Stream_Write(
          attr->stream, reinterpret_cast<const HPDF_BYTE*>(bytes.data()),
          static_cast<HPDF_UINT>(bytes.size()));
      if (written != HPDF_OK) ThrowHaruError(written, 0);
    }
    if (compress_) {
      attr->contents->filter = HPDF_STREAM_FILTER_NONE;
      attr->contents->write_fn = WriteFlateFilter;
    }
    if (op.job) workers_.release(op.job);
  }

  void expectName(const char* name, const std::string& expected) {
    check();
    if (!name || expected != name)
      throw EZeptError("PDF writer: unexpected resource name");
  }

  void check() {
    if (error_.code != HPDF_OK) ThrowHaruError(error_.code, error_.detail);
  }

  HPDF_Doc doc_;
  HaruError& error_;
  double width_, height_;
  bool compress_;
  Font regular_, oblique_;
  PdfWorkers workers_;
  std::deque<Op> ops_;
  // Operations in ops_ with a job.
  std::size_t picturesWaiting_ = 0, pagesWaiting_ = 0;
  std::string content_;  // of the page being drawn
  std::vector<HPDF_Font> pageFonts_;
  std::vector<PdfWorkers::Ticket> pageImages_;
  std::map<const PdfWorkers::Job*, HPDF_Image> images_;
  std::vector<PdfWorkers::Ticket> loadedJobs_;  // keeps images_' keys alive
  HPDF_Page page_ = nullptr;
  int started_ = 0;
  std::unique_ptr<TextFonts> textFonts_;  // with UTF-8 text only
};

struct HaruDoc {
  HPDF_Doc doc;
  ~HaruDoc() {
    if (doc) HPDF_Free(doc);
  }
};

}  // namespace

std::vector<std::string> DefaultTextFonts() {
  return {"/usr/share/fonts/truetype/noto/NotoSansHebrew-Regular.ttf",
          "/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf",
          "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
          "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
          "/usr/share/fonts/truetype/nanum/NanumGothic.ttf"};
}

void PdfReportSystem::execute(
    const std::function<void(ReportCanvas&)>& onPrint) {
  HaruError error;
  HaruDoc pdf{HPDF_New(OnHaruError, &error)};
  if (!pdf.doc) throw EZeptError("cannot start a PDF document");
  HPDF_SetCompressionMode(pdf.doc, Compress ? HPDF_COMP_ALL : HPDF_COMP_NONE);
  int pages = 0;
  std::vector<std::string> notes;
  {
    PdfCanvas canvas(pdf.doc, error, paperWidth_, paperHeight_,
                     ctx_.platform.files, Compress,
                     Utf8Text ? &TextFonts : nullptr, notes);
    canvas.start();
    onPrint(canvas);
    canvas.finish();
    canvas.flush();
    canvas.finishFonts();
    pages = canvas.pagesStarted();
  }
  HPDF_SaveToStream(pdf.doc);
  std::string bytes(HPDF_GetStreamSize(pdf.doc), '\0');
  HPDF_UINT32 size = static_cast<HPDF_UINT32>(bytes.size());
  HPDF_ReadFromStream(pdf.doc, reinterpret_cast<HPDF_BYTE*>(bytes.data()),
                      &size);
  if (error.code != HPDF_OK) {
    throw EZeptError("cannot write the PDF document");
  }
  bytes.resize(size);
  document_ = std::move(bytes);
  pages_ = pages;
  notes_ = std::move(notes);
  if (!KeepInMemory) ctx_.platform.files.replaceFile(OutputFileName, document_);
}

}  // namespace zept
