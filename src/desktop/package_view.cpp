#include "desktop/package_view.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace zept::desktop {

namespace {

struct ViewLink {
  GtkWindow* parent;
  std::function<void(bool)>* onModal;
};

int RunModal(GtkWidget* dialog, const ViewLink& link) {
  if (link.onModal && *link.onModal) (*link.onModal)(true);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  if (link.onModal && *link.onModal) (*link.onModal)(false);
  return response;
}

gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog,
                        gpointer data) {
  const ViewLink& link = *static_cast<ViewLink*>(data);
  const WebKitScriptDialogType type =
      webkit_script_dialog_get_dialog_type(dialog);
  // Leaving a page is always what the learner asked for here (another
  // item, the menu, closing): the page's own question is not asked.
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
  }
  const bool asks = type != WEBKIT_SCRIPT_DIALOG_ALERT;
  GtkWidget* box = gtk_message_dialog_new(
      link.parent,
      GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      asks ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO,
      asks ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK, "%s",
      webkit_script_dialog_get_message(dialog));
  if (link.parent)
    gtk_window_set_title(GTK_WINDOW(box), gtk_window_get_title(link.parent));
  GtkWidget* entry = nullptr;
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
    entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry),
                       webkit_script_dialog_prompt_get_default_text(dialog));
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_end(
        GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box))),
        entry, FALSE, FALSE, 0);
    gtk_widget_show(entry);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  const bool ok = RunModal(box, link) == GTK_RESPONSE_OK;
  if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM)
    webkit_script_dialog_confirm_set_confirmed(dialog, ok);
  // A prompt cancelled answers null, which WebKit gives for no text set.
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT && ok)
    webkit_script_dialog_prompt_set_text(dialog,
                                         gtk_entry_get_text(GTK_ENTRY(entry)));
  gtk_widget_destroy(box);
  return TRUE;
}

void OnTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
  const char* title = webkit_web_view_get_title(view);
  gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

// The opened page is ready: it gets a window of its own, at the size it
// asked for.
void OnReadyToShow(WebKitWebView* view, gpointer) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GdkRectangle geometry{0, 0, 0, 0};
  webkit_window_properties_get_geometry(
      webkit_web_view_get_window_properties(view), &geometry);
  gtk_window_set_default_size(GTK_WINDOW(window),
                              geometry.width > 0 ? geometry.width : 800,
                              geometry.height > 0 ? geometry.height : 600);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  g_signal_connect(view, "notify::title", G_CALLBACK(OnTitle), window);
  OnTitle(view, nullptr, window);
  gtk_widget_show_all(window);
}

// window.close() of the opened page closes its window.
void OnClose(WebKitWebView* view, gpointer) {
  GtkWidget* window = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (GTK_IS_WINDOW(window)) gtk_widget_destroy(window);
}

GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction*,
                    gpointer data) {
  const ViewLink& link = *static_cast<ViewLink*>(data);
  GtkWidget* opened = webkit_web_view_new_with_related_view(view);
  ConnectPackageView(WEBKIT_WEB_VIEW(opened), link.parent, link.onModal);
  g_signal_connect(opened, "ready-to-show", G_CALLBACK(OnReadyToShow), nullptr);
  g_signal_connect(opened, "close", G_CALLBACK(OnClose), nullptr);
  return opened;
}

}  // namespace

void ConnectPackageView(WebKitWebView* view, GtkWindow* parent,
                        std::function<void(bool)>* onModal) {
  auto* link = new ViewLink{parent, onModal};
  g_signal_connect_data(view, "script-dialog", G_CALLBACK(OnScriptDialog), link,
                        nullptr, GConnectFlags(0));
  g_signal_connect_data(
      view, "create", G_CALLBACK(OnCreate), link,
      [](gpointer data, GClosure*) { delete static_cast<ViewLink*>(data); },
      GConnectFlags(0));
}

void LetPackageViewDraw(WebKitWebView* view) {
  // Package pages may force composited drawing (a view transition does, as
  // authoring tools use between screens); a view that refuses acceleration
  // then shows nothing at all, so these pages get it, in software where
  // there is no GPU. Set before the view's first load.
  webkit_settings_set_hardware_acceleration_policy(
      webkit_web_view_get_settings(view),
      WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS);
  // With composited drawing turned off from the environment, WebKit ends the
  // program when a view transition starts: the pages go without them, as in
  // browsers that have none.
  bool off = false;
  for (const char* name :
       {"WEBKIT_DISABLE_COMPOSITING_MODE", "WEBKIT_DISABLE_DMABUF_RENDERER"}) {
    const char* value = std::getenv(name);
    off = off || (value && *value && std::strcmp(value, "0") != 0);
  }
  if (!off) return;
  WebKitUserScript* script = webkit_user_script_new(
      "try { delete Document.prototype.startViewTransition; } catch (e) {}",
      WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(
      webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
}

}  // namespace zept::desktop
