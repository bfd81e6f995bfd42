#include "util/FileVersion.h"

#include "util/textlib.h"

namespace zept {

WideString GetFileVersionString(platform::SystemFolders& folders,
                                const WideString& fileName,
                                const WideString& format) {
  std::optional<platform::VersionNumbers> v = folders.fileVersion(fileName);
  if (!v) return u"";
  const std::int64_t numbers[] = {(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
  return FormatNumbers(format, numbers, 4);
}

WideString GetShortVersion(platform::SystemFolders& folders) {
  std::optional<platform::VersionNumbers> v = folders.fileVersion(u"");
  if (!v) return u"";
  return IntToStr((*v)[0]) + u"r" + IntToStr((*v)[1]);
}

}  // namespace zept
