#pragma once
// The movie host: one control that plays one movie, with the operations and
// the two events the shell uses. The Flash Player control on Windows; a
// scripted stand-in here.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/bitmap.h"
#include "platform/text.h"

namespace zept {

class MovieHost {
 public:
  virtual ~MovieHost() = default;

  // Raised on the main thread for each fscommand of the movie.
  std::function<void(MovieHost& sender, const WideString& command,
                     const WideString& args)>
      OnFSCommand;
  // Raised for each ExternalInterface call, with the invoke XML.
  std::function<void(MovieHost& sender, const WideString& request)> OnFlashCall;

  // Settings made before the movie is loaded.
  WideString AllowScriptAccess;
  int ScaleMode = 0;
  int Quality = 1;
  WideString BGColor;
  bool StandartMenu = false;
  bool Visible = true;
  int Width = 0;  // client size, pixels
  int Height = 0;

  // Loads and plays "PATH?QUERY"; the query items become root variables.
  virtual void setMovie(const WideString& url) = 0;
  // Answers the pending OnFlashCall.
  virtual void SetReturnValue(const WideString& value) = 0;
  // 4 when the movie is fully loaded; only then are variables touched.
  virtual int ReadyState() = 0;
  // "" when the variable is absent. Throw on the player's failure.
  virtual WideString GetVariable(const WideString& name) = 0;
  virtual void SetVariable(const WideString& name, const WideString& value) = 0;
  // Adds entry to the queue variable name (entries joined by "|"; empty or
  // "undefined" is an empty queue) in one step, so that the movie cannot
  // take the queue between a read and a write. False when the host cannot:
  // the caller reads and writes it.
  virtual bool AppendEntry(const WideString& /*name*/,
                           const WideString& /*entry*/) {
    return false;
  }
  // The part of the stage shown, in twips.
  virtual void SetZoomRect(int left, int top, int right, int bottom) = 0;
  // The current frame at the client size.
  virtual Bitmap GetFrameBitmap() = 0;
  // The picture file loaded, when the frame is nothing but that file's
  // pixels stretched to the client size (white where the file is no
  // readable picture); empty otherwise. A caller may then draw the file
  // itself instead of taking the frame.
  virtual WideString PlainPicture() const { return u""; }
};

// Makes movie host instances; holds the player code they all run.
class MovieHostFactory {
 public:
  virtual ~MovieHostFactory() = default;
  // The player code from the course's own file, handed over at start-up.
  virtual void LoadFlashCodeFromStream(const std::string& code) = 0;
  virtual std::unique_ptr<MovieHost> create() = 0;
};

}  // namespace zept
