#pragma once
// Message boxes, the file-save dialog and the print setup dialog. Headless,
// dialogs are answered from a queue a movie script fills; an unanswered one
// is cancelled.

#include <deque>
#include <functional>
#include <vector>

#include "platform/text.h"

namespace zept::platform {

struct DialogAnswer {
  bool ok = false;
  WideString file;  // for "ok": the file as the shell receives it
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void showMessage(const WideString& text) = 0;
  // Returns the chosen file; nullopt-like answer with ok false on cancel.
  virtual DialogAnswer saveFile(const WideString& defaultExt,
                                const WideString& filter,
                                const WideString& fileName,
                                const WideString& folder) = 0;
  // Chooses among destinations (never empty), preselecting
  // defaultDestination; the choice comes back in file.
  virtual DialogAnswer printSetup(const std::vector<WideString>& destinations,
                                  const WideString& defaultDestination) = 0;
};

// Answers from a queue and writes each dialog to the transcript.
class ScriptedDialogs final : public Dialogs {
 public:
  explicit ScriptedDialogs(std::function<void(const WideString&)> print)
      : print_(std::move(print)) {}

  void queue(DialogAnswer answer) { answers_.push_back(std::move(answer)); }

  void showMessage(const WideString& text) override {
    print_(u"message: " + text);
  }
  DialogAnswer saveFile(const WideString& defaultExt, const WideString& filter,
                        const WideString& fileName,
                        const WideString& folder) override {
    print_(u"dialog: save ext=" + defaultExt + u" filter=" + filter +
           u" name=" + fileName + u" folder=" + folder);
    return answer();
  }
  // An ok answer picks the default destination unless its file names one
  // (the headless host puts the program folder before a script's file).
  DialogAnswer printSetup(const std::vector<WideString>& destinations,
                          const WideString& defaultDestination) override {
    print_(u"dialog: print-setup");
    DialogAnswer a = answer();
    if (!a.ok) return a;
    WideString chosen = defaultDestination;
    for (const WideString& name : destinations) {
      if (a.file == name || EndsWithPathTo(a.file, name)) chosen = name;
    }
    a.file = chosen;
    return a;
  }

 private:
  DialogAnswer answer() {
    DialogAnswer a;
    if (!answers_.empty()) {
      a = answers_.front();
      answers_.pop_front();
    }
    print_(a.ok ? u"dialog: answer ok " + a.file
                : WideString(u"dialog: answer cancel"));
    return a;
  }

  static bool EndsWithPathTo(const WideString& file, const WideString& name) {
    if (file.size() <= name.size()) return false;
    const char16_t separator = file[file.size() - name.size() - 1];
    return (separator == u'/' || separator == u'\\') &&
           file.compare(file.size() - name.size(), name.size(), name) == 0;
  }

  std::function<void(const WideString&)> print_;
  std::deque<DialogAnswer> answers_;
};

}  // namespace zept::platform
