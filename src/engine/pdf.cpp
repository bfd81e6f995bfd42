#include "engine/pdf.h"

#include <hpdf.h>
#include <hpdf_pages.h>
#include <hpdf_streams.h>

#include <cstdio>
#include <deque>
#include <map>

#include "engine/pdf_pictures.h"
#include "engine/picture.h"
#include "platform/errors.h"

namespace zept {
namespace {

constexpr int kJpegQuality = 90;
// Pictures drawn but not yet handed to the writer, at most: each may hold
// its JPEG data.
constexpr std::size_t kPicturesAhead = 4;

struct HaruError {
  HPDF_STATUS code = HPDF_OK;
  HPDF_STATUS detail = 0;
};

void OnHaruError(HPDF_STATUS code, HPDF_STATUS detail, void* user) {
  auto* error = static_cast<HaruError*>(user);
  if (error->code == HPDF_OK) {
    error->code = code;
    error->detail = detail;
  }
}

[[noreturn]] void ThrowHaruError(HPDF_STATUS code, HPDF_STATUS detail) {
  char text[96];
  std::snprintf(text, sizeof text, "PDF writer error 0x%04X (detail %u)",
                static_cast<unsigned>(code), static_cast<unsigned>(detail));
  throw EZeptError(text);
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
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += '\\';
      out += static_cast<char>('0' + (c >> 6));
      out += static_cast<char>('0' + ((c >> 3) & 7));
      out += static_cast<char>('0' + (c & 7));
    } else {
      out += static_cast<char>(c);
    }
  }
  out += ')';
}

}  // namespace content

HPDF_REAL Pt(double inches) { return static_cast<HPDF_REAL>(inches * 72); }

// The canvas keeps what is drawn in order and hands it to libharu as soon as
// the pictures before it are encoded, so the writer sees exactly the calls,
// in the order, that drawing straight through would make. Text and lines
// become content bytes at once; pictures are encoded on the workers.
class PdfCanvas final : public ReportCanvas {
 public:
  PdfCanvas(HPDF_Doc doc, HaruError& error, double width, double height,
            platform::FileSystem& files)
      : doc_(doc),
        error_(error),
        width_(width),
        height_(height),
        pictures_(files, kJpegQuality, PdfPictures::DefaultThreads()) {
    regular_.font = HPDF_GetFont(doc, "Helvetica", "WinAnsiEncoding");
    oblique_.font = HPDF_GetFont(doc, "Helvetica-Oblique", "WinAnsiEncoding");
    check();
    for (Font* f : {&regular_, &oblique_}) {
      for (int b = 0; b < 256; ++b) {
        const HPDF_BYTE byte = static_cast<HPDF_BYTE>(b);
        f->widths[b] = static_cast<std::uint16_t>(
            HPDF_Font_TextWidth(f->font, &byte, 1).width);
      }
    }
    check();
  }

  double pageWidth() const override { return width_; }
  double pageHeight() const override { return height_; }
  int pagesStarted() const { return started_; }

  const CharWidths& charWidths() const override { return font().widths; }

  void drawBitmap(double x1, double y1, double x2, double y2,
                  const Bitmap& bitmap) override {
    drawJob(pictures_.bitmap(bitmap), x1, y1, x2, y2);
  }
  void drawPicture(double x1, double y1, double x2, double y2,
                   const WideString& file, int width, int height) override {
    drawJob(pictures_.file(file, width, height), x1, y1, x2, y2);
  }

  // Everything drawn is in the writer.
  void flush() {
    closeContent();
    while (!ops_.empty()) apply(true);
  }

