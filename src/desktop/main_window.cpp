#include "desktop/main_window.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "desktop/gtk_text.h"
#include "platform/codepage.h"
#include "util/i18n.h"

namespace zept::desktop {
namespace {

constexpr char kBlackClass[] = "zept-black";
constexpr char kSplitterClass[] = "zept-splitter";
constexpr char kPanelClass[] = "zept-panel";
// The developer panel keeps the theme's colour when the window turns black.
constexpr char kCss[] =
    ".zept-black { background-color: #000000; }\n"
    ".zept-panel { background-color: @theme_bg_color; }\n"
    "paned.zept-splitter > separator { min-height: 7px; }\n";

// The themes' own focus ring is a 1 px dotted line at under 2:1. The blue
// keeps 5:1 on a light theme's grey, the light blue 5.6:1 on a dark one's.
constexpr char kFocusCss[] =
    "* { outline-style: solid; outline-width: 2px; outline-color: #1a5fb4; }\n";
constexpr char kDarkFocusCss[] =
    "* { outline-style: solid; outline-width: 2px; outline-color: #99c1f1; }\n";

}  // namespace

std::string HighContrastTheme() {
  std::string name;
  if (const char* theme = std::getenv("GTK_THEME"); theme && *theme) {
    name = theme;
  } else if (GtkSettings* settings = gtk_settings_get_default()) {
    gchar* setting = nullptr;
    g_object_get(settings, "gtk-theme-name", &setting, nullptr);
    if (setting) name = setting;
    g_free(setting);
  }
  name = name.substr(0, name.find(':'));  // "Theme:dark" names a variant
  if (name == "HighContrastInverse") return "inverse";
  if (name == "HighContrast") return "high";
  return "";
}

void ShowFocusClearly(GdkScreen* screen) {
  if (!screen || g_object_get_data(G_OBJECT(screen), "zept-focus") ||
      !HighContrastTheme().empty())
    return;
  bool dark = false;
  if (const char* theme = std::getenv("GTK_THEME"))
    dark = std::string(theme).find("dark") != std::string::npos;
  if (GtkSettings* settings = gtk_settings_get_for_screen(screen)) {
    gboolean prefersDark = FALSE;
    gchar* name = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &prefersDark,
                 "gtk-theme-name", &name, nullptr);
    dark = dark || prefersDark ||
           (name && std::string(name).find("dark") != std::string::npos);
    g_free(name);
  }
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, dark ? kDarkFocusCss : kFocusCss, -1,
                                  nullptr);
  gtk_style_context_add_provider_for_screen(
      screen, GTK_STYLE_PROVIDER(css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  // The screen keeps it for the life of the program.
  g_object_set_data_full(G_OBJECT(screen), "zept-focus", css, g_object_unref);
}

DesktopWindow::DesktopWindow(std::function<void(const WideString&)> print)
    : print_(std::move(print)) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), ToGtkText(state_.caption).c_str());
  gtk_window_set_default_size(GTK_WINDOW(window_), state_.width, state_.height);

  css_ = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css_, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(
      gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css_),
      GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  ShowFocusClearly(gtk_widget_get_screen(window_));

  paned_ = gtk_paned_new(GTK_ORIENTATION_VERTICAL);
  gtk_paned_set_wide_handle(GTK_PANED(paned_), TRUE);
  gtk_style_context_add_class(gtk_widget_get_style_context(paned_),
                              kSplitterClass);
  gtk_container_add(GTK_CONTAINER(window_), paned_);

  movieArea_ = gtk_overlay_new();
  gtk_widget_set_hexpand(movieArea_, TRUE);
  gtk_widget_set_vexpand(movieArea_, TRUE);
  gtk_paned_pack1(GTK_PANED(paned_), movieArea_, TRUE, TRUE);

  // The panel keeps its height when the window is resized; the movies take
  // the rest.
  panel_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_style_context_add_class(gtk_widget_get_style_context(panel_),
                              kPanelClass);
  GtkWidget* command = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_set_size_request(command, -1, 41);
  GtkWidget* home = gtk_button_new_with_label(_("Home"));
  gtk_widget_set_valign(home, GTK_ALIGN_CENTER);
  gtk_widget_set_margin_start(home, 8);
  g_signal_connect(home, "clicked", G_CALLBACK(OnHomeClicked), this);
  gtk_box_pack_start(GTK_BOX(command), home, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(panel_), command, FALSE, FALSE, 0);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller),
                                 GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
  gtk_widget_set_vexpand(scroller, TRUE);
  journal_ = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(journal_), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(journal_), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(journal_), GTK_WRAP_WORD_CHAR);
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(journal_));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_create_mark(buffer, "journal-end", &end, FALSE);
  gtk_container_add(GTK_CONTAINER(scroller), journal_);
  gtk_box_pack_start(GTK_BOX(panel_), scroller, TRUE, TRUE, 0);
  gtk_paned_pack2(GTK_PANED(paned_), panel_, FALSE, TRUE);
  gtk_widget_show_all(panel_);
  gtk_widget_hide(panel_);
  gtk_widget_show(movieArea_);
  gtk_widget_show(paned_);

  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigure), this);
  g_signal_connect(paned_, "size-allocate", G_CALLBACK(OnPanedAllocate), this);
}

