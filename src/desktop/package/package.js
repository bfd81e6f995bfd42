// zept's own screens for a standard package (learner choice, course menu,
// the controls around a SCO). Every call reaches the program synchronously,
// in order, as a POST to zept://z/api of a JSON array of strings; the
// answer is the call's text.
//
// The SCO plays in a web view of its own that the program places over the
// player's area (its page, host.js, holds the API the SCO finds), in
// another origin and another web process, so no page of the package can
// reach this one. Behind that:
// this page runs only its own script; the screen messages carry a secret
// the program learns from the first one and that lives only in this
// closure; every message is built and sent, and every listener added, with
// functions taken before anything else ran, as arrays without a prototype
// (JSON.stringify would call a toJSON put there); and the screens act on
// the learner's own input only.
(() => {
"use strict";

// Taken now, so that nothing done later changes how we talk or listen.
const Request = XMLHttpRequest;
const openRequest = Request.prototype.open;
const sendRequest = Request.prototype.send;
const apply = Reflect.apply;
const stringify = JSON.stringify;
const parse = JSON.parse;
const setPrototype = Object.setPrototypeOf;
const defineProperty = Object.defineProperty;
const toText = String;
const substring = String.prototype.substring;
const listen = EventTarget.prototype.addEventListener;
const byId = Document.prototype.getElementById;
const later = setTimeout;

const secret = (() => {
  const words = new Uint32Array(4);
  crypto.getRandomValues(words);
  let text = "";
  for (let i = 0; i < 4; i++) text += words[i].toString(16).padStart(8, "0");
  return text;
})();

// A message as the program reads it: a JSON array of strings, made from
// head and the items of rest (an array-like) without calling anything the
// content can replace.
function message(head, rest) {
  const list = [];
  setPrototype(list, null);
  let n = 0;
  for (let i = 0; i < head.length; i++) list[n++] = head[i];
  if (rest)
    for (let i = 0; i < rest.length; i++) list[n++] = rest[i];
  return stringify(list);
}

const handlers = window.webkit && window.webkit.messageHandlers;
const postHandler = handlers && handlers.zeptApi;
const postMessage = postHandler && postHandler.postMessage;
let posted = 0;
// True for the rest of a task in which a synchronous request was refused:
// WebKit refuses them while a page is being left, and after a few refusals
// in one task it drops the next ones without a word.
let posting = false;

// A call longer than this (in UTF-16 units, at most 6 MiB of UTF-8) is
// refused here with an error code; the program takes no more than 8 MiB.
const MAX_CALL = 2 * 1024 * 1024;
const TOO_LARGE = {};

function post(text) {
  if (!posting) {
    posting = true;
    later(() => { posting = false; }, 0);
  }
  apply(postMessage, postHandler,
        ["[\"posted\"," + apply(substring, text, [1])]);
  posted++;
  return null;
}

// The answer, or null for a call that could only be posted (from unload
// handlers): such a call goes on its way unanswered, in order, counted.
function send(head, rest) {
  const text = message(head, rest);
  if (text.length > MAX_CALL) throw TOO_LARGE;
  if (posting && postMessage) return post(text);
  const xhr = new Request();
  try {
    apply(openRequest, xhr, ["POST", "zept://z/api", false]);
    apply(sendRequest, xhr, [text]);
    if (xhr.status === 200) return xhr.responseText;
  } catch (e) {
    if (!postMessage) throw e;
  }
  if (!postMessage) throw new Error("the program did not answer");
  return post(text);
}

// A screen message: what the program takes from zept's own script only.
function ask(list) {
  const head = ["screen", secret];
  setPrototype(head, null);
  return send(head, list);
}

// zept's own words in the learner's language, from the program's catalog:
// asked for once a text. The page's own texts and names are translated in
// one call as it loads, before start().
const words = Object.create(null);
function _(msgid) {
  if (!(msgid in words)) {
    let answer = null;
    try { answer = parse(ask(["strings", msgid])); } catch (e) {}
    // Not kept when unanswered (a page being left): asked again next time.
    if (!answer || !Array.isArray(answer.strings)) return msgid;
    words[msgid] = text(answer.strings[0]) || msgid;
  }
  return words[msgid];
}

// Marks a text for the catalog where it is defined; _() translates it where
// it is shown.
function N_(msgid) { return msgid; }

const NAMED_BY = ["title", "aria-label", "placeholder"];
function translatePage() {
  const places = [];
  const keys = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const key = node.nodeValue.replace(/\s+/g, " ").trim();
    if (key) places.push({node}), keys.push(key);
  }
  for (const element of document.body.querySelectorAll("*")) {
    for (const name of NAMED_BY) {
      const key = (element.getAttribute(name) || "").replace(/\s+/g, " ").trim();
      if (key) places.push({element, name}), keys.push(key);
    }
  }
  let answer = null;
  try { answer = parse(ask(["strings"].concat(keys))); } catch (e) {}
  if (!answer || !Array.isArray(answer.strings)) return;
  if (answer.lang) document.documentElement.lang = text(answer.lang);
  for (let i = 0; i < places.length; i++) {
    const value = text(answer.strings[i]) || keys[i];
    words[keys[i]] = value;
    const place = places[i];
    if (place.element) {
      place.element.setAttribute(place.name, value);
    } else {
      // The spaces around a piece of a sentence (beside a <code>) stay.
      const old = place.node.nodeValue;
      place.node.nodeValue = old.match(/^\s*/)[0] + value + old.match(/\s*$/)[0];
    }
  }
}
apply(listen, document, ["DOMContentLoaded", translatePage]);

function askJson(list) {
  try {
    const answer = parse(ask(list));
    if (answer && typeof answer === "object") return answer;
  } catch (e) {
  }
  return {ok: false, message: _("zept did not answer in time; try again.")};
}

function text(value) {
  return value === undefined || value === null ? "" : toText(value);
}

// The package's version ("1.2", "2004" or "cmi5"), as the program says at
// start.
let version = "1.2";
const is2004 = () => version === "2004";
// cmi5 and Tin Can content talks to zept's LRS; its menu is a course's.
const isCmi5 = () => version === "cmi5" || version === "tincan";

// Where the SCO's own view is placed.
let area = null;
// {id, launch, previous, next} while a SCO plays; for SCORM 2004 also
// what it may ask of the sequencer: {controls, hidden}.
let playing = null;
let leaving = false;
let menuShown = false;
let pendingItem = "";  // --item, launched once a learner is chosen
// Run by the conformance harness (zept started with its test channel): what
// the screens show is reported to it.
let testing = false;

function report(list) {
  if (!testing) return;
  const all = ["test"];
  for (let i = 0; i < list.length; i++) all[i + 1] = list[i];
  ask(all);
}

function $(id) { return apply(byId, document, [id]); }

// Live regions speak what is added to them: WebKit says nothing when the
// text of an element already there changes, so each message is a new one.
function say(id, words) {
  const region = $(id);
  region.textContent = "";
  if (!words) return;
  const line = document.createElement("p");
  line.textContent = words;
  region.appendChild(line);
}

let courseTitle = "";
// The page's title, which names the screen, then the course.
function titled(screen) {
  document.title = screen && courseTitle ? screen + " \u2014 " + courseTitle
                                         : screen || courseTitle || "zept";
}

function showLearner(name) {
  $("who").textContent = name;
  $("who-line").hidden = !name;
}

// The item now playing, as the controls, the frame and the title name it.
function showItem(title) {
  $("item-title").textContent = title;
  say("item-state", "");
  $("sco").title = title || _("Course content");
  titled(title);
  say("announce", title ? _("Now playing:") + " " + title : "");
}

// The SCO has finished: said beside its title, in words.
function sayEnded() {
  $("controls").classList.add("ended");
  say("item-state", " \u2014 " + _("finished"));
}

function show(section) {
  for (const id of ["learners", "menu", "player"]) $(id).hidden = id !== section;
  $("controls").hidden = section !== "player";
  place();
}

// Tells the program where the SCO's view goes (in this page's pixels), or
// that it is hidden: the player's area while a SCO plays there.
let placed = "";
function place() {
  const shown = area && playing && playing.inView && !area.hidden &&
                !$("player").hidden;
  let where = ["place"];
  if (shown) {
    const box = area.getBoundingClientRect();
    where = ["place", String(Math.round(box.left)), String(Math.round(box.top)),
             String(Math.round(box.width)), String(Math.round(box.height))];
  }
  const key = where.join(" ");
  if (key === placed) return;
  placed = key;
  ask(where);
}

// Unloads the SCO's page so that its own unload handlers reach the runtime,
// then tells the program the page has gone. For SCORM 2004, then() is given
// what the SCO's own navigation request led to, if anything (null if not).
function leaveSco(then) {
  if (!playing || leaving) {
    if (!leaving) then(null);
    return;
  }
  leaving = true;
  // The program leaves the SCO's page (its unload handlers run and what
  // they post arrives), then says so.
  unloaded = () => {
    unloaded = null;
    leaving = false;
    const launch = playing.launch;
    playing = null;
    place();
    const left = ask(["left", String(posted), launch]);
    then(is2004() ? followed(left) : null);
  };
  ask(["unload"]);
}
let unloaded = null;

// The program's word that the SCO's page has gone.
defineProperty(window, "zeptUnloaded", {
  value: (key) => {
    if (key === secret && unloaded) later(unloaded, 0);
  },
});

// What the program learned of the SCO's view: the emulator crashed in one
// of its pages (said once a launch), or a cmi5 AU went to its return URL.
defineProperty(window, "zeptContent", {
  value: (key, launch, what, error, page) => {
    if (key !== secret || !playing || leaving || launch !== playing.launch)
      return;
    if (what === "crashed" && !playing.crashed) {
      playing.crashed = true;
      crashed(text(error).substring(0, 300), text(page).substring(0, 300));
    } else if (what === "returned" || what === "gone") {
      showMenu(what === "gone"
                   ? "This item stopped unexpectedly. Your progress so far " +
                     "is kept."
                   : "");
    }
  },
});

// Said where the SCO showed, as for a missing page, with Retry: the item
// launched again as the learner would choose it.
function crashed(error, page) {
  $("crashed-page").textContent = page;
  area.hidden = true;
  $("crashed").hidden = false;
  place();
  $("retry").focus();
}

// The program's way to end the SCO before the window closes; it knows the
// secret, the content does not, nor can it put a function of its own here
// to learn it.
defineProperty(window, "zeptLeave", {
  value: (key) => { if (key === secret) leaveSco(() => {}); },
});

// A line about results that cannot be sent, shown under the menu's buttons
// as soon as the program learns it.
defineProperty(window, "zeptNote", {
  value: (key, text) => {
    if (key === secret) say("results-note", String(text));
  },
});

// What a SCO's own navigation request led to once its page has gone: the
// answer of "left" (a session the leaving closed), else of "next" (one its
// Terminate closed); null when it led nowhere new.
function followed(left) {
  let answer = null;
  try { answer = parse(left || ask(["next"])); } catch (e) {}
  if (!answer || typeof answer !== "object") return null;
  return answer.id || answer.ended ? answer : null;
}

// A navigation request of the learner (SCORM 2004): the SCO's page is left
// first, so that its unload handlers reach its runtime, then the sequencer
// is asked. A session the leaving closed (the course's end) comes first.
function navigate(request, target) {
  // The learner's request wins over what the SCO asks for while it goes.
  if (is2004() && playing && !leaving) ask(["taking", request]);
  leaveSco((after) => {
    if (after) {
      follow(after);
      return;
    }
    follow(askJson(target === undefined ? ["nav", request]
                                        : ["nav", request, target]));
  });
}

// Plays what the sequencer delivered, or shows the menu with its words.
function follow(answer) {
  if (answer.id) leaveSco(() => play(answer));
  else showMenu(answer.message || "", answer);
}

// The controls around a SCO, by the id of their button.
const controls = {
  previous: () => {
    if (is2004()) navigate("previous");
    else if (playing && playing.previous) launch(playing.previous);
  },
  next: () => {
    if (is2004()) navigate("continue");
    else if (playing && playing.next) launch(playing.next);
  },
  // SCORM 2004: the SCO's page is left as the learner leaves it (what it
  // asked for on leaving is followed); its activity stays the current one.
  "to-menu": () => {
    if (is2004()) leaveSco((after) => after ? follow(after) : showMenu());
    else showMenu();
  },
  exit: () => {
    if (is2004()) navigate("exit");
    else leaveSco(() => ask(["exit"]));
  },
  "exit-all": () => navigate("exitAll"),
  "suspend-all": () => navigate("suspendAll"),
  abandon: () => navigate("abandon"),
};

// Alt+P, Alt+N and Alt+M reach the program's window whichever frame has the
// focus; the program, which knows the secret, presses the control. Alt+X
// the program answers itself, as closing the window.
defineProperty(window, "zeptControl", {
  value: (id, key) => {
    if (key !== secret || $("controls").hidden || !(id in controls) ||
        $(id).disabled || $(id).hidden)
      return;
    controls[id]();
  },
});

// The desktop's high-contrast theme, "high" or "inverse", or none ("").
function contrast(theme) {
  const root = document.documentElement.classList;
  root.toggle("high-contrast", theme === "high" || theme === "inverse");
  root.toggle("inverse", theme === "inverse");
}

// The program says when the desktop's theme changes.
defineProperty(window, "zeptLook", {
  value: (key, theme) => { if (key === secret) contrast(text(theme)); },
});

// The conformance harness's commands (zept started with its test channel):
// the controls pressed as the learner presses them, and what the screens
// offer now. The table of contents is the menu as it would show now, the
// course itself first.
defineProperty(window, "zeptTest", {
  value: (key, list) => {
    if (key !== secret || !testing) return;
    const offered = (id) => !$(id).hidden && !$(id).disabled;
    const inPlayer = !$("controls").hidden;
    const menuShows = !$("menu").hidden;
    const menu = askJson(["menu"]);
    const root = menu.root || {};
    const entries = [[text(menu.title), !!root.choosable, false, text(root.id),
                      ""]];
    for (const item of menu.items || [])
      entries.push([text(item.title), !!item.choosable && !item.reason,
                    !!item.launchable, text(item.id), text(item.reason)]);
    const refuse = (why) => report(["refused", why]);
    const what = list[0];
    if (what === "state") {
      const out = ["state",
                   inPlayer ? String(offered("next")) :
                   String(menuShows && offered("continue") &&
                          $("continue").dataset.id === "continue"),
                   String(inPlayer && offered("previous")),
                   menuShows ? text($("continue").dataset.id) : "",
                   String(menuShows && offered("continue"))];
      for (const e of entries)
        out.push(e[0], String(e[1]), String(e[2]));
      report(out);
    } else if (what === "press") {
      const ids = {continue: "next", previous: "previous", exit: "exit",
                   exitAll: "exit-all", suspendAll: "suspend-all",
                   abandon: "abandon"};
      const name = text(list[1]);
      if (name === "start" || (!inPlayer && name === "continue")) {
        const request = $("continue").dataset.id;
        if (menuShows && offered("continue") &&
            (name === "start" || request === "continue"))
          navigate(request);
        else
          refuse("the menu offers no " + name);
      } else if (inPlayer && ids[name] && offered(ids[name])) {
        controls[ids[name]]();
      } else {
        refuse("the " + name + " control is not offered");
      }
    } else if (what === "text") {
      // What the learner reads now, as the page lays it out.
      report(["text", text(document.body.innerText)]);
    } else if (what === "choice") {
      const title = text(list[1]).trim();
      for (const e of entries) {
        if (e[0].trim() !== title) continue;
        if (e[1]) navigate("choice", e[3]);
        else refuse(e[4] || title + " cannot be chosen now");
        return;
      }
      refuse("no entry titled " + title);
    }
  },
});

// SCORM 2004: the buttons the sequencer would take a request of now, less
// those the activity hides; Previous and Continue stay in place, disabled.
function setControls(allowed, hidden) {
  const hides = (name) => {
    for (let i = 0; i < hidden.length; i++) if (hidden[i] === name) return true;
    return false;
  };
  const rows = [["previous", "previous", true], ["next", "continue", true],
                ["exit", "exit", false], ["exit-all", "exitAll", false],
                ["suspend-all", "suspendAll", false], ["abandon", "abandon", false]];
  for (let i = 0; i < rows.length; i++) {
    const id = rows[i][0], request = rows[i][1], stays = rows[i][2];
    $(id).hidden = hides(request) || (!stays && !allowed[request]);
    $(id).disabled = !allowed[request];
  }
}

// The SCO has finished while its page stays: the controls say so, and the
// way on (Next, else Menu) is the one to take. SCORM 2004: what its
// navigation request leads to is asked for once its call has returned.
// A cmi5 AU ends its own way after "terminated" (its last screen, its
// return URL, closing its window): it is not taken away mid-request.
function ended() {
  if (!playing || leaving) return;
  if (is2004()) {
    later(terminated, 0);
    return;
  }
  sayEnded();
  (playing.next ? $("next") : $("to-menu")).classList.add("default");
}

// The program says when an AU's own window has gone (closed, or done).
defineProperty(window, "zeptWindowGone", {
  value: (key, launch) => {
    if (key === secret && playing && playing.windowed && !leaving &&
        launch === playing.launch)
      showMenu();
  },
});

// The program says when a launch's LMSFinish or Terminate succeeded, once
// the call has returned; a launch gone is no news.
defineProperty(window, "zeptEnded", {
  value: (key, launch) => {
    if (key === secret && playing && launch === playing.launch) ended();
  },
});

function terminated() {
  if (!playing || leaving) return;
  const answer = askJson(["next"]);
  if (answer.id || answer.ended || answer.ok === false) {
    leaveSco(() => follow(answer));
    return;
  }
  // Nothing follows by itself: the learner goes on from the controls, as
  // the sequencer allows them now.
  const menu = askJson(["menu"]);
  setControls(menu.controls || {}, menu.hidden || []);
  report(["waiting"]);
  sayEnded();
  (!$("next").disabled && !$("next").hidden ? $("next") : $("to-menu"))
      .classList.add("default");
}

// Shows an item launched (the answer of "launch" for id, or of a
// navigation request) and loads its page.
function play(answer, id) {
  playing = {id: id || text(answer.id), launch: text(answer.launch),
             previous: answer.previous, next: answer.next};
  $("controls").classList.remove("ended");
  $("next").classList.remove("default");
  $("to-menu").classList.remove("default");
  showItem(text(answer.title));
  if (is2004()) {
    setControls(answer.controls || {}, answer.hidden || []);
  } else {
    $("previous").disabled = !answer.previous;
    $("next").disabled = !answer.next;
  }
  show("player");
  // A launch page the package lacks is named where the SCO would show;
  // no page loads, so none is said to have loaded.
  const missing = answer.missing || "";
  $("crashed").hidden = true;
  $("missing").hidden = !missing;
  $("away").hidden = true;
  area.hidden = !!missing;
  if (missing) {
    $("missing-file").textContent = missing;
    place();
    (!$("next").disabled ? $("next") : $("to-menu")).focus();
    return;
  }
  report(["delivered", text(answer.id), text(answer.title), text(answer.url)]);
  if (answer.window === true) {
    playing.windowed = true;
    area.hidden = true;
    $("away-title").textContent = answer.title;
    $("away").hidden = false;
    place();
    ask(["window", text(answer.url), text(answer.title)]);
    $("to-menu").focus();
    return;
  }
  // Each launch is a view and a browser of its own, never a move within
  // the last one's page.
  area.setAttribute("aria-label", text(answer.title));
  playing.inView = true;
  ask(["play", text(answer.launch), stringify({
    launch: text(answer.launch), version, url: text(answer.url),
    title: text(answer.title), values: answer.values || {},
  })]);
  place();
}

function launch(id) {
  leaveSco(() => {
    const answer = askJson(["launch", id]);
    if (!answer.ok) showMenu(answer.message);
    else play(answer, id);
  });
}

// What the learner does, never what a script makes up: a SCO calling
// top.document.getElementById("exit").click() changes nothing.
function on(element, type, handler) {
  apply(listen, element, [type, (event) => {
    if (event.isTrusted) handler(event);
  }]);
}

// A row or option that acts like a button: a click, Enter or Space.
function activates(element, action) {
  on(element, "click", action);
  on(element, "keydown", (event) => {
    if (event.key === "Enter" || event.key === " ") {
      event.preventDefault();
      action();
    }
  });
}

function cell(row, content) {
  const td = document.createElement("td");
  td.setAttribute("role", "gridcell");
  td.textContent = content;
  row.appendChild(td);
  return td;
}

// A row of the menu's tree, focusable by the arrows (one row of the tree
// is its tab stop). What a screen reader says as it gets focus is its
// name: the title, the status and the score; why it is held back is its
// description.
function treeRow(level, title, status, score) {
  const row = document.createElement("tr");
  row.setAttribute("aria-level", String(level));
  row.tabIndex = -1;
  const words = [title];
  if (status) words.push(status);
  if (score) words.push("score " + score);
  row.setAttribute("aria-label", words.join(", "));
  return row;
}

const STATUS_NAMES = {
  "not attempted": N_("Not attempted"), "incomplete": N_("Incomplete"),
  "completed": N_("Completed"), "passed": N_("Passed"), "failed": N_("Failed"),
  "browsed": N_("Browsed"), "unknown": N_("Unknown"),
  "in progress": N_("In progress"), "satisfied": N_("Satisfied"),
};
// A status as the learner reads it; "" for none.
function statusName(status) {
  const name = STATUS_NAMES[status];
  return name ? _(name) : "";
}

// The menu's first button: SCORM 1.2's item to continue with; SCORM 2004's
// Start, Resume (a suspended course) or Continue (from the activity the
// learner left), as the sequencer allows it.
const BEGIN = {
  start: [N_("Start"), "start"], resume: [N_("Resume"), "resumeAll"],
  "": [N_("Continue"), "continue"],
};

// The words above the tree for how a SCORM 2004 session ended.
const ENDINGS = {
  finished: N_("You have reached the end of the course."),
  left: N_("You have left the course."),
  suspended: N_("The course is suspended: Resume takes you back where you were."),
};

// A SCORM 2004 row's status: its success where known, else its completion.
function status2004(entry) {
  const status = entry.success !== "unknown" ? entry.success : entry.completion;
  return statusName(status) || text(status);
}

// The course itself, first in the tree: what its activities rolled up to.
function courseRow(menu) {
  const root = menu.root || {};
  const title = text(menu.title) || _("Course");
  const status = isCmi5() ? statusName(menu.courseStatus)
               : root.completion ? status2004(root) : "";
  const score = isCmi5() ? "" : text(root.score);
  const row = treeRow(1, title, status, score);
  row.className = "folder course";
  row.dataset.id = "";
  cell(row, title);
  cell(row, status);
  cell(row, score);
  return row;
}

// Parts of the course the learner closed in the tree, by id, kept while
// the page lives.
const closed = new Set();

// The rows of the menu's tree a learner can reach now: those whose
// parents are all open.
function visibleRows() {
  const rows = [];
  for (const row of $("items").tBodies[0].rows) if (!row.hidden) rows.push(row);
  return rows;
}

function level(row) { return Number(row.getAttribute("aria-level")); }

// Shows and hides the rows under the closed ones, as their parents say.
function foldRows() {
  let hiddenBelow = Infinity;
  for (const row of $("items").tBodies[0].rows) {
    const depth = level(row);
    if (depth <= hiddenBelow) hiddenBelow = Infinity;
    row.hidden = depth > hiddenBelow;
    if (row.hidden) continue;
    if (row.hasAttribute("aria-expanded")) {
      const open = !closed.has(row.dataset.id);
      row.setAttribute("aria-expanded", String(open));
      if (!open) hiddenBelow = depth;
    }
  }
}

// One tab stop for a list or a tree: the element with the focus, or the
// one given, takes it from the others.
function roving(elements, here) {
  for (const element of elements) element.tabIndex = element === here ? 0 : -1;
}

// after: the sequencer's answer that led here, if any (the session ended,
// a request refused); known: the menu as just asked for, if it was.
function showMenu(message, after, known) {
  leaveSco(() => {
    const menu = known || askJson(["menu"]);
    showLearner(menu.learner || "");
    const ending = !message && after && after.ended && ENDINGS[after.end]
                       ? _(ENDINGS[after.end]) : "";
    $("menu-message").classList.toggle("done", !!ending);
    say("menu-message", message || ending || "");
    // A note already said is not said again each time the menu shows.
    if ($("results-note").textContent !== text(menu.note))
      say("results-note", text(menu.note));
    const body = $("items").tBodies[0];
    body.textContent = "";
    const rows = [];
    const nested = is2004() || isCmi5();
    if (nested) rows.push(courseRow(menu));
    // SCORM 2004's current activity, else the item the learner goes on with.
    const current = text(menu.current || menu.continue);
    let firstOpen = null;
    for (const item of menu.items || []) {
      const depth = Number(item.depth) || 0;
      // SCORM 2004: any activity the sequencer takes a choice of opens;
      // why a leaf cannot be chosen is said under its title.
      const reason = is2004() ? (item.choosable ? "" : item.reason || "")
                              : item.reason;
      const opens = item.launchable || (is2004() && item.choosable);
      // A cluster says what its activities rolled up to.
      const status = !opens
          ? (is2004() && item.completion !== "not attempted" ? status2004(item)
             : isCmi5() ? statusName(item.status) : "")
          : is2004() ? status2004(item)
                     : statusName(item.status) || text(item.status);
      const score = !opens && !is2004() ? "" : text(item.score);
      const row = treeRow(depth + (nested ? 2 : 1), text(item.title), status,
                          score);
      row.dataset.id = item.id;
      const first = cell(row, item.title);
      first.style.paddingInlineStart = ((nested ? 32 : 12) + depth * 20) + "px";
      if (text(item.id) === current) row.setAttribute("aria-current", "true");
      if (!opens) {
        row.className = "folder";
      } else {
        row.className = (item.launchable ? "item" : "item folder") +
                        (reason ? " held" : "");
        if (reason) {
          row.setAttribute("aria-disabled", "true");
          const why = document.createElement("span");
          why.className = "reason";
          why.id = "reason-" + rows.length;
          why.textContent = reason;
          first.appendChild(why);
          row.setAttribute("aria-describedby", why.id);
        } else if (!firstOpen) {
          firstOpen = row;
        }
        const open = () => {
          if (reason) say("menu-message", reason);
          else if (is2004()) navigate("choice", item.id);
          else launch(item.id);
        };
        activates(row, open);
      }
      cell(row, status);
      cell(row, score);
      rows.push(row);
    }
    // A row with rows under it opens and closes them.
    for (let i = 0; i + 1 < rows.length; i++)
      if (level(rows[i + 1]) > level(rows[i]))
        rows[i].setAttribute("aria-expanded", "true");
    for (const row of rows) body.appendChild(row);
    foldRows();
    const stop = rows.find((row) => row.hasAttribute("aria-current") &&
                                    !row.hidden) ||
                 (firstOpen && !firstOpen.hidden ? firstOpen : rows[0]);
    roving(rows, stop);
    // SCORM 2004: where the sequencer takes no Start (Resume, Continue) but
    // a choice, the activities are the way in, and the page says so.
    let choose = false;
    if (is2004()) {
      const begin = BEGIN[text(menu.begin)] || BEGIN[""];
      const label = _(begin[0]), request = begin[1];
      const allowed = menu.controls || {};
      choose = !allowed[request] && !!firstOpen;
      $("continue").textContent = label;
      $("continue").disabled = !allowed[request];
      $("continue").hidden = choose;
      $("continue").dataset.id = request;
      $("menu-hint").textContent = !choose ? ""
          : text(menu.begin) === "start"
              ? _("Choose an activity below to begin the course.")
              : _("Choose an activity below to go on.");
    } else {
      $("continue").disabled = !menu.continue;
      $("continue").dataset.id = menu.continue || "";
    }
    $("items").classList.toggle("choose", choose);
    show("menu");
    // Titled before it is said to be shown: whoever hears it finds it so.
    titled(_("Menu"));
    report(["menu", message || "", after && after.ended ? "ended" : "",
            after && after.ok === false ? "refused" : ""]);
    if (!menuShown) {
      menuShown = true;
      ask(["shown", "menu"]);
    }
    if (choose) (firstOpen.hidden ? stop : firstOpen).focus();
    else if ($("continue").disabled) $("results").focus();
    else $("continue").focus();
  });
}

// SCORM 2004: a course entered by choice only that has one activity to
// launch starts it, with nothing to choose between.
function onlyActivity(menu) {
  const controls = menu.controls || {};
  if (menu.begin !== "start" || controls.start) return "";
  let only = null;
  for (const item of menu.items || []) {
    if (!item.launchable) continue;
    if (only) return "";
    only = item;
  }
  return only && only.choosable && !only.reason ? text(only.id) : "";
}

// A Tin Can package with one activity to launch starts it: there is
// nothing to choose.
function onlyLaunch(menu) {
  let only = null;
  for (const item of menu.items || []) {
    if (!item.launchable) continue;
    if (only) return "";
    only = item;
  }
  return only && !only.reason ? text(only.id) : "";
}

// Where a learner starts: the item asked for on the command line, once
// (SCORM 2004: a choice of it, which the sequencer may refuse), else the
// menu.
function enter() {
  const item = pendingItem;
  pendingItem = "";
  const menu = !item && (is2004() || version === "tincan")
                   ? askJson(["menu"]) : null;
  const only = !menu ? "" : is2004() ? onlyActivity(menu) : onlyLaunch(menu);
  if (item && is2004()) navigate("choice", item);
  else if (item) launch(item);
  else if (only && is2004()) navigate("choice", only);
  else if (only) launch(only);
  else showMenu("", null, menu);
}

function login(name) {
  const answer = askJson(["login", name]);
  if (!answer.ok) {
    say("learner-message", answer.message);
    show("learners");
    return false;
  }
  showLearner(answer.learner || "");
  return true;
}

function showLearners(list) {
  const box = $("learner-list");
  box.textContent = "";
  for (const name of list) {
    const option = document.createElement("div");
    option.setAttribute("role", "option");
    option.setAttribute("aria-selected", "false");
    option.textContent = name;
    const pick = () => { if (login(name)) enter(); };
    activates(option, pick);
    box.appendChild(option);
  }
  roving(box.children, box.firstElementChild);
  titled(_("Who is taking the course?"));
  show("learners");
  (box.firstElementChild || $("learner-name")).focus();
}

// The arrows move the focus in a list of learners as in a list of a
// desktop program, and in the menu as in a tree: left and right close and
// open a part of the course, or go to its parent and its first row.
function arrows(event) {
  const here = document.activeElement;
  if (!here || !here.parentElement) return;
  const tree = here.parentElement === $("items").tBodies[0];
  const all = tree ? visibleRows() : [...here.parentElement.children];
  const at = all.indexOf(here);
  if (at < 0) return;
  let to = null;
  if (event.key === "ArrowDown") to = all[at + 1];
  else if (event.key === "ArrowUp") to = all[at - 1];
  else if (event.key === "Home") to = all[0];
  else if (event.key === "End") to = all[all.length - 1];
  else if (tree && (event.key === "ArrowRight" || event.key === "ArrowLeft")) {
    const rtl = document.documentElement.dir === "rtl";
    const inward = (event.key === "ArrowRight") !== rtl;
    const expanded = here.getAttribute("aria-expanded");
    if (inward && expanded === "false") {
      closed.delete(here.dataset.id);
      foldRows();
    } else if (inward && expanded === "true") {
      to = all[at + 1];
    } else if (!inward && expanded === "true") {
      closed.add(here.dataset.id);
      foldRows();
    } else if (!inward) {
      for (let i = at - 1; i >= 0 && !to; i--)
        if (level(all[i]) < level(here)) to = all[i];
    }
  } else {
    return;
  }
  event.preventDefault();
  if (to) to.focus();
}

// The focused row or option is the one tab stop of its list, and the
// chosen one.
function focused(event) {
  const here = event.target;
  const list = here.parentElement;
  if (!list || here.tabIndex === undefined) return;
  if (list === $("learner-list")) {
    for (const option of list.children)
      option.setAttribute("aria-selected", String(option === here));
    roving(list.children, here);
  } else if (list === $("items").tBodies[0]) {
    roving(list.rows, here);
  }
}

function start() {
  area = $("sco");
  // The SCO's view follows its area as the window changes size.
  new ResizeObserver(() => place()).observe(area);
  apply(listen, window, ["resize", () => place()]);
  // The form is taken by the learner's click on Start or Enter in the name,
  // never by a submission a script makes.
  apply(listen, $("new-learner"),
        ["submit", (event) => event.preventDefault()]);
  const takeName = () => { if (login($("learner-name").value)) enter(); };
  on($("start"), "click", takeName);
  on($("learner-name"), "keydown", (event) => {
    if (event.key === "Enter") {
      event.preventDefault();
      takeName();
    }
  });
  on($("continue"), "click", () => {
    const id = $("continue").dataset.id;
    if (id && is2004()) navigate(id);
    else if (id) launch(id);
  });
  on($("retry"), "click", () => {
    if (!playing) return;
    const id = playing.id;
    if (is2004()) navigate("choice", id);
    else launch(id);
  });
  on($("results"), "click", () => {
    const answer = askJson(["results"]);
    $("menu-message").classList.toggle("done", !!answer.ok);
    say("menu-message", answer.message || "");
  });
  on($("change-learner"), "click", () => {
    showLearners(askJson(["start"]).learners || []);
  });
  on($("menu-exit"), "click", () => leaveSco(() => ask(["exit"])));
  for (const [id, action] of Object.entries(controls))
    on($(id), "click", action);
  on($("items"), "keydown", arrows);
  on($("learner-list"), "keydown", arrows);
  on($("items"), "focusin", focused);
  on($("learner-list"), "focusin", focused);

  const begin = askJson(["start"]);
  // Only the package's own version of the API is there for its SCOs.
  version = ["2004", "cmi5", "tincan"].includes(begin.version)
                ? begin.version : "1.2";
  testing = begin.test === true;
  if (is2004()) {
    $("next").textContent = _("Continue");
    // Alt+X ends zept in every course; here Exit leaves the activity only.
    $("exit").removeAttribute("accesskey");
    $("exit").removeAttribute("aria-keyshortcuts");
  }
  $("course").textContent = begin.title || "";
  courseTitle = text(begin.title);
  // As the desktop has it: right to left, a high-contrast theme.
  if (begin.direction === "rtl") document.documentElement.dir = "rtl";
  contrast(begin.contrast);
  const problems = $("problems");
  for (const line of begin.problems || []) {
    const li = document.createElement("li");
    li.textContent = line;
    problems.appendChild(li);
  }
  pendingItem = begin.item || "";
  if (begin.learner && login(begin.learner)) {
    enter();
  } else {
    showLearners(begin.learners || []);
  }
}

apply(listen, document, ["DOMContentLoaded", start]);
})();
