#pragma once
// The movie host on the Flash emulator: each control is a player element of
// the one movie page, which plays the movie inside its bridge movie.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/page.h"
#include "moviehost/moviehost.h"

namespace zept::desktop {

class RuffleMovieHost;

class RuffleHostFactory final : public MovieHostFactory {
 public:
  // report takes a line for the journal and the trace log: a movie that
  // cannot be played, and why.
  explicit RuffleHostFactory(
      MoviePage& page,
      std::function<void(const WideString& line)> report = nullptr);
  ~RuffleHostFactory() override;

  // The emulator plays the movies; the course's player code is not run.
  void LoadFlashCodeFromStream(const std::string&) override {}
  std::unique_ptr<MovieHost> create() override;

  // Shows, hides and sizes the players whose settings the shell changed.
  void syncLayout();
  // True once a shown movie is fully loaded, so that its frames are drawn.
  bool shownMovieReady();
  // Runs when a movie starts loading, the one before it still on show.
  std::function<void()> onMovieStarting;
  // True once the movie that started last is shown and fully loaded, or is
  // gone.
  bool newestMovieReady();
  // The size of the movie that started last (0 x 0 when it is gone), and
  // its background (0xRRGGBB): the control's colour, else the stage's.
  std::pair<int, int> newestMovieSize() const;
  unsigned newestMovieBackground() const;

 private:
  friend class RuffleMovieHost;
  std::string handle(const std::vector<std::string>& message);

  MoviePage& page_;
  std::function<void(const WideString& line)> report_;
  std::map<std::string, RuffleMovieHost*> live_;
  std::string newest_;  // the movie that started loading last
  long nextId_ = 1;
};

}  // namespace zept::desktop
