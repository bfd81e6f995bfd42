#include "engine/printer.h"

#include "platform/errors.h"

namespace zept {

bool PrinterReportSystem::printSetup(platform::Dialogs& dialogs) {
  const std::vector<WideString> names = printers_.destinations();
  if (names.empty()) return false;
  // The system's default destination comes first.
  const platform::DialogAnswer answer =
      dialogs.printSetup(names, names.front());
  if (!answer.ok) return false;
  destination_ = answer.file.empty() ? names.front() : answer.file;
  return true;
}

void PrinterReportSystem::execute(
    const std::function<void(ReportCanvas&)>& onPrint) {
  if (destination_.empty()) {
    const std::vector<WideString> names = printers_.destinations();
    if (names.empty()) throw EZeptError("no printer is available");
    destination_ = names.front();
  }
  const auto paper = printers_.defaultPaper(destination_)
                         .value_or(std::make_pair(210 / 25.4, 297 / 25.4));
  PdfReportSystem pdf(ctx_, paper.first, paper.second);
  pdf.KeepInMemory = true;
  pdf.execute(onPrint);
  printers_.submitPdf(destination_, u"ReportPrinter Report", pdf.document());
  if (onPrinted) onPrinted(destination_, pdf.pages());
}

}  // namespace zept
