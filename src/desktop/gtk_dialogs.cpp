#include "desktop/gtk_dialogs.h"

#include <algorithm>
#include <cctype>

#include "desktop/gtk_text.h"
#include "desktop/main_window.h"
#include "platform/codepage.h"
#include "util/i18n.h"

namespace zept::desktop {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    pieces.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return pieces;
    start = at + 1;
  }
}

// Owns a GTK string.
struct GFreeString {
  gchar* text;
  ~GFreeString() { g_free(text); }
};

// GTK sizes its file chooser from the text size: with large text it
// outgrows the screen and opens partly off it. Once shown, it is brought
// within the monitor's work area, centred there.
void KeepOnScreen(GtkWidget* widget, gpointer) {
  GdkWindow* window = gtk_widget_get_window(widget);
  GdkMonitor* monitor = window ? gdk_display_get_monitor_at_window(
                                     gtk_widget_get_display(widget), window)
                               : nullptr;
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  int width = 0, height = 0, x = 0, y = 0;
  gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
  gtk_window_get_position(GTK_WINDOW(widget), &x, &y);
  if (x >= area.x && y >= area.y && x + width <= area.x + area.width &&
      y + height <= area.y + area.height)
    return;
  width = std::min(width, area.width);
  height = std::min(height, area.height);
  gtk_window_resize(GTK_WINDOW(widget), width, height);
  gtk_window_move(GTK_WINDOW(widget), area.x + (area.width - width) / 2,
                  area.y + (area.height - height) / 2);
}

bool IsDirectory(const std::string& path) {
  return !path.empty() && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR);
}

}  // namespace

std::vector<FileFilterSpec> ParseFilterString(const WideString& filter) {
  std::vector<FileFilterSpec> specs;
  if (filter.empty()) return specs;
  const std::vector<std::string> pieces = Split(ToGtkText(filter), '|');
  for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
    FileFilterSpec spec{pieces[i], {}};
    for (const std::string& pattern : Split(pieces[i + 1], ';')) {
      if (!pattern.empty()) spec.patterns.push_back(pattern);
    }
    if (!spec.patterns.empty()) specs.push_back(std::move(spec));
  }
  return specs;
}

std::string CaseInsensitiveGlob(const std::string& pattern) {
  std::string glob;
  bool inClass = false;  // inside [...], letters stay as written
  for (char c : pattern) {
    if (c == '[') inClass = true;
    if (c == ']') inClass = false;
    const unsigned char u = static_cast<unsigned char>(c);
    if (!inClass && std::isalpha(u)) {
      glob += '[';
      glob += static_cast<char>(std::tolower(u));
      glob += static_cast<char>(std::toupper(u));
      glob += ']';
    } else {
      glob += c;
    }
  }
  return glob;
}

std::string WithDefaultExtension(const std::string& path,
                                 const WideString& defaultExt) {
  std::string ext = ToGtkText(defaultExt);
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  if (ext.empty()) return path;
  const std::size_t slash = path.rfind('/');
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.find('.') != std::string::npos) return path;
  return path + "." + ext;
}

// One nested wait from the first dialog a request shows until its last one
// has returned (the file-save dialog asks about replacing a file).
class GtkDialogs::Modal {
 public:
  explicit Modal(GtkDialogs& dialogs) : dialogs_(dialogs) {
    if (dialogs_.depth_++ == 0 && dialogs_.onModal) dialogs_.onModal(true);
  }
  ~Modal() {
    if (--dialogs_.depth_ != 0) return;
    if (dialogs_.onModal) dialogs_.onModal(false);
    // Else the focus stays on the window itself, which a screen reader
    // names as nothing.
    if (dialogs_.owner_) dialogs_.owner_->focusContent();
  }

 private:
  GtkDialogs& dialogs_;
};

GtkWindow* GtkDialogs::parent() const {
  return owner_ ? owner_->gtkWindow() : nullptr;
}

std::string GtkDialogs::caption() const {
  return owner_ ? ToGtkText(owner_->state().caption) : std::string("Zept");
}

int GtkDialogs::run(GtkWidget* dialog) {
  if (ending_) return GTK_RESPONSE_CANCEL;
  running_.push_back(dialog);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  running_.erase(std::find(running_.begin(), running_.end(), dialog));
  return response;
}

void GtkDialogs::cancelAll() {
  ending_ = true;
  for (GtkWidget* dialog : running_)
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
}

void GtkDialogs::showMessage(const WideString& text) {
  if (ending_) return;
  Modal modal(*this);
  GtkWidget* dialog = gtk_message_dialog_new(
      parent(),
      GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", ToGtkText(text).c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption().c_str());
  run(dialog);
  gtk_widget_destroy(dialog);
}

int GtkDialogs::choose(const std::string& text,
                       const std::vector<std::string>& buttons) {
  if (ending_) return -1;
  Modal modal(*this);
  GtkWidget* dialog = gtk_message_dialog_new(
      parent(),
      GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption().c_str());
  for (std::size_t i = 0; i < buttons.size(); ++i)
    gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].c_str(),
                          static_cast<int>(i));
  if (!buttons.empty()) gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
  const int response = run(dialog);
  gtk_widget_destroy(dialog);
  return response >= 0 && response < static_cast<int>(buttons.size()) ? response
                                                                      : -1;
}

