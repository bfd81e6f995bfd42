#pragma once
// Message boxes, the file-save dialog and the print setup dialog. Headless,
// dialogs are answered from a queue a movie script fills; an unanswered one
// is cancelled.

#include <deque>
#include <functional>

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
  virtual DialogAnswer printSetup() = 0;
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
  DialogAnswer printSetup() override {
    print_(u"dialog: print-setup");
    return answer();
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

  std::function<void(const WideString&)> print_;
  std::deque<DialogAnswer> answers_;
};

}  // namespace zept::platform