DesktopWindow::~DesktopWindow() {
  g_clear_object(&heldPicture_);
  g_signal_handlers_disconnect_by_data(window_, this);
  g_signal_handlers_disconnect_by_data(paned_, this);
  gtk_style_context_remove_provider_for_screen(gtk_widget_get_screen(window_),
                                               GTK_STYLE_PROVIDER(css_));
  g_object_unref(css_);
  gtk_widget_destroy(window_);
}

void DesktopWindow::show() { gtk_widget_show(window_); }

void DesktopWindow::showLoading(unsigned colour, const WideString& note) {
  hideLoading();
  const unsigned r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF,
                 b = colour & 0xFF;
  // Dark text on a light colour, light text on a dark one.
  const bool light = r * 299 + g * 587 + b * 114 > 128000;
  char css[160];
  std::snprintf(css, sizeof css,
                "* { background-color: #%06x; color: %s; font-size: 15px; }",
                colour & 0xFFFFFF, light ? "#333333" : "#e8e8e8");
  loading_ = gtk_event_box_new();
  GtkWidget* label = gtk_label_new(ToGtkText(note).c_str());
  for (GtkWidget* widget : {loading_, label}) {
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
  }
  gtk_container_add(GTK_CONTAINER(loading_), label);
  gtk_overlay_add_overlay(GTK_OVERLAY(movieArea_), loading_);
  gtk_widget_show_all(loading_);
}

void DesktopWindow::hideLoading() {
  if (!loading_) return;
  gtk_widget_destroy(loading_);
  loading_ = nullptr;
}

void DesktopWindow::present() {
  if (state_.closed || !gtk_widget_get_visible(window_)) return;
  gtk_window_present(GTK_WINDOW(window_));
}

GdkMonitor* DesktopWindow::monitor() const {
  GdkDisplay* display = gtk_widget_get_display(window_);
  if (GdkWindow* w = gtk_widget_get_window(window_))
    return gdk_display_get_monitor_at_window(display, w);
  if (GdkMonitor* primary = gdk_display_get_primary_monitor(display))
    return primary;
  return gdk_display_get_monitor(display, 0);
}

int DesktopWindow::screenWidth() {
  GdkMonitor* m = monitor();
  if (!m) return 0;
  GdkRectangle area;
  gdk_monitor_get_geometry(m, &area);
  return area.width;
}

int DesktopWindow::screenHeight() {
  GdkMonitor* m = monitor();
  if (!m) return 0;
  GdkRectangle area;
  gdk_monitor_get_geometry(m, &area);
  return area.height;
}

void DesktopWindow::hold() {
  if (held_ || loading_ || !gtk_widget_get_mapped(window_)) return;
  GtkAllocation area;
  gtk_widget_get_allocation(movieArea_, &area);
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(
      gtk_widget_get_window(window_), area.x, area.y, std::max(1, area.width),
      std::max(1, area.height));
  if (!shot) return;
  uncover();
  held_ = true;
  heldSince_ = g_get_monotonic_time();
  heldPicture_ = shot;
  picture_ = gtk_drawing_area_new();
  g_signal_connect(
      picture_, "draw",
      G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer self) -> gboolean {
        auto* w = static_cast<DesktopWindow*>(self);
        if (w->heldPicture_) {
          gdk_cairo_set_source_pixbuf(cr, w->heldPicture_, 0, 0);
        } else {
          cairo_set_source_rgb(cr, ((w->background_ >> 16) & 0xFF) / 255.0,
                               ((w->background_ >> 8) & 0xFF) / 255.0,
                               (w->background_ & 0xFF) / 255.0);
        }
        cairo_paint(cr);
        return TRUE;
      }),
      this);
  gtk_overlay_add_overlay(GTK_OVERLAY(movieArea_), picture_);
  gtk_widget_show(picture_);
}

