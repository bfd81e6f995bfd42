// Shared by the course's movies: screens shown one at a time, and buttons.
// `screens` lists every screen clip; the movie builder sets it.

var currentScreen = null;

function hideScreens() {
  for (var i = 0; i < screens.length; i++) screens[i]._visible = false;
}

// Shows one screen and hides the others.
function showScreen(screen) {
  for (var i = 0; i < screens.length; i++) {
    screens[i]._visible = screens[i] == screen;
  }
  currentScreen = screen;
}

// A button clip: its box lights up under the pointer, and a click runs the
// action (with the clip as `this`).
function makeButton(clip, action) {
  clip.hover._visible = false;
  clip.action = action;
  clip.onRollOver = function () {
    this.hover._visible = true;
  };
  clip.onRollOut = function () {
    this.hover._visible = this.selected == true;
  };
  clip.onReleaseOutside = clip.onRollOut;
  clip.onRelease = function () {
    this.action();
  };
}

// A selected button stays lit, as the answer a learner gave.
function selectButton(clip, selected) {
  clip.selected = selected;
  clip.hover._visible = selected;
}

function setCaption(button, text) {
  button.caption.text = text;
}

// "7" as "07", for times and dates.
function twoDigits(n) {
  return n < 10 ? "0" + n : "" + n;
}

// Text with what XML gives a meaning to written as references.
function escapeXml(text) {
  var out = "";
  for (var i = 0; i < text.length; i++) {
    var c = text.charAt(i);
    if (c == "&") out += "&amp;";
    else if (c == "<") out += "&lt;";
    else if (c == ">") out += "&gt;";
    else if (c == "\"") out += "&quot;";
    else out += c;
  }
  return out;
}

function startsWith(text, prefix) {
  return text.substr(0, prefix.length) == prefix;
}
