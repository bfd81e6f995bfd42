#include "engine/pdf.h"

#include <hpdf.h>

#include <cstdio>

#include "engine/picture.h"
#include "platform/errors.h"

namespace zept {
namespace {

constexpr int kJpegQuality = 90;

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

class PdfCanvas final : public ReportCanvas {
 public:
  PdfCanvas(HPDF_Doc doc, HaruError& error, double width, double height)
      : doc_(doc), error_(error), width_(width), height_(height) {
    regular_ = HPDF_GetFont(doc, "Helvetica", "WinAnsiEncoding");
    oblique_ = HPDF_GetFont(doc, "Helvetica-Oblique", "WinAnsiEncoding");
    check();
  }

  double pageWidth() const override { return width_; }
  double pageHeight() const override { return height_; }
  int pagesStarted() const { return started_; }

  double textWidth(const AnsiString& text) override {
    if (text.empty()) return 0;
    const HPDF_TextWidth w = HPDF_Font_TextWidth(
        font(), reinterpret_cast<const HPDF_BYTE*>(text.data()),
        static_cast<HPDF_UINT>(text.size()));
    return w.width / 1000.0 * fontSize() / 72;
  }

  void drawBitmap(double x1, double y1, double x2, double y2,
                  const Bitmap& bitmap) override {
    const std::string jpeg = EncodeJpeg(bitmap, kJpegQuality);
    if (jpeg.empty()) return;
    HPDF_Image image = HPDF_LoadJpegImageFromMem(
        doc_, reinterpret_cast<const HPDF_BYTE*>(jpeg.data()),
        static_cast<HPDF_UINT>(jpeg.size()));
    check();
    HPDF_Page_DrawImage(page_, image, pt(x1), pt(height_ - y2), pt(x2 - x1),
                        pt(y2 - y1));
    check();
  }

 protected:
  void drawText(double x, double y, const AnsiString& text) override {
    HPDF_Page_BeginText(page_);
    HPDF_Page_SetFontAndSize(page_, font(), static_cast<HPDF_REAL>(fontSize()));
    HPDF_Page_TextOut(page_, pt(x), pt(height_ - y), text.c_str());
    HPDF_Page_EndText(page_);
    check();
  }
  void drawLine(double x1, double y1, double x2, double y2) override {
    HPDF_Page_SetLineWidth(page_, 0.75f);
    HPDF_Page_MoveTo(page_, pt(x1), pt(height_ - y1));
    HPDF_Page_LineTo(page_, pt(x2), pt(height_ - y2));
    HPDF_Page_Stroke(page_);
    check();
  }
  void beginPage() override {
    page_ = HPDF_AddPage(doc_);
    HPDF_Page_SetWidth(page_, pt(width_));
    HPDF_Page_SetHeight(page_, pt(height_));
    ++started_;
    check();
  }
  void endPage() override {}

 private:
  static HPDF_REAL pt(double inches) {
    return static_cast<HPDF_REAL>(inches * 72);
  }
  HPDF_Font font() const { return italic() ? oblique_ : regular_; }
  void check() {
    if (error_.code != HPDF_OK) {
      char text[96];
      std::snprintf(text, sizeof text, "PDF writer error 0x%04X (detail %u)",
                    static_cast<unsigned>(error_.code),
                    static_cast<unsigned>(error_.detail));
      throw EZeptError(text);
    }
  }

  HPDF_Doc doc_;
  HaruError& error_;
  double width_, height_;
  HPDF_Font regular_ = nullptr, oblique_ = nullptr;
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
  PdfCanvas canvas(pdf.doc, error, paperWidth_, paperHeight_);
  canvas.start();
  onPrint(canvas);
  canvas.finish();
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
  pages_ = canvas.pagesStarted();
  if (!KeepInMemory) ctx_.platform.files.replaceFile(OutputFileName, document_);
}

}  // namespace zept
