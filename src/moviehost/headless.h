#pragma once
// The headless movie host: no player, no display. A movie's behaviour comes
// from its movie script, an XML file beside it named after it with
// ".movie.xml" added, whose steps run one per turn of the event loop.

#include <vector>

#include "moviehost/moviehost.h"
#include "platform/dialogs.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "util/context.h"

namespace zept {

class HeadlessMovieHost;

class HeadlessHostFactory final : public MovieHostFactory {
 public:
  struct Environment {
    Context& ctx;
    // One transcript line (no line end).
    std::function<void(const WideString&)> print;
    platform::ScriptedDialogs& dialogs;
    const platform::Window& window;
    // Native, with its trailing "/": dialog files are relative to it.
    WideString programFolder;
  };

  explicit HeadlessHostFactory(Environment env) : env_(std::move(env)) {}

  void LoadFlashCodeFromStream(const std::string&) override {}
  std::unique_ptr<MovieHost> create() override;

  // One turn: every movie whose script can go on runs one step, in the
  // order the movies were created. False when none could.
  bool runTurn();

 private:
  friend class HeadlessMovieHost;
  Environment env_;
  std::vector<HeadlessMovieHost*> live_;  // in creation order
  std::int64_t turn_ = 0;
};

// Runs until the window closes or nothing can happen any more: no script
// can go on and no timer is pending (then it prints "idle").
void RunHeadless(HeadlessHostFactory& movies, platform::VirtualTimers& timers,
                 const platform::Window& window,
                 const std::function<void(const WideString&)>& print);

// "window: LEFT TOP WIDTH HEIGHT border=... topmost=... debug=... caption=..."
WideString DescribeWindow(const platform::WindowState& state);

}  // namespace zept
