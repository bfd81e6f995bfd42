// The menu movie (cdrom/cdrom.swf): who is learning, then the course's
// units with their status and score.
//
// The generator sets courseTitle, unitTitles, userSlots and guidePath. The
// shell answers through the event queue API._sCommand: entries
// "event;data" joined by "|", read and emptied here on every frame.

var API = new Object();
API._sCommand = "";

var users = [];        // {login, password} in the order the shell gives
var userPage = 0;      // which userSlots of them the list shows
var chosen = null;     // the user whose password is asked
var login = "";
var units = [];        // {status, score} of each unit, from the tracking
var waitingFor = "";   // the event whose answer moves to the next screen
var askedWith = "";    // the command that asked for it
var askedAt = 0;       // when, in milliseconds
var focusedField = ""; // the field that has the keyboard, as Selection names it

// Whoever drives the menu from outside (a test, an accessibility tool) can
// tell where the keys will go.
Selection.addListener({onSetFocus: function () {
  focusedField = "" + Selection.getFocus();
}});

// ---------------------------------------------------------------- events

// The shell drops an event when it finds the movie not ready; a question
// left unanswered is asked again rather than leaving a screen that waits
// for ever.
function ask(command, event) {
  waitingFor = event;
  askedWith = command;
  askedAt = getTimer();
  fscommand(command, "");
}

function poll() {
  if (waitingFor != "" && getTimer() - askedAt > 4000) {
    ask(askedWith, waitingFor);
  }
  var queue = API._sCommand;
  if (queue == undefined || queue == "" || queue == "undefined") return;
  API._sCommand = "";
  var entries = splitEvents(queue);
  for (var i = 0; i < entries.length; i++) {
    handleEvent(entries[i].name, entries[i].data);
  }
}

// The shell does not escape "|" inside an event's data, so a piece that
// does not start with an event's name belongs to the entry before it.
function splitEvents(queue) {
  var pieces = queue.split("|");
  var entries = [];
  for (var i = 0; i < pieces.length; i++) {
    var piece = pieces[i];
    var semicolon = piece.indexOf(";");
    var name = semicolon > 0 ? piece.substr(0, semicolon) : "";
    if (isEventName(name)) {
      entries.push({name: name, data: piece.substr(semicolon + 1)});
    } else if (entries.length > 0) {
      entries[entries.length - 1].data += "|" + piece;
    }
  }
  return entries;
}

function isEventName(name) {
  return startsWith(name, "on") &&
         name.substr(name.length - 5) == "Event" &&
         name.indexOf(" ") < 0 && name.indexOf("<") < 0;
}

function handleEvent(name, data) {
  if (name == "onUsersCompleteEvent") {
    users = readUsers(data);
    userPage = 0;
    showUserList();
    if (waitingFor == name) {
      waitingFor = "";
      showScreen(usersScreen);
    }
  } else if (name == "onLoadTrackingCompleteEvent") {
    units = readUnits(data);
    showUnits();
    if (waitingFor == name) {
      waitingFor = "";
      showScreen(unitsScreen);
    }
  }
}

// ---------------------------------------------------------------- XML

function parseXml(text) {
  var doc = new XML();
  doc.ignoreWhite = true;
  doc.parseXML(text);
  return firstElement(doc);
}

function firstElement(node) {
  if (node == null) return null;
  var child = node.firstChild;
  while (child != null && child.nodeType != 1) child = child.nextSibling;
  return child;
}

function nextElement(node) {
  var next = node.nextSibling;
  while (next != null && next.nodeType != 1) next = next.nextSibling;
  return next;
}

function lastElement(node) {
  var last = null;
  for (var child = firstElement(node); child != null; child = nextElement(child)) {
    last = child;
  }
  return last;
}

// The text of the first element of that name below node, depth first.
function findText(node, name) {
  for (var child = firstElement(node); child != null; child = nextElement(child)) {
    if (child.nodeName == name) {
      var value = child.firstChild;
      return value == null ? "" : value.nodeValue;
    }
    var inner = findText(child, name);
    if (inner != null) return inner;
  }
  return null;
}

