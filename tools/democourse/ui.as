// Shared by the course's movies: screens shown one at a time, buttons and
// text inputs.
// `screens` lists every screen clip; the movie builder sets it.

var currentScreen = null;

function hideScreens() {
  for (var i = 0; i < screens.length; i++) screens[i]._visible = false;
}

// Shows one screen and hides the others. The keyboard leaves the screen
// that goes, so that nothing typed lands in a field no one sees.
function showScreen(screen) {
  if (screen != currentScreen) Selection.setFocus(null);
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
  // A disabled button does not light up.
  clip.onRollOver = function () {
    this.hover._visible = this.enabled;
  };
  clip.onRollOut = function () {
    this.hover._visible = false;
  };
  clip.onReleaseOutside = clip.onRollOut;
  clip.onRelease = function () {
    this.action();
  };
}

// A quiz answer: a button with the boxes "right" and "wrong" hidden until
// the question is answered.
function makeChoice(clip, action) {
  makeButton(clip, action);
  clip.selected = false;
  clip.right._visible = false;
  clip.wrong._visible = false;
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

// ---------------------------------------------------------------- inputs

// A text input: its box shows a frame while the field has the keyboard,
// and a click on the box's padding gives the field the keyboard too.
function makeInput(field, box) {
  box.focus._visible = false;
  box.field = field;
  box.useHandCursor = false;
  box.onPress = function () {
    Selection.setFocus(this.field);
    Selection.setSelection(this.field.text.length, this.field.text.length);
  };
}

// An input's box is its field's name with "Box", beside it.
Selection.addListener({onSetFocus: function (before, after) {
  before._parent[before._name + "Box"].focus._visible = false;
  after._parent[after._name + "Box"].focus._visible = true;
}});
