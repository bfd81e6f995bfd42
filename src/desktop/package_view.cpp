#include "desktop/package_view.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace zept::desktop {

namespace {

void OnTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
  const char* title = webkit_web_view_get_title(view);
  gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

// The box's answer, the main loop turning until it comes (as
// gtk_dialog_run, without its grab).
int RunBox(GtkDialog* box) {
  struct Wait {
    GMainLoop* loop;
    int response = GTK_RESPONSE_NONE;
  } wait{g_main_loop_new(nullptr, FALSE)};
  const gulong answered = g_signal_connect(
      box, "response", G_CALLBACK(+[](GtkDialog*, int response, gpointer w) {
        auto* waiting = static_cast<Wait*>(w);
        waiting->response = response;
        g_main_loop_quit(waiting->loop);
      }),
      &wait);
  const gulong closed = g_signal_connect(
      box, "delete-event",
      G_CALLBACK(+[](GtkWidget* widget, GdkEvent*, gpointer) -> gboolean {
        gtk_dialog_response(GTK_DIALOG(widget), GTK_RESPONSE_DELETE_EVENT);
        return TRUE;
      }),
      nullptr);
  gtk_window_present(GTK_WINDOW(box));
  g_main_loop_run(wait.loop);
  g_signal_handler_disconnect(box, answered);
  g_signal_handler_disconnect(box, closed);
  g_main_loop_unref(wait.loop);
  return wait.response;
}

template <typename T>
void Forget(std::vector<T>& list, T item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

PackageViews::~PackageViews() {
  closeDialogs();
  closeWindows();
  closeOwnWindow();
}

gboolean PackageViews::OnScriptDialog(WebKitWebView* view,
                                      WebKitScriptDialog* dialog,
                                      gpointer data) {
  auto& self = *static_cast<PackageViews*>(data);
  const WebKitScriptDialogType type =
      webkit_script_dialog_get_dialog_type(dialog);
  // Leaving a page is always what the learner asked for here (another
  // item, the menu, closing): the page's own question is not asked; nor is
  // any while the program ends.
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM || self.closing_) {
    if (type != WEBKIT_SCRIPT_DIALOG_ALERT &&
        type != WEBKIT_SCRIPT_DIALOG_PROMPT)
      webkit_script_dialog_confirm_set_confirmed(
          dialog, type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM);
    return TRUE;
  }
  const bool asks = type != WEBKIT_SCRIPT_DIALOG_ALERT;
  // Not modal: a modal box holds a grab under which GTK drops the window's
  // close request, and closing the window must end zept, box and all. The
  // window's content takes no input while the box is open, as with a modal
  // one.
  GtkWidget* box =
      gtk_message_dialog_new(self.parent_, GTK_DIALOG_DESTROY_WITH_PARENT,
                             asks ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO,
                             asks ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK,
                             "%s", webkit_script_dialog_get_message(dialog));
  if (self.parent_)
    gtk_window_set_title(GTK_WINDOW(box), gtk_window_get_title(self.parent_));
  GtkWidget* entry = nullptr;
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
    entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry),
                       webkit_script_dialog_prompt_get_default_text(dialog));
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    // Named by the page's question, which a screen reader says with it.
    atk_object_set_name(gtk_widget_get_accessible(entry),
                        webkit_script_dialog_get_message(dialog));
    gtk_box_pack_end(
        GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box))),
        entry, FALSE, FALSE, 0);
    gtk_widget_show(entry);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  self.dialogs_.push_back(box);
  if (self.onModal) self.onModal(true);
  GtkWidget* content =
      self.parent_ ? gtk_bin_get_child(GTK_BIN(self.parent_)) : nullptr;
  const bool wasSensitive = content && gtk_widget_get_sensitive(content);
  if (wasSensitive) gtk_widget_set_sensitive(content, FALSE);
  const bool ok = RunBox(GTK_DIALOG(box)) == GTK_RESPONSE_OK;
  if (wasSensitive) gtk_widget_set_sensitive(content, TRUE);
  // The page that asked has the keyboard again, not the window itself.
  gtk_widget_grab_focus(GTK_WIDGET(view));
  if (self.onModal) self.onModal(false);
  Forget(self.dialogs_, box);
  if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM)
    webkit_script_dialog_confirm_set_confirmed(dialog, ok);
  // A prompt cancelled answers null, which WebKit gives for no text set.
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT && ok)
    webkit_script_dialog_prompt_set_text(dialog,
                                         gtk_entry_get_text(GTK_ENTRY(entry)));
  gtk_widget_destroy(box);
  return TRUE;
}

// The opened page is ready: it gets a window of its own, at the size it
// asked for.
void PackageViews::OnReadyToShow(WebKitWebView* view, gpointer) {
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

void PackageViews::OnWindowGone(GtkWidget* view, gpointer data) {
  Forget(static_cast<PackageViews*>(data)->windows_, view);
}

// A window whose page's process ended shows nothing and answers nothing:
// it goes, once WebKit is done telling of the end (the view must outlive
// its own signal).
static void CloseWhenGone(WebKitWebView* view,
                          WebKitWebProcessTerminationReason, gpointer) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      +[](gpointer gone) -> gboolean {
        GtkWidget* window = gtk_widget_get_toplevel(GTK_WIDGET(gone));
        if (GTK_IS_WINDOW(window)) gtk_widget_destroy(window);
        return G_SOURCE_REMOVE;
      },
      g_object_ref(view), g_object_unref);
}