 protected:
  void drawText(double x, double y, std::string_view text) override {
    // libharu's limits, checked as HPDF_Page_SetFontAndSize checks them.
    const HPDF_REAL size = static_cast<HPDF_REAL>(fontSize());
    if (size <= 0 || size > HPDF_MAX_FONTSIZE) {
      ThrowHaruError(HPDF_PAGE_INVALID_FONT_SIZE,
                     static_cast<HPDF_STATUS>(static_cast<std::int64_t>(size)));
    }
    const Font& f = font();
    const std::string name = fontName(f);
    text = text.substr(0, std::min(text.find('\0'), std::size_t{65535}));
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
  void drawLine(double x1, double y1, double x2, double y2) override {
    content_ += "0.75 w\012";
    content::Pair(content_, Pt(x1), Pt(height_ - y1), " m\012");
    content::Pair(content_, Pt(x2), Pt(height_ - y2), " l\012");
    content_ += "S\012";
  }
  void beginPage() override {
    pageFonts_.clear();
    push(Op(Op::Page));
  }
  void endPage() override {}

 private:
  struct Font {
    HPDF_Font font = nullptr;
    CharWidths widths{};
  };
  struct Op {
    enum Kind { Page, Content, UseFont, Picture };
    explicit Op(Kind k) : kind(k) {}
    Kind kind;
    std::string bytes;  // content, or the font's name on the page
    HPDF_Font font = nullptr;
    PdfPictures::Ticket picture;
    HPDF_REAL x = 0, y = 0, w = 0, h = 0;
  };

  const Font& font() const { return italic() ? oblique_ : regular_; }

  // The page's name for the font: F1, F2, ... in the order of first use,
  // as libharu names them when they are added to the page's resources.
  std::string fontName(const Font& f) {
    for (std::size_t i = 0; i < pageFonts_.size(); ++i) {
      if (pageFonts_[i] == f.font) return "F" + std::to_string(i + 1);
    }
    pageFonts_.push_back(f.font);
    const std::string name = "F" + std::to_string(pageFonts_.size());
    Op use(Op::UseFont);
    use.font = f.font;
    use.bytes = name;
    push(std::move(use));
    return name;
  }

  void drawJob(PdfPictures::Ticket job, double x1, double y1, double x2,
               double y2) {
    Op op(Op::Picture);
    op.picture = std::move(job);
    op.x = Pt(x1);
    op.y = Pt(height_ - y2);
    op.w = Pt(x2 - x1);
    op.h = Pt(y2 - y1);
    ++picturesAhead_;
    push(std::move(op));
    while (picturesAhead_ > kPicturesAhead) apply(true);
  }

  void closeContent() {
    if (content_.empty()) return;
    Op op(Op::Content);
    op.bytes = std::move(content_);
    content_.clear();
    ops_.push_back(std::move(op));
  }
  // What is ready goes to the writer at once, so that pictures' data is
  // freed early and content is not kept twice.
  void push(Op op) {
    closeContent();
    ops_.push_back(std::move(op));
    while (!ops_.empty() && apply(false)) {
    }
  }

  // Hands the first operation to the writer; false when it is a picture
  // still being encoded and wait is false.
  bool apply(bool wait) {
    Op& op = ops_.front();
    switch (op.kind) {
      case Op::Page:
        page_ = HPDF_AddPage(doc_);
        check();
        HPDF_Page_SetWidth(page_, Pt(width_));
        HPDF_Page_SetHeight(page_, Pt(height_));
        ++started_;
        break;
      case Op::Content: {
        auto* attr = static_cast<HPDF_PageAttr>(page_->attr);
        const HPDF_STATUS written = HPDF_Stream_Write(
            attr->stream, reinterpret_cast<const HPDF_BYTE*>(op.bytes.data()),
            static_cast<HPDF_UINT>(op.bytes.size()));
        if (written != HPDF_OK) ThrowHaruError(written, 0);
        break;
      }
      case Op::UseFont: {
        const char* name = HPDF_Page_GetLocalFontName(page_, op.font);
        check();
        if (!name || op.bytes != name)
          throw EZeptError("PDF writer: unexpected font name");
        break;
      }
      case Op::Picture: {
        auto known = images_.find(op.picture.get());
        if (known == images_.end()) {
          if (!wait && !pictures_.done(op.picture)) return false;
          const std::string& jpeg = pictures_.result(op.picture);
          HPDF_Image image = nullptr;
          if (!jpeg.empty()) {
            image = HPDF_LoadJpegImageFromMem(
                doc_, reinterpret_cast<const HPDF_BYTE*>(jpeg.data()),
                static_cast<HPDF_UINT>(jpeg.size()));
            check();
          }
          pictures_.release(op.picture);
          known = images_.emplace(op.picture.get(), image).first;
          keep_.push_back(op.picture);
        }
        if (known->second) {
          HPDF_Page_DrawImage(page_, known->second, op.x, op.y, op.w, op.h);
        }
        --picturesAhead_;
        break;
      }
    }
    check();
    ops_.pop_front();
    return true;
  }

  void check() {
    if (error_.code != HPDF_OK) ThrowHaruError(error_.code, error_.detail);
  }

  HPDF_Doc doc_;
  HaruError& error_;
  double width_, height_;
  Font regular_, oblique_;
  PdfPictures pictures_;
  std::deque<Op> ops_;
  std::string content_;  // drawn on the last page, not yet an operation
  std::vector<HPDF_Font> pageFonts_;
  std::size_t picturesAhead_ = 0;
  // Each picture job is one image of the document, however often drawn.
  std::map<const PdfPictures::Job*, HPDF_Image> images_;
  std::vector<PdfPictures::Ticket> keep_;
  HPDF_Page page_ = nullptr;
  int started_ = 0;
};

struct HaruDoc {
  HPDF_Doc doc;
  ~HaruDoc() {
    if (doc) HPDF_Free(doc);
  }
};

}  // namespace

void PdfReportSystem::execute(
    const std::function<void(ReportCanvas&)>& onPrint) {
  HaruError error;
  HaruDoc pdf{HPDF_New(OnHaruError, &error)};
  if (!pdf.doc) throw EZeptError("cannot start a PDF document");
  HPDF_SetCompressionMode(pdf.doc, Compress ? HPDF_COMP_ALL : HPDF_COMP_NONE);
  int pages = 0;
  {
    PdfCanvas canvas(pdf.doc, error, paperWidth_, paperHeight_,
                     ctx_.platform.files);
    canvas.start();
    onPrint(canvas);
    canvas.finish();
    canvas.flush();
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
  if (!KeepInMemory) ctx_.platform.files.replaceFile(OutputFileName, document_);
}

}  // namespace zept
