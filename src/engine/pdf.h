#pragma once
// The PDF destination of the rendering engine, on libharu: fonts referenced
// by name (Helvetica, metrically Arial, in WinAnsiEncoding, not embedded)
// and pictures written as JPEG at quality 90, but for a JPEG file drawn at
// its own size, which is written as it is. Pictures and page contents are
// made on worker threads while the report is laid out.

#include "report/surface.h"
#include "util/context.h"

namespace zept {

class PdfReportSystem final : public ReportSystem {
 public:
  // Paper in inches.
  PdfReportSystem(Context& ctx, double paperWidth, double paperHeight)
      : ctx_(ctx), paperWidth_(paperWidth), paperHeight_(paperHeight) {}

  // Draws the pages and writes OutputFileName (atomically). Errors of the
  // print event or of the writer leave it, and no file is written.
  void execute(const std::function<void(ReportCanvas&)>& onPrint) override;
  // The PDF of the last execution.
  const std::string& document() const { return document_; }
  int pages() const { return pages_; }
  // When set, the document is kept in memory and no file is written.
  bool KeepInMemory = false;
  // Off, the page content stays readable text (for tests).
  bool Compress = true;

 private:
  Context& ctx_;
  double paperWidth_, paperHeight_;
  std::string document_;
  int pages_ = 0;
};

}  // namespace zept
