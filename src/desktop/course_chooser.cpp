#include "desktop/course_chooser.h"

#include <gtk/gtk.h>

#include "desktop/gobject.h"
#include "desktop/signals.h"
#include "util/i18n.h"

namespace zept::desktop {

namespace {

constexpr int kZipResponse = 1;

char* ChooseZip(GtkWindow* parent, GtkFileChooser* folders) {
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      _("Choose the package"), parent, GTK_FILE_CHOOSER_ACTION_OPEN,
      _("_Cancel"), GTK_RESPONSE_CANCEL, _("_Open"), GTK_RESPONSE_ACCEPT,
      nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  GtkFileFilter* zips = gtk_file_filter_new();
  gtk_file_filter_set_name(zips, _("Packages (.zip)"));
  gtk_file_filter_add_pattern(zips, "*.[zZ][iI][pP]");
  gtk_file_chooser_add_filter(chooser, zips);
  const GCharPtr current(gtk_file_chooser_get_current_folder(folders));
  if (current) gtk_file_chooser_set_current_folder(chooser, current.get());
  char* chosen = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT
                     ? gtk_file_chooser_get_filename(chooser)
                     : nullptr;
  gtk_widget_destroy(dialog);
  return chosen;
}

}  // namespace

std::optional<std::string> ChooseCourseFolder(
    const std::function<std::string(const std::string& folder)>& check) {
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      _(kCourseChooserTitle), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
      _("_Cancel"), GTK_RESPONSE_CANCEL, _("A ._zip Package\u2026"),
      kZipResponse, _("_Select"), GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  // The course is read with plain file calls: a disc must be mounted, not
  // merely reachable through a GIO location.
  gtk_file_chooser_set_local_only(chooser, TRUE);
  // Opened on recent files, as GTK does by default, the chooser has no
  // folder to select. The current folder is the home folder when the
  // desktop menu starts zept, and where the user is in a terminal.
  const GCharPtr current(g_get_current_dir());
  gtk_file_chooser_set_current_folder(chooser, current.get());

  // A quit signal gives up the choice, whichever of the chooser's dialogs
  // shows: they are the only windows yet.
  bool quitting = false;
  const auto signals = InstallQuitSignals([&quitting] {
    quitting = true;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next)
      if (GTK_IS_DIALOG(w->data))
        gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_CANCEL);
    g_list_free(windows);
  });
  std::optional<std::string> chosen;
  while (!quitting) {
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response != GTK_RESPONSE_ACCEPT && response != kZipResponse) break;
    // A folder chooser selects no file: a package's .zip is picked in a
    // file chooser of its own, opened where the user was looking.
    const GCharPtr folder(response == kZipResponse
                              ? ChooseZip(GTK_WINDOW(dialog), chooser)
                              : gtk_file_chooser_get_filename(chooser));
    if (!folder || quitting) continue;
    const std::string problem = check(folder.get());
    if (problem.empty()) {
      chosen = folder.get();
      break;
    }
    // Back to the same chooser afterwards, still in the folder the user
    // was looking at.
    GtkWidget* message = gtk_message_dialog_new(
        GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
        "%s", problem.c_str());
    gtk_window_set_title(GTK_WINDOW(message), "Zept");
    gtk_dialog_run(GTK_DIALOG(message));
    gtk_widget_destroy(message);
  }
  gtk_widget_destroy(dialog);
  return chosen;
}

}  // namespace zept::desktop