// The users document: a root whose children carry login and password.
function readUsers(text) {
  var list = [];
  var root = parseXml(text);
  for (var user = firstElement(root); user != null; user = nextElement(user)) {
    var login = user.attributes.login;
    var password = user.attributes.password;
    if (login != undefined && login != "" && password != undefined) {
      list.push({login: login, password: password});
    }
  }
  return list;
}

// The trackings document: trackings > tracking > sessions > session >
// units > sco. The last session holds the learner's current values.
function readUnits(text) {
  var list = [];
  var tracking = firstElement(parseXml(text));
  var session = lastElement(firstElement(tracking));
  for (var sco = firstElement(firstElement(session)); sco != null; sco = nextElement(sco)) {
    list.push({status: findText(sco, "lesson_status"), score: findText(sco, "score")});
  }
  return list;
}

// ---------------------------------------------------------------- learners

function showUserList() {
  var first = userPage * userSlots;
  for (var i = 0; i < userSlots; i++) {
    var slot = usersScreen["user" + i];
    if (first + i < users.length) {
      setCaption(slot, users[first + i].login);
      slot._visible = true;
    } else {
      slot._visible = false;
    }
  }
  usersScreen.moreUsers._visible = users.length > userSlots;
  usersScreen.noUsers._visible = users.length == 0;
}

function nextUserPage() {
  userPage++;
  if (userPage * userSlots >= users.length) userPage = 0;
  showUserList();
}

function pickUser(slot) {
  chosen = users[userPage * userSlots + slot];
  passwordScreen.greeting.text = "Hello, " + chosen.login;
  passwordScreen.password.text = "";
  passwordScreen.message.text = "";
  showScreen(passwordScreen);
  Selection.setFocus(passwordScreen.password);
}

function checkPassword() {
  if (passwordScreen.password.text == chosen.password) {
    logIn(chosen.login);
  } else {
    passwordScreen.message.text = "That is not the password. Please try again.";
    passwordScreen.password.text = "";
    // The learner types the password again without reaching for the mouse.
    Selection.setFocus(passwordScreen.password);
  }
}

// Names and passwords travel in "AddUser", whose argument ";" splits, and
// in the event queue, whose entries "|" joins; neither has an escape. The
// shell escapes what XML gives a meaning to.
function badCharacter(text) {
  var refused = ";|";
  for (var i = 0; i < refused.length; i++) {
    if (text.indexOf(refused.charAt(i)) >= 0) return true;
  }
  return false;
}

function trim(text) {
  var start = 0;
  var end = text.length;
  while (start < end && text.charAt(start) == " ") start++;
  while (end > start && text.charAt(end - 1) == " ") end--;
  return text.substring(start, end);
}

function createLearner() {
  var name = trim(usersScreen.newName.text);
  var password = usersScreen.newPassword.text;
  var message = "";
  if (name == "" || password == "") {
    message = "Please type a name and a password.";
  } else if (badCharacter(name) || badCharacter(password)) {
    message = "Names and passwords cannot contain ; or |.";
  } else {
    for (var i = 0; i < users.length; i++) {
      if (users[i].login == name) {
        message = "There is already a learner called " + name +
                  ". Pick the name on the left.";
      }
    }
  }
  usersScreen.newMessage.text = message;
  if (message != "") return;
  fscommand("AddUser", name + ";" + password);
  users.push({login: name, password: password});
  showUserList();
  usersScreen.newName.text = "";
  usersScreen.newPassword.text = "";
  logIn(name);
}

function logIn(name) {
  login = name;
  learner.text = "Learner: " + name;
  fscommand("SetLogin", name);
  fscommand("LMSLoad", "");
  fscommand("LMSInitialize", "");
  readTracking();
}