// window.close() of the opened page closes its window.
void PackageViews::OnClose(WebKitWebView* view, gpointer) {
  GtkWidget* window = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (GTK_IS_WINDOW(window)) gtk_widget_destroy(window);
}

GtkWidget* PackageViews::OnCreate(WebKitWebView* view, WebKitNavigationAction*,
                                  gpointer data) {
  auto& self = *static_cast<PackageViews*>(data);
  if (self.closing_) return nullptr;
  if (self.windows_.size() >= kMaxWindows) {
    if (self.onNote)
      self.onNote("A page of the package tried to open a window while " +
                  std::to_string(kMaxWindows) +
                  " of its windows were open: it was refused");
    return nullptr;
  }
  GtkWidget* opened = webkit_web_view_new_with_related_view(view);
  // Counted from now: a page opening several in one go is held to them too.
  self.windows_.push_back(opened);
  g_signal_connect(opened, "destroy", G_CALLBACK(OnWindowGone), data);
  self.connect(WEBKIT_WEB_VIEW(opened));
  g_signal_connect(opened, "ready-to-show", G_CALLBACK(OnReadyToShow), data);
  g_signal_connect(opened, "close", G_CALLBACK(OnClose), nullptr);
  g_signal_connect(opened, "web-process-terminated", G_CALLBACK(CloseWhenGone),
                   nullptr);
  return opened;
}

void PackageViews::openOwnWindow(WebKitWebView* view, const std::string& title,
                                 std::function<void()> onGone) {
  closeOwnWindow();
  own_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  onOwnGone_ = std::move(onGone);
  gtk_window_set_title(GTK_WINDOW(own_), title.c_str());
  gtk_window_set_transient_for(GTK_WINDOW(own_), parent_);
  int width = 1024, height = 768;
  gtk_window_get_size(parent_, &width, &height);
  gtk_window_set_default_size(GTK_WINDOW(own_), width, height);
  gtk_window_set_position(GTK_WINDOW(own_), GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_container_add(GTK_CONTAINER(own_), GTK_WIDGET(view));
  g_signal_connect(own_, "destroy", G_CALLBACK(OnOwnGone), this);
  // The course's screen under it comes back when its page's process ends.
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(CloseWhenGone),
                   nullptr);
  g_signal_connect(view, "close", G_CALLBACK(OnClose), nullptr);
  gtk_widget_show_all(own_);
}

void PackageViews::closeOwnWindow() {
  GtkWidget* window = std::exchange(own_, nullptr);
  onOwnGone_ = nullptr;
  if (window) gtk_widget_destroy(window);
}

void PackageViews::OnOwnGone(GtkWidget* window, gpointer data) {
  auto& self = *static_cast<PackageViews*>(data);
  if (window != self.own_) return;
  self.own_ = nullptr;
  // Run from the main loop: the callback may open the next window.
  if (auto gone = std::move(self.onOwnGone_)) {
    self.onOwnGone_ = nullptr;
    auto* later = new std::function<void()>(std::move(gone));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer action) -> gboolean {
          (*static_cast<std::function<void()>*>(action))();
          return G_SOURCE_REMOVE;
        },
        later,
        +[](gpointer action) {
          delete static_cast<std::function<void()>*>(action);
        });
  }
}

void PackageViews::connect(WebKitWebView* view) {
  g_signal_connect(view, "script-dialog", G_CALLBACK(OnScriptDialog), this);
  g_signal_connect(view, "create", G_CALLBACK(OnCreate), this);
}

void PackageViews::closeWindows() {
  const std::vector<GtkWidget*> views = windows_;
  windows_.clear();
  for (GtkWidget* view : views) {
    GtkWidget* window = gtk_widget_get_toplevel(view);
    gtk_widget_destroy(GTK_IS_WINDOW(window) ? window : view);
  }
}

std::size_t PackageViews::closeDialogs() {
  closing_ = true;
  for (GtkWidget* box : dialogs_)
    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_CANCEL);
  std::size_t open = dialogs_.size();
  // WebKit's own print dialog, for a page's window.print(), runs its loop
  // until it is answered: it is cancelled as the page's boxes are.
  GList* windows = gtk_window_list_toplevels();
  for (GList* at = windows; at; at = at->next) {
    GtkWidget* window = GTK_WIDGET(at->data);
    if (GTK_IS_DIALOG(window) && gtk_widget_get_visible(window) &&
        g_strcmp0(G_OBJECT_TYPE_NAME(window), "GtkPrintUnixDialog") == 0) {
      gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_CANCEL);
      ++open;
    }
  }
  g_list_free(windows);
  return open;
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
