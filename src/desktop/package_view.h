#pragma once
// What a standard package's pages ask of the browser around them: alert,
// confirm and prompt as GTK dialogs, and windows they open (with opener
// set, on the same scheme and under the same content rules).

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>

namespace zept::desktop {

// Connects the view's script dialogs and new windows; the dialogs belong
// to parent. onModal runs with true before a dialog runs and false after.
void ConnectPackageView(WebKitWebView* view, GtkWindow* parent,
                        std::function<void(bool)>* onModal);

// Lets the view (and the windows its pages open) draw what package pages
// draw composited; before its first load.
void LetPackageViewDraw(WebKitWebView* view);

}  // namespace zept::desktop
