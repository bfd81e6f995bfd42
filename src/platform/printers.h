#pragma once
// The system's printers: their names, default paper, and submitting a
// rendered document.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace zept::platform {

class Printers {
 public:
  virtual ~Printers() = default;
  // Names of the destinations; the system's default one first when it has
  // one.
  virtual std::vector<WideString> destinations() = 0;
  // The destination's default paper in inches; nullopt when unknown.
  virtual std::optional<std::pair<double, double>> defaultPaper(
      const WideString& name) = 0;
  // Submits a PDF document as one job; throws EZeptError with the system's
  // reason when the destination does not take it.
  virtual void submitPdf(const WideString& name, const WideString& title,
                         const std::string& pdf) = 0;
};

}  // namespace zept::platform
