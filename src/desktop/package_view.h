#pragma once
// What a standard package's pages ask of the browser around them: alert,
// confirm and prompt as GTK dialogs, and windows they open (with opener
// set, on the same scheme and under the same content rules).

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <vector>

namespace zept::desktop {

class PackageViews {
 public:
  // How many windows the pages may keep open at once: enough for a glossary
  // and a help page, not for a page that opens them in a loop.
  static constexpr std::size_t kMaxWindows = 4;

  // The dialogs belong to parent.
  explicit PackageViews(GtkWindow* parent) : parent_(parent) {}
  ~PackageViews();
  PackageViews(const PackageViews&) = delete;
  PackageViews& operator=(const PackageViews&) = delete;

  // Connects the view's script dialogs and new windows.
  void connect(WebKitWebView* view);
  // Closes every window the pages opened (the learner left the SCO that
  // opened them).
  void closeWindows();
  // Shows view (a cmi5 AU's that asks for a window of its own, loading its
  // page as the top document) in a window of its own. onGone runs when the
  // window goes by itself: the learner closed it, or its page closed it.
  // One at a time.
  void openOwnWindow(WebKitWebView* view, const std::string& title,
                     std::function<void()> onGone);
  // Closes that window, without onGone.
  void closeOwnWindow();
  // The program ends: answers every alert, confirm and prompt box that is
  // open as cancelled, and every later one at once, so that it never waits
  // on a page that waits on a box.
  // The number of boxes that were open.
  std::size_t closeDialogs();

  // Runs with true before a dialog runs and false after.
  std::function<void(bool running)> onModal;
  // A line for the journal: a window refused.
  std::function<void(const std::string& line)> onNote;

 private:
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog,
                                 gpointer self);
  static GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction*,
                             gpointer self);
  static void OnReadyToShow(WebKitWebView* view, gpointer self);
  static void OnClose(WebKitWebView* view, gpointer self);
  static void OnWindowGone(GtkWidget* view, gpointer self);
  static void OnOwnGone(GtkWidget* window, gpointer self);

  GtkWindow* parent_;
  std::vector<GtkWidget*> windows_;  // views of the opened pages
  std::vector<GtkWidget*> dialogs_;  // script dialog boxes running
  bool closing_ = false;
  GtkWidget* own_ = nullptr;  // the window of openOwnWindow
  std::function<void()> onOwnGone_;
};

// Lets the view (and the windows its pages open) draw what package pages
// draw composited; before its first load.
void LetPackageViewDraw(WebKitWebView* view);

}  // namespace zept::desktop
