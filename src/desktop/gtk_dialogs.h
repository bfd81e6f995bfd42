#pragma once
// The message box, the file-save dialog and the print setup dialog as GTK
// dialogs, modal to the main window and run in a nested main loop.

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace zept::desktop {

class DesktopWindow;

// One entry of a filter string "Name|*.a|Name2|*.b;*.c".
struct FileFilterSpec {
  std::string name;
  std::vector<std::string> patterns;  // as written, e.g. "*.pdf"
};
// Pairs of name and patterns; an unpaired last name is dropped.
std::vector<FileFilterSpec> ParseFilterString(const WideString& filter);
// A glob that matches letters in either case, as the file-save dialogs of
// the movies' home system do: "*.pdf" gives "*.[pP][dD][fF]".
std::string CaseInsensitiveGlob(const std::string& pattern);
// path with "." and defaultExt added when its file name has no extension;
// defaultExt may carry its dot (".pdf") or not ("pdf").
std::string WithDefaultExtension(const std::string& path,
                                 const WideString& defaultExt);

class GtkDialogs final : public platform::Dialogs {
 public:
  // owner: the window the dialogs belong to and take their caption from;
  // null for none.
  explicit GtkDialogs(DesktopWindow* owner) : owner_(owner) {}

  // Called with true before a dialog runs its nested loop and with false
  // after its last one has returned, so the program can hold its timers
  // back meanwhile.
  std::function<void(bool running)> onModal;

  void showMessage(const WideString& text) override;
  // ok with the chosen native path; an existing file is replaced only after
  // the user confirms.
  platform::DialogAnswer saveFile(const WideString& defaultExt,
                                  const WideString& filter,
                                  const WideString& fileName,
                                  const WideString& folder) override;
  platform::DialogAnswer printSetup(
      const std::vector<WideString>& destinations,
      const WideString& defaultDestination) override;

  // A warning with a button for each choice (GTK mnemonics, "_Retry");
  // the index of the one chosen, or -1 when the box was closed otherwise
  // or the program is ending.
  int choose(const std::string& text, const std::vector<std::string>& buttons);

  // The program is ending: cancels the dialogs that are running and every
  // later one.
  void cancelAll();

 private:
  class Modal;
  // Runs dialog modally; returns its response.
  int run(GtkWidget* dialog);
  GtkWindow* parent() const;
  std::string caption() const;

  DesktopWindow* owner_;
  std::vector<GtkWidget*> running_;
  bool ending_ = false;
  int depth_ = 0;
};

}  // namespace zept::desktop
