#pragma once
// The main window as the shell sees it: geometry, frame, caption, the
// developer panel with its journal, and closing.

#include <functional>

#include "platform/text.h"

namespace zept::platform {

struct WindowState {
  int left = 0, top = 0, width = 696, height = 480;
  bool sizeable = true;
  bool topMost = false;
  bool debugPanel = false;
  bool black = false;
  WideString caption = u"Zept";
  bool closed = false;
};

class Window {
 public:
  virtual ~Window() = default;
  virtual int screenWidth() = 0;
  virtual int screenHeight() = 0;
  virtual void setBounds(int left, int top, int width, int height) = 0;
  virtual void setSizeable(bool sizeable) = 0;
  virtual void setCaption(const WideString& caption) = 0;
  // Topmost, shown and brought to the foreground.
  virtual void makeTopMost() = 0;
  virtual void setDebugPanelVisible(bool visible) = 0;
  virtual void setBlack() = 0;
  // One line of the developer journal; kept whether or not it is shown.
  virtual void appendJournal(const WideString& line) = 0;
  virtual void close() = 0;
  virtual const WindowState& state() const = 0;
};

// Keeps the window's state in memory; journal lines go to print.
class HeadlessWindow final : public Window {
 public:
  HeadlessWindow(int screenWidth, int screenHeight,
                 std::function<void(const WideString&)> print)
      : screenWidth_(screenWidth),
        screenHeight_(screenHeight),
        print_(std::move(print)) {}

  int screenWidth() override { return screenWidth_; }
  int screenHeight() override { return screenHeight_; }
  void setBounds(int left, int top, int width, int height) override {
    state_.left = left;
    state_.top = top;
    state_.width = width;
    state_.height = height;
  }
  void setSizeable(bool sizeable) override { state_.sizeable = sizeable; }
  void setCaption(const WideString& caption) override {
    state_.caption = caption;
  }
  void makeTopMost() override { state_.topMost = true; }
  void setDebugPanelVisible(bool visible) override {
    state_.debugPanel = visible;
  }
  void setBlack() override { state_.black = true; }
  void appendJournal(const WideString& line) override { print_(line); }
  void close() override { state_.closed = true; }
  const WindowState& state() const override { return state_; }

 private:
  int screenWidth_, screenHeight_;
  std::function<void(const WideString&)> print_;
  WindowState state_;
};

}  // namespace zept::platform
