#include "tracking/SCO.h"

#include "util/textlib.h"

namespace zept {

WideString TSCO::FolderName(std::int64_t number) {
  return u"SCO_" + PadLeft(IntToStr(number), u"0", 4);
}

}  // namespace zept