function changeLearner() {
  login = "";
  learner.text = "";
  showScreen(usersScreen);
}

// ---------------------------------------------------------------- units

function readTracking() {
  loadingScreen.message.text = "Loading your progress...";
  showScreen(loadingScreen);
  ask("GetTracking", "onLoadTrackingCompleteEvent");
}

function statusText(status) {
  if (status == "passed") return "Passed";
  if (status == "failed") return "Failed";
  if (status == "completed") return "Completed";
  if (status == "incomplete") return "In progress";
  if (status == "browsed") return "Browsed";
  return "Not started";
}

// A score means something once the unit has been taken.
function scoreText(unit) {
  if (unit.score == null || unit.score == "" ||
      (unit.score == "0" && unit.status != "passed" && unit.status != "failed"))
    return "-";
  return unit.score + " %";
}

function showUnits() {
  for (var i = 0; i < unitTitles.length; i++) {
    var unit = i < units.length ? units[i] : {status: "", score: ""};
    unitsScreen["status" + (i + 1)].text = statusText(unit.status);
    unitsScreen["score" + (i + 1)].text = scoreText(unit);
  }
}

function openUnit(n) {
  fscommand("GoToSCO", "" + n);
}

function today() {
  var now = new Date();
  return twoDigits(now.getDate()) + "/" + twoDigits(now.getMonth() + 1) + "/" +
         now.getFullYear();
}

// The results page in the report vocabulary the shell prints.
function resultsReport() {
  var cell = "<td border=\"1\">";
  var wide = "<td width=\"216\" border=\"1\">";
  var right = "<td width=\"72\" border=\"1\" align=\"right\">";
  var xml = "<export>";
  xml += "<p fontsize=\"16\" align=\"center\">" + escapeXml(courseTitle) +
         " \u2013 results</p>";
  xml += "<hr width=\"60\"/>";
  xml += "<p>Learner: " + escapeXml(login) + "</p>";
  xml += "<p>Date: " + today() + "</p>";
  xml += "<br/><table>";
  // Table text has one face and size in the report: the header row stands
  // out by its capitals.
  xml += "<tr>" + wide + "<s>UNIT</s></td>" + cell + "<s>STATUS</s></td>" +
         right + "<s>SCORE</s></td></tr>";
  for (var i = 0; i < unitTitles.length; i++) {
    var unit = i < units.length ? units[i] : {status: "", score: ""};
    xml += "<tr>" + wide + "<s>" + (i + 1) + " \u2013 " +
           escapeXml(unitTitles[i]) + "</s></td>" + cell + "<s>" +
           statusText(unit.status) + "</s></td>" + right + "<s>" +
           scoreText(unit) + "</s></td></tr>";
  }
  xml += "</table></export>";
  return xml;
}

function saveResults() {
  fscommand("PrintDocument", resultsReport());
}

function openGuide() {
  fscommand("OnOpenDocument", guidePath);
}

function quit() {
  fscommand("sendQuit", "");
}

// Enter sends the form that is shown.
var keys = new Object();
keys.onKeyDown = function () {
  if (Key.getCode() != 13) return;
  if (currentScreen == passwordScreen) checkPassword();
  else if (currentScreen == usersScreen) createLearner();
};
Key.addListener(keys);

// ---------------------------------------------------------------- start

this.onEnterFrame = poll;
showScreen(loadingScreen);
showUserList();
if (sParam == "back") {
  // Back from a unit: the shell still knows the learner and the place of
  // the tracking; show the units with what the unit stored.
  login = sLogin;
  learner.text = "Learner: " + login;
  fscommand("GetUserList", "");
  readTracking();
} else {
  loadingScreen.message.text = "Loading the learners...";
  fscommand("SetTrackMode", "file");
  fscommand("SetTrackPath", "[$APPLICATION]\\tracking");
  fscommand("SetTrackingId", "demo-course");
  ask("GetUserList", "onUsersCompleteEvent");
}
