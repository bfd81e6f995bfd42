#include "shell/api.h"

#include "util/file_io.h"
#include "util/textlib.h"

namespace zept {

void tellFlashCommand(Context& ctx, MovieHost* movie, const WideString& event,
                      const WideString& data) {
  WriteTrace(ctx, u"api", u"tellFlashCommand",
             event + u" :: " + data.substr(0, 1024), 1, event);
  if (!movie) {
    WriteTrace(ctx, u"api", u"tellFlashCommand", u"FlashPlayerControl = nil ",
               1, u"Warning");
    return;
  }
  const int state = movie->ReadyState();
  if (state != 4) {
    WriteTrace(ctx, u"api", u"tellFlashCommand",
               u"FlashPlayerControl.ReadyState=" + IntToStr(state), 1, u"");
    return;
  }
  const WideString entry = event + u";" + data;
  try {
    if (movie->AppendEntry(u"API._sCommand", entry)) return;
  } catch (const std::exception& e) {
    LogError(ctx, e, u"api", u"tellFlashCommand", 15061506,
             u"SetVariable('API._sCommand', " + entry + u")");
    return;
  }
  WideString queue;
  try {
    queue = movie->GetVariable(u"API._sCommand");
  } catch (const std::exception& e) {
    LogError(ctx, e, u"api", u"tellFlashCommand", 15061505,
             u"GetVariable('API._sCommand')");
    queue.clear();
  }
  queue = queue.empty() || queue == u"undefined" ? WideString() : queue + u"|";
  queue += entry;
  try {
    movie->SetVariable(u"API._sCommand", queue);
  } catch (const std::exception& e) {
    LogError(ctx, e, u"api", u"tellFlashCommand", 15061506,
             u"SetVariable('API._sCommand', " + queue + u")");
  }
}

}  // namespace zept