void DesktopWindow::release(unsigned background) {
  if (!held_) return;
  held_ = false;
  if (heldSizeable_) setSizeable(state_.sizeable);
  if (heldBounds_) applyBounds();
  heldSizeable_ = heldBounds_ = false;
  background_ = background;
  g_clear_object(&heldPicture_);
  gtk_widget_queue_draw(picture_);
  // A web view that changes size waits for its page to be drawn at the new
  // size before the window draws anything: hidden, it lets the background
  // show at once.
  if (GtkWidget* movies = gtk_bin_get_child(GTK_BIN(movieArea_)))
    gtk_widget_hide(movies);
}

void DesktopWindow::focusContent() {
  GtkWidget* movies = gtk_bin_get_child(GTK_BIN(movieArea_));
  // Screens with a SCO's view over them: the SCO's view while it shows,
  // else the screens.
  if (movies && GTK_IS_OVERLAY(movies)) {
    GtkWidget* shown = gtk_bin_get_child(GTK_BIN(movies));
    GList* children = gtk_container_get_children(GTK_CONTAINER(movies));
    for (GList* at = children; at; at = at->next)
      if (at->data != shown && gtk_widget_get_visible(GTK_WIDGET(at->data)))
        shown = GTK_WIDGET(at->data);
    g_list_free(children);
    movies = shown;
  }
  if (!movies || !gtk_widget_get_visible(movies)) return;
  gtk_widget_grab_focus(movies);
  // The page keeps its focused element but tells no one it has it again:
  // focused anew, a screen reader says where the learner is.
  if (WEBKIT_IS_WEB_VIEW(movies))
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(movies),
        "(() => { const e = document.activeElement;"
        " if (e && e !== document.body && e.blur && e.focus) {"
        " e.blur(); e.focus(); } })()",
        -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void DesktopWindow::showMovies() {
  if (GtkWidget* movies = gtk_bin_get_child(GTK_BIN(movieArea_)))
    gtk_widget_show(movies);
}

void DesktopWindow::uncover() {
  showMovies();
  held_ = false;
  g_clear_object(&heldPicture_);
  if (picture_) gtk_widget_destroy(picture_);
  picture_ = nullptr;
}

void DesktopWindow::setBounds(int left, int top, int width, int height) {
  // The shell places the window as a movie starts: the movie on show may
  // stay until the next is ready.
  if (holdOnPlacement_) hold();
  state_.left = left;
  state_.top = top;
  state_.width = width;
  state_.height = height;
  if (held_) {
    heldBounds_ = true;
    return;
  }
  applyBounds();
}

void DesktopWindow::applyBounds() {
  const int left = state_.left, top = state_.top, width = state_.width,
            height = state_.height;
  int current[2];
  gtk_window_get_size(GTK_WINDOW(window_), &current[0], &current[1]);
  // GTK sends no configure event for a size the window already has.
  resizePending_ =
      gtk_widget_get_realized(window_) &&
      (current[0] != std::max(1, width) || current[1] != std::max(1, height));
  gtk_window_move(GTK_WINDOW(window_), left, top);
  // GTK takes no empty window (a look without a size gives one).
  gtk_window_resize(GTK_WINDOW(window_), std::max(1, width),
                    std::max(1, height));
  applySizeHints();
  // GTK may move now and resize later: shown, the window changes both in
  // one request, so that it is never seen at one place with the other size.
  if (gtk_widget_get_mapped(window_))
    gdk_window_move_resize(gtk_widget_get_window(window_), left, top,
                           std::max(1, width), std::max(1, height));
}

void DesktopWindow::applySizeHints() {
  GdkGeometry hints{};
  if (state_.sizeable) {
    gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &hints,
                                  GdkWindowHints(0));
    return;
  }
  hints.min_width = hints.max_width = std::max(1, state_.width);
  hints.min_height = hints.max_height = std::max(1, state_.height);
  gtk_window_set_geometry_hints(
      GTK_WINDOW(window_), nullptr, &hints,
      GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

void DesktopWindow::setSizeable(bool sizeable) {
  state_.sizeable = sizeable;
  if (held_) {
    heldSizeable_ = true;
    return;
  }
  gtk_window_set_decorated(GTK_WINDOW(window_), sizeable);
  applySizeHints();
}

void DesktopWindow::setCaption(const WideString& caption) {
  state_.caption = caption;
  gtk_window_set_title(GTK_WINDOW(window_), ToGtkText(caption).c_str());
}

void DesktopWindow::makeTopMost() {
  state_.topMost = true;
  gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
  gtk_widget_show(window_);
  gtk_window_present(GTK_WINDOW(window_));
}

void DesktopWindow::setDebugPanelVisible(bool visible) {
  state_.debugPanel = visible;
  gtk_widget_set_visible(panel_, visible);
}

void DesktopWindow::OnPanedAllocate(GtkWidget*, GdkRectangle* area,
                                    gpointer self) {
  // The panel starts at its design height, at the bottom of whatever size
  // the window has when the panel is first shown; later the splitter and
  // the window's resizing move it.
  auto* w = static_cast<DesktopWindow*>(self);
  if (w->panelPlaced_ || !gtk_widget_get_visible(w->panel_)) return;
  w->panelPlaced_ = true;
  gtk_paned_set_position(
      GTK_PANED(w->paned_),
      std::max(0, area->height - kPanelHeight - kSplitterHeight));
}

void DesktopWindow::setBlack() {
  state_.black = true;
  gtk_style_context_add_class(gtk_widget_get_style_context(window_),
                              kBlackClass);
  gtk_style_context_add_class(gtk_widget_get_style_context(movieArea_),
                              kBlackClass);
}

void DesktopWindow::appendJournal(const WideString& line) {
  if (print_) print_(line);
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(journal_));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  if (gtk_text_buffer_get_char_count(buffer) > 0)
    gtk_text_buffer_insert(buffer, &end, "\n", 1);  // end moves past it
  const std::string text = ToGtkText(line);
  gtk_text_buffer_insert(buffer, &end, text.data(),
                         static_cast<gint>(text.size()));
  gtk_text_view_scroll_mark_onscreen(
      GTK_TEXT_VIEW(journal_), gtk_text_buffer_get_mark(buffer, "journal-end"));
}

WideString DesktopWindow::journal() const {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(journal_));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  const WideString lines = Utf8ToWide(text);
  g_free(text);
  return lines;
}

