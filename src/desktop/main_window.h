#pragma once
// The main window on GTK 3: the movie area over the developer panel (journal
// and Home button) with a splitter between them.

#include <gtk/gtk.h>

#include <functional>

#include "platform/window.h"

namespace zept::desktop {

// The desktop's high-contrast theme (GTK_THEME, else GTK's theme
// setting): "high" for dark on light, "inverse" for light on dark, ""
// for any other theme.
std::string HighContrastTheme();

// Draws the keyboard focus of GTK's widgets as a solid 2 px ring of at
// least 3:1 against the theme's background, once per screen; a
// high-contrast theme keeps its own.
void ShowFocusClearly(GdkScreen* screen);

class DesktopWindow final : public platform::Window {
 public:
  // Journal lines also go to print, as they do headless. The window is
  // created hidden; show() maps it.
  explicit DesktopWindow(std::function<void(const WideString&)> print);
  ~DesktopWindow() override;
  DesktopWindow(const DesktopWindow&) = delete;
  DesktopWindow& operator=(const DesktopWindow&) = delete;

  GtkWindow* gtkWindow() const { return GTK_WINDOW(window_); }
  // A GtkOverlay filling the client area (less the developer panel when it
  // is shown): its main child and its overlays are the movies.
  GtkWidget* movieArea() const { return movieArea_; }
  void show();
  // Covers the movie area with colour (0xRRGGBB) and a short note until
  // hideLoading(): what the learner sees while the first movie is made
  // ready.
  void showLoading(unsigned colour, const WideString& note);
  void hideLoading();
  bool loading() const { return loading_ != nullptr; }
  // Between two movies: the movie area keeps a picture of what it shows and
  // the window keeps its place and size, whatever is asked meanwhile, until
  // release(), which gives the window the place and size asked for last and
  // shows the background colour (0xRRGGBB) instead of the picture and the
  // movies in one step; showMovies() brings the movies back under it once
  // the window has its size, and uncover() takes the background away.
  void hold();
  // Whether placing the window (setBounds) holds it first: the shell
  // places it as each movie starts.
  void holdOnPlacement(bool on) { holdOnPlacement_ = on; }
  void release(unsigned background);
  void showMovies();
  void uncover();
  bool held() const { return held_; }
  gint64 heldSince() const { return heldSince_; }  // monotonic, µs
  // True from a change of size until the window has it.
  bool resizing() const { return resizePending_; }
  // Brings the shown window to the front, mapped again if it was taken off
  // the screen; nothing before show() or after close().
  void present();
  // The developer journal's lines, joined by line feeds.
  WideString journal() const;

  // The window manager asks to close the window (delete-event). Unset, the
  // window closes.
  std::function<void()> onCloseRequest;
  // The developer panel's Home button.
  std::function<void()> onHome;
  // After close(): the window is hidden; the program ends its loop here.
  std::function<void()> onClosed;

  // Gives the keyboard focus back to the screens, as a dialog closes.
  void focusContent();

  int screenWidth() override;
  int screenHeight() override;
  // Position of the window, size of its client area.
  void setBounds(int left, int top, int width, int height) override;
  // Not sizeable: no frame and a fixed size.
  void setSizeable(bool sizeable) override;
  void setCaption(const WideString& caption) override;
  void makeTopMost() override;
  void setDebugPanelVisible(bool visible) override;
  void setBlack() override;
  void appendJournal(const WideString& line) override;
  void close() override;
  const platform::WindowState& state() const override { return state_; }

  // Design heights of the developer panel and of its splitter, pixels.
  static constexpr int kPanelHeight = 118;
  static constexpr int kSplitterHeight = 7;

 private:
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnConfigure(GtkWidget*, GdkEventConfigure*, gpointer self);
  static void OnHomeClicked(GtkButton*, gpointer self);
  static void OnPanedAllocate(GtkWidget*, GdkRectangle*, gpointer self);
  GdkMonitor* monitor() const;
  // Moves and sizes the window as its state says.
  void applyBounds();
  // A non-sizeable window keeps exactly the client size it was given.
  void applySizeHints();

  std::function<void(const WideString&)> print_;
  GtkWidget* window_;
  GtkWidget* paned_;
  GtkWidget* movieArea_;
  GtkWidget* panel_;
  GtkWidget* journal_;
  GtkCssProvider* css_;
  GtkWidget* loading_ = nullptr;
  bool panelPlaced_ = false;
  bool resizePending_ = false;
  bool held_ = false;
  bool holdOnPlacement_ = false;
  gint64 heldSince_ = 0;
  bool heldBounds_ = false, heldSizeable_ = false;
  GtkWidget* picture_ = nullptr;  // the held picture, over the movie area
  GdkPixbuf* heldPicture_ = nullptr;
  unsigned background_ = 0;  // drawn instead once released
  platform::WindowState state_;
};

}  // namespace zept::desktop
