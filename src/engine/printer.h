#pragma once
// The printer destination: the pages are rendered to PDF at the printer's
// default paper and submitted to the chosen destination as one job.

#include <functional>

#include "engine/pdf.h"
#include "platform/dialogs.h"
#include "platform/printers.h"

namespace zept {

class PrinterReportSystem final : public ReportSystem {
 public:
  PrinterReportSystem(Context& ctx, platform::Printers& printers)
      : ctx_(ctx), printers_(printers) {}

  // The print setup dialog: false (a cancel) when the system has no
  // destination or the user cancels; otherwise the destination chosen there
  // (the system's default preselected) receives the jobs.
  bool printSetup(platform::Dialogs& dialogs);
  const WideString& destination() const { return destination_; }
  // Called after a job is submitted: the destination and the page count.
  std::function<void(const WideString&, int)> onPrinted;

  void execute(const std::function<void(ReportCanvas&)>& onPrint) override;

 private:
  Context& ctx_;
  platform::Printers& printers_;
  WideString destination_;
};

}  // namespace zept