void DesktopWindow::close() {
  if (state_.closed) return;
  state_.closed = true;
  gtk_widget_hide(window_);
  if (onClosed) onClosed();
}

namespace {

// An exception must not cross GTK's C frames; it is reported like one that
// leaves a command handler.
template <typename F>
void Guarded(const std::function<void(const WideString&)>& print, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    if (print) print(u"error: " + Utf8ToWide(e.what()));
  }
}

}  // namespace

gboolean DesktopWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  auto* w = static_cast<DesktopWindow*>(self);
  Guarded(w->print_, [w] {
    if (w->onCloseRequest)
      w->onCloseRequest();
    else
      w->close();
  });
  return TRUE;  // the window is hidden by close(), never destroyed by GTK
}

gboolean DesktopWindow::OnConfigure(GtkWidget* widget, GdkEventConfigure* event,
                                    gpointer self) {
  auto* w = static_cast<DesktopWindow*>(self);
  // Held, the window's state is the place and size asked for.
  if (w->held_) return FALSE;
  // Configure events of sizes asked for earlier may still be on their way
  // after setBounds: until the one asked for last comes, they change nothing.
  if (w->resizePending_) {
    if (event->width == std::max(1, w->state_.width) &&
        event->height == std::max(1, w->state_.height))
      w->resizePending_ = false;
    return FALSE;
  }
  w->state_.width = event->width;
  w->state_.height = event->height;
  gtk_window_get_position(GTK_WINDOW(widget), &w->state_.left, &w->state_.top);
  return FALSE;
}

void DesktopWindow::OnHomeClicked(GtkButton*, gpointer self) {
  auto* w = static_cast<DesktopWindow*>(self);
  Guarded(w->print_, [w] {
    if (w->onHome) w->onHome();
  });
}

}  // namespace zept::desktop