platform::DialogAnswer GtkDialogs::saveFile(const WideString& defaultExt,
                                            const WideString& filter,
                                            const WideString& fileName,
                                            const WideString& folder) {
  if (ending_) return {};
  Modal modal(*this);
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      _("Save As"), parent(), GTK_FILE_CHOOSER_ACTION_SAVE, _("_Cancel"),
      GTK_RESPONSE_CANCEL, _("_Save"), GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  g_signal_connect_after(dialog, "map", G_CALLBACK(KeepOnScreen), nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  // The default extension is added after the dialog closes, so the
  // question about replacing a file is asked here, about the final name.
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);
  for (const FileFilterSpec& spec : ParseFilterString(filter)) {
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, spec.name.c_str());
    for (const std::string& pattern : spec.patterns)
      gtk_file_filter_add_pattern(f, CaseInsensitiveGlob(pattern).c_str());
    gtk_file_chooser_add_filter(chooser, f);  // takes the floating reference
  }

  // A proposed name with a folder (the file chosen last time) opens there;
  // otherwise the dialog starts in folder.
  std::string name = ToGtkText(fileName);
  std::string start = ToGtkText(folder);
  if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) {
    const std::string dir = slash == 0 ? "/" : name.substr(0, slash);
    if (IsDirectory(dir)) start = dir;
    name.erase(0, slash + 1);
  }
  if (IsDirectory(start))
    gtk_file_chooser_set_current_folder(chooser, start.c_str());
  gtk_file_chooser_set_current_name(chooser, name.c_str());

  platform::DialogAnswer answer;
  while (run(dialog) == GTK_RESPONSE_ACCEPT) {
    GFreeString chosen{gtk_file_chooser_get_filename(chooser)};
    if (!chosen.text) continue;
    const std::string path = WithDefaultExtension(chosen.text, defaultExt);
    if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
      GFreeString base{g_path_get_basename(path.c_str())};
      GtkWidget* ask =
          gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL,
                                 GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
                                 "%s",
                                 Fill(_("A file named \u201c%s\u201d already "
                                        "exists. Do you want to replace it?"),
                                      {base.text})
                                     .c_str());
      gtk_dialog_add_buttons(GTK_DIALOG(ask), _("_Cancel"), GTK_RESPONSE_CANCEL,
                             _("_Replace"), GTK_RESPONSE_ACCEPT, nullptr);
      gtk_dialog_set_default_response(GTK_DIALOG(ask), GTK_RESPONSE_ACCEPT);
      gtk_window_set_title(GTK_WINDOW(ask), _("Confirm Save As"));
      const int replace = run(ask);
      gtk_widget_destroy(ask);
      if (replace != GTK_RESPONSE_ACCEPT) continue;  // choose again
    }
    answer.ok = true;
    answer.file = Utf8ToWide(path);
    break;
  }
  gtk_widget_destroy(dialog);
  return answer;
}

platform::DialogAnswer GtkDialogs::printSetup(
    const std::vector<WideString>& destinations,
    const WideString& defaultDestination) {
  if (ending_) return {};
  Modal modal(*this);
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      _("Print Setup"), parent(),
      GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      _("_Cancel"), GTK_RESPONSE_CANCEL, _("_OK"), GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 360, 240);

  // Shown name, and its index in destinations.
  GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_INT);
  GtkTreeIter preselected{};
  bool found = false;
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    const WideString& name = destinations[i];
    GtkTreeIter row;
    gtk_list_store_insert_with_values(store, &row, -1, 0,
                                      ToGtkText(name).c_str(), 1,
                                      static_cast<gint>(i), -1);
    if (!found && name == defaultDestination) {
      preselected = row;
      found = true;
    }
  }
  GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);  // the view holds it
  gtk_tree_view_insert_column_with_attributes(
      GTK_TREE_VIEW(list), -1, _("Printer"), gtk_cell_renderer_text_new(), "text",
      0, nullptr);
  // Enter or a double click on a printer is OK.
  g_signal_connect_swapped(list, "row-activated", G_CALLBACK(+[](GtkDialog* d) {
                             gtk_dialog_response(d, GTK_RESPONSE_OK);
                           }),
                           dialog);
  if (found ||
      gtk_tree_model_get_iter_first(GTK_TREE_MODEL(store), &preselected)) {
    GtkTreePath* path =
        gtk_tree_model_get_path(GTK_TREE_MODEL(store), &preselected);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(list), path, nullptr, FALSE);
    gtk_tree_path_free(path);
  }

  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller),
                                 GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller),
                                      GTK_SHADOW_IN);
  gtk_widget_set_vexpand(scroller, TRUE);
  gtk_container_add(GTK_CONTAINER(scroller), list);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 8);
  gtk_box_set_spacing(GTK_BOX(content), 6);
  GtkWidget* label = gtk_label_new_with_mnemonic(_("_Printer:"));
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), list);
  gtk_widget_set_halign(label, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(content), scroller, TRUE, TRUE, 0);
  gtk_widget_show_all(content);
  gtk_widget_grab_focus(list);

  platform::DialogAnswer answer;
  if (run(dialog) == GTK_RESPONSE_OK) {
    answer.ok = true;
    answer.file = defaultDestination;  // when the user unselected every row
    GtkTreeModel* model = nullptr;
    GtkTreeIter row;
    GtkTreeSelection* selection =
        gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
    if (gtk_tree_selection_get_selected(selection, &model, &row)) {
      gint index = 0;
      gtk_tree_model_get(model, &row, 1, &index, -1);
      answer.file = destinations.at(static_cast<std::size_t>(index));
    }
  }
  gtk_widget_destroy(dialog);
  return answer;
}

}  // namespace zept::desktop
