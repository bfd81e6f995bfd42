#include "shell/course_folder.h"

namespace zept {

std::vector<WideString> MissingCourseFiles(platform::FileSystem& files,
                                           const WideString& folder) {
  // The manifest gives the units, the menu movie is the first thing shown
  // and the player's code is read before the window exists.
  static constexpr const char16_t* kNeeded[] = {
      u"imsmanifest.xml", u"cdrom\\cdrom.swf", u"bin\\flash.ocx"};
  WideString base = folder;
  if (!base.empty() && base.back() != u'\\' && base.back() != u'/')
    base += u'\\';
  std::vector<WideString> missing;
  for (const char16_t* name : kNeeded) {
    if (!files.fileExists(base + name))
      missing.push_back(files.nativePath(name));
  }
  return missing;
}

WideString NotACourseMessage(const WideString& folder,
                             const std::vector<WideString>& missing) {
  if (missing.empty()) return u"";
  WideString list;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) list += i + 1 == missing.size() ? u" and " : u", ";
    list += missing[i];
  }
  return u"\u201C" + folder + u"\u201D is not a course folder: " + list +
         (missing.size() == 1 ? u" is" : u" are") +
         u" missing.\n\nChoose the folder that holds the course's "
         u"imsmanifest.xml, such as the top folder of its CD-ROM.";
}

}  // namespace zept
