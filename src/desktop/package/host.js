// The page that holds a SCO in the launch's own view, in the package's
// origin (http://127.0.0.1:PORT), apart from zept's screens: it holds the runtime
// that the SCO finds by walking up its parents, window.API for SCORM 1.2
// or window.API_1484_11 for SCORM 2004, and the SCO's page in a frame of
// its own. It asks the program once for the launch (never in its address).
// Every call reaches the program synchronously, in order, as a POST to
// zept://call/api (the launch's context alone has that scheme) of a JSON
// array of strings; the answer is the call's text.
(() => {
"use strict";

// Taken now, before the SCO's page runs.
const Request = XMLHttpRequest;
const openRequest = Request.prototype.open;
const sendRequest = Request.prototype.send;
const apply = Reflect.apply;
const stringify = JSON.stringify;
const parse = JSON.parse;
const setPrototype = Object.setPrototypeOf;
const create = Object.create;
const defineProperty = Object.defineProperty;
const freeze = Object.freeze;
const toText = String;
const substring = String.prototype.substring;

// A message as the program reads it: a JSON array of strings, made without
// calling anything the content can replace (JSON.stringify would call a
// toJSON put on Array.prototype).
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
// True for the rest of a task in which a synchronous request was refused:
// WebKit refuses them while a page is being left, and after a few refusals
// in one task it drops the next ones without a word.
let posting = false;

// A call longer than this (in UTF-16 units, at most 6 MiB of UTF-8) is
// refused here with an error code; the program takes no more than 8 MiB.
const MAX_CALL = 2 * 1024 * 1024;
const TOO_LARGE = {};

// Posted calls reach the program in order, before the page that replaces
// this one has loaded.
function post(text) {
  if (!posting) {
    posting = true;
    setTimeout(() => { posting = false; }, 0);
  }
  apply(postMessage, postHandler,
        ["[\"posted\"," + apply(substring, text, [1])]);
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
    apply(openRequest, xhr, ["POST", "zept://call/api", false]);
    apply(sendRequest, xhr, [text]);
    if (xhr.status === 200) return xhr.responseText;
  } catch (e) {
    if (!postMessage) throw e;
  }
  if (!postMessage) throw new Error("the program did not answer");
  return post(text);
}

function text(value) {
  return value === undefined || value === null ? "" : toText(value);
}

// Each version's API: its name on the window, and for each function what
// a call gives that failed in the page and what one that could only be
// posted gives (what the call gives when it succeeds, as the content cannot
// be told otherwise). Get gives the value as the runtime last said it (the
// launch's values, then each answer and set).
const APIS = {
  "1.2": {
    name: "API", get: "LMSGetValue", set: "LMSSetValue",
    functions: [
      ["LMSInitialize", "false", "true"], ["LMSFinish", "false", "true"],
      ["LMSGetValue", "", ""], ["LMSSetValue", "false", "true"],
      ["LMSCommit", "false", "true"], ["LMSGetLastError", "101", "0"],
      ["LMSGetErrorString", "", "No error"], ["LMSGetDiagnostic", "", ""],
    ],
  },
  "2004": {
    name: "API_1484_11", get: "GetValue", set: "SetValue",
    functions: [
      ["Initialize", "false", "true"], ["Terminate", "false", "true"],
      ["GetValue", "", ""], ["SetValue", "false", "true"],
      ["Commit", "false", "true"], ["GetLastError", "101", "0"],
      ["GetErrorString", "", "No Error"], ["GetDiagnostic", "", ""],
    ],
  },
};

// What the launch gives: its number, the package's version, the SCO's
// address and the values it starts with, answered once. A page without
// them (opened again, or by hand) plays nothing.
let given = null;
try {
  given = parse(send(["given"], null));
} catch (e) {
}
const launch = given ? text(given.launch) : "";
// cmi5 and Tin Can content finds no API: it talks to zept's LRS instead.
const xapiContent =
    !!given && (given.version === "cmi5" || given.version === "tincan");
const kind = given && APIS[given.version] ? APIS[given.version]
             : xapiContent ? null : APIS["1.2"];

// The API of this launch: calls through it name the launch, so one kept by
// a window the SCO opened never reaches a later item.
function makeApi(values) {
  const known = create(null);
  for (const name in values) known[name] = text(values[name]);
  const api = kind;
  // The API never throws into the content: a failure is "false" or "".
  function call(name, args, failed, whenPosted) {
    try {
      const list = [];
      setPrototype(list, null);
      for (let i = 0; i < args.length; i++) list[i] = text(args[i]);
      const head = ["api", launch, name];
      setPrototype(head, null);
      const answer = send(head, list);
      if (name === api.get) {
        if (answer === null) return list[0] in known ? known[list[0]] : "";
        known[list[0]] = answer;
      }
      if (name === api.set && answer !== "false") known[list[0]] = list[1];
      return answer === null ? whenPosted : answer;
    } catch (e) {
      // The runtime is told, so that GetLastError says why.
      if (e === TOO_LARGE) {
        try { send(["api-too-large", launch, name], null); } catch (e2) {}
      }
      return failed;
    }
  }
  // An ordinary object, as content may print it; defined, not assigned, so
  // that no setter the content put on Object.prototype sees the functions.
  const made = {};
  for (let i = 0; i < api.functions.length; i++) {
    const name = api.functions[i][0], failed = api.functions[i][1];
    const whenPosted = api.functions[i][2];
    defineProperty(made, name, {
      value: function () { return call(name, arguments, failed, whenPosted); },
      enumerable: true,
    });
  }
  return freeze(made);
}

if (kind) {
  defineProperty(window, kind.name, {
    value: makeApi(given && given.values ? given.values : {}),
    enumerable: true, configurable: true,
  });
}

// Content laid out for a fixed size larger than the frame (a slide made
// for a larger screen) would be clipped: the window is asked to grow to it,
// up to the screen, and what still does not fit is scaled down whole,
// keeping its proportions (the browser maps the mouse through the
// transform). Only a page that would scroll sideways counts: one that is
// only taller scrolls, as documents do; taller than wide, it fits by its
// width.
const FIT_MARGIN = 16;  // px of overflow that a page's own slips may cause
let natural = null;     // {width, height} the page asks for, once known

function place(frame) {
  const style = frame.style;
  if (!natural) {
    style.width = style.height = style.transform = "";
    return;
  }
  const across = window.innerWidth / natural.width;
  const down = window.innerHeight / natural.height;
  const whole = natural.height <= natural.width;
  const scale = Math.min(1, across, whole ? down : across);
  if (scale >= 1) {
    style.width = style.height = style.transform = "";
    return;
  }
  // Centred in the frame; what fits by its width scrolls down as before.
  const left = (window.innerWidth - natural.width * scale) / 2;
  const top = whole ? (window.innerHeight - natural.height * scale) / 2 : 0;
  style.width = natural.width + "px";
  style.height = (whole ? natural.height
                        : Math.max(natural.height,
                                   window.innerHeight / scale)) + "px";
  style.transformOrigin = "0 0";
  style.transform = "translate(" + Math.max(0, left) + "px, " +
                    Math.max(0, top) + "px) scale(" + scale + ")";
}

function measure(frame) {
  if (natural) return;
  let page = null;
  try {
    page = frame.contentDocument;
  } catch (e) {
  }
  if (!page || !page.documentElement) return;
  const body = page.body;
  let width = Math.max(page.documentElement.scrollWidth,
                       body ? body.scrollWidth : 0);
  // The body's height is the content's; the root's is at least the frame's.
  // A slide built of absolutely placed blocks leaves the body 0 high: its
  // blocks say how far it reaches.
  let height = body ? body.scrollHeight : page.documentElement.scrollHeight;
  const blocks = body ? body.children : [];
  for (let i = 0; i < blocks.length && i < 200; i++) {
    const box = blocks[i].getBoundingClientRect();
    width = Math.max(width, Math.ceil(box.right + frame.contentWindow.scrollX));
    height = Math.max(height,
                      Math.ceil(box.bottom + frame.contentWindow.scrollY));
  }
  if (width <= window.innerWidth + FIT_MARGIN) return;
  // A page that hides what overflows (layers larger than the screen) has
  // chosen what shows.
  const view = page.defaultView;
  for (const element of [page.documentElement, body]) {
    const overflow = element && view ? view.getComputedStyle(element).overflowX
                                     : "";
    if (overflow === "hidden" || overflow === "clip") return;
  }
  natural = {width, height};
  try {
    send(["size", toText(width), toText(height)], null);
  } catch (e) {
  }
  place(frame);
}

// Measured as the page builds itself after its load, then now and again
// while it still fits (a course may show a larger slide later).
function watchSize(frame) {
  let checks = 0, timer = 0;
  const check = () => {
    measure(frame);
    timer = setTimeout(check, ++checks < 20 ? 250 : 2000);
  };
  frame.addEventListener("load", () => {
    natural = null;
    place(frame);
    clearTimeout(timer);
    checks = 0;
    check();
  });
  window.addEventListener("resize", () => place(frame));
}

// The runtime names the package's files, zept's LRS and the return
// address in the package's logical origin; the content gets them at the
// origin it is served at, in the address and in its query alike.
const LOGICAL = "zept://content";
function served(address) {
  const origin = location.origin;
  return address.split(encodeURIComponent(LOGICAL + "/"))
      .join(encodeURIComponent(origin + "/"))
      .split(LOGICAL + "/").join(origin + "/");
}

let begun = false;
function begin() {
  if (begun) return;
  begun = true;
  if (!given || typeof given.url !== "string" ||
      served(given.url).indexOf(location.origin + "/pkg/") !== 0)
    return;
  const frame = document.createElement("iframe");
  frame.name = "sco";
  frame.title = text(given.title) || "Course content";
  if (given.title) document.title = text(given.title);
  frame.allow = "autoplay; fullscreen";
  let loaded = false;
  frame.addEventListener("load", () => {
    if (document.hasFocus()) frame.focus();
    // How long the SCO took to load, for the course team.
    if (!loaded) {
      loaded = true;
      try { send(["loaded"], null); } catch (e) {}
    }
  });
  watchSize(frame);
  frame.src = served(given.url);
  document.body.appendChild(frame);
  frame.focus();
}

document.addEventListener("DOMContentLoaded", begin);
})();
