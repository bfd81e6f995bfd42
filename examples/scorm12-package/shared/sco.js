// What every page of this course shares: finding the LMS's API as SCORM 1.2
// content does (up the parents, then the opener), and a few helpers.
var sco = (function () {
  function find(win) {
    for (var tries = 0; win && tries < 10; tries++) {
      if (win.API) return win.API;
      if (win.parent === win) break;
      win = win.parent;
    }
    return null;
  }
  var api = find(window) || (window.opener && find(window.opener));
  var started = new Date().getTime();

  function two(n) { return (n < 10 ? "0" : "") + n; }
  // The time since the page opened, as a CMITimespan.
  function sessionTime() {
    var seconds = Math.round((new Date().getTime() - started) / 1000);
    return "00" + two(Math.floor(seconds / 3600)) + ":" +
           two(Math.floor(seconds / 60) % 60) + ":" + two(seconds % 60);
  }
  var finished = false;
  function finish() {
    if (!api || finished) return;
    finished = true;
    api.LMSSetValue("cmi.core.session_time", sessionTime());
    api.LMSFinish("");
  }
  window.addEventListener("unload", finish);
  if (api) api.LMSInitialize("");
  return {
    get: function (name) { return api ? api.LMSGetValue(name) : ""; },
    set: function (name, value) { return api ? api.LMSSetValue(name, String(value)) : "false"; },
    commit: function () { return api ? api.LMSCommit("") : "false"; },
    finish: finish,
    connected: !!api
  };
})();
