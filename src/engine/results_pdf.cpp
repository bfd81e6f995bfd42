#include "engine/results_pdf.h"

#include "engine/pdf.h"
#include "moviehost/headless.h"
#include "report/ReportPrinter.h"

namespace zept {

std::vector<std::string> WriteResultsPdf(Context& ctx,
                                         const std::string& report,
                                         const WideString& file,
                                         double paperWidth,
                                         double paperHeight) {
  PdfReportSystem system(ctx, paperWidth, paperHeight);
  system.DefaultDest = ReportDestination::File;
  system.OutputFileName = file;
  system.Utf8Text = true;
  // The report has no movie: the printer only needs a host to be at hand.
  auto silent = [](const WideString&) {};
  platform::HeadlessWindow offscreen(1280, 1024, silent);
  platform::ScriptedDialogs none(silent);
  HeadlessHostFactory movies({ctx, silent, none, offscreen, u""});
  TReportPrinter printer({ctx, movies, u""});
  printer.SetXml(report);
  printer.SetReportSystem(&system);
  printer.SetMargins(0.5, 0.5, 0.5, 0.5);
  printer.Print();
  return system.notes();
}

}  // namespace zept
