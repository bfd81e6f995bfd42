#include <paper.h>

#include "platform/posix/posix.h"

namespace zept::platform {

std::pair<double, double> DefaultPaperInches() {
  // PAPERSIZE, then /etc/papersize, as libpaper reads them; A4 without both.
  std::pair<double, double> size{210 / 25.4, 297 / 25.4};
  if (paperinit() != 0) return size;
  if (const char* name = systempapername()) {
    if (const paper* p = paperinfo(name)) {
      size = {paperpswidth(p) / 72.0, paperpsheight(p) / 72.0};
    }
    std::free(const_cast<char*>(name));
  }
  paperdone();
  return size;
}

}  // namespace zept::platform
