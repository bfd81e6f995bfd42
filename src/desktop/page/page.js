// The page that holds every movie of the program: one player element per
// movie host control. It talks to the program over one ordered channel:
// POSTs to zept://z/call, each a JSON array of strings.
//
// Page to program:  ["fscommand", n, token, command, args]  (not waited on)
//                   ["call", n, token, invokeXml, within]    (waited on)
//                   ["reply", opSeq, ok, value]              (waited on)
// Program to page:  ["done", value]  or  ["op", opSeq, kind, id, ...]
//
// n numbers the messages in the order the movies made them; the program
// handles them in that order. within is the op that was running in the page
// when the movie called ("0" for none): such a call is answered inside it.
// While the page waits on a call, anything the
// program needs of a movie (a variable, a frame) comes back as an "op" that
// the page runs and answers before it waits again.
//
// token is the secret the program gave the player when it made it: the
// program takes a message for that player's only with it. The page keeps
// the tokens out of reach of anything else in the page, and the bridge
// movie keeps its own out of reach of the movie it plays.

// The emulator reads its settings when it loads, after this script.
window.RufflePlayer = window.RufflePlayer || {};
window.RufflePlayer.config = {publicPath: "zept://z/ruffle/", polyfills: false};

(() => {
"use strict";

// Every command a movie may call by name through ExternalInterface.
const ZEPT_COMMANDS = [
  "AddUser", "GetTracking", "GetUserData", "GetUserList", "GetUserSessionByName",
  "GetUsersSessions", "GoToSCO", "LMSCommit", "LMSFinish", "LMSInitialize",
  "LMSLoad", "LMSSetValue", "LMSGetValue", "OnOpenDocument", "PrintDocument",
  "PrintReport", "SetLang", "SetLogin", "SetSCO", "SetTrackHistory",
  "SetTrackInteractions", "SetTrackMode", "SetTrackPath", "SetTrackingId",
  "SetUserData", "WriteTextFile", "WriteTextFileAs", "sendAPILoaded",
  "sendChooseSCO", "sendContinueSCO", "sendGoToHome", "sendPreviousSCO",
  "sendPrintPagePDF", "sendQuit", "doEICommand",
];

// Messages carrying a token are encoded and sent with the functions as they
// were when the page loaded, so that a script that replaces them later does
// not see the token go by.
const apply = Reflect.apply;
const stringify = JSON.stringify;
const parse = JSON.parse;
const setPrototypeOf = Object.setPrototypeOf;
const Request = XMLHttpRequest;
const openRequest = Request.prototype.open;
const sendRequest = Request.prototype.send;
const responseText =
    Object.getOwnPropertyDescriptor(Request.prototype, "responseText").get;

const players = new Map();  // id -> {id, token, element, api, box, ...}
let messageNumber = 0;
let lastOp = {seq: 0, result: null};
const runningOps = [];  // the ops being run, innermost last
let newestVisible = null;   // the player
let topZ = 0;
let warmed = "";            // "warming", then "1", or "failed:" and why
let emulatorFailed = "";    // "failed:" and why, once a movie could not start

// message: an array of strings, made for the call.
function send(message, wait) {
  setPrototypeOf(message, null);  // no toJSON of anyone's
  const xhr = new Request();
  apply(openRequest, xhr, ["POST", "zept://z/call", !wait]);
  apply(sendRequest, xhr, [stringify(message)]);
  return wait ? parse(apply(responseText, xhr, [])) : null;
}

// One message and the ops the program asks for before it answers.
function exchange(message) {
  let answer = send(message, true);
  while (answer[0] === "op") {
    const result = runOp(answer, 1);
    answer = send(["reply", answer[1], result[0], result[1]], true);
  }
  return answer[1];
}

function escapeXml(text) {
  return String(text).replace(/&/g, "&amp;").replace(/</g, "&lt;")
      .replace(/>/g, "&gt;").replace(/"/g, "&quot;").replace(/'/g, "&apos;");
}

function unescapeXml(text) {
  return text.replace(/&(lt|gt|quot|apos|amp|#x[0-9a-fA-F]+|#[0-9]+);/g,
                      (all, name) => {
                        switch (name) {
                          case "lt": return "<";
                          case "gt": return ">";
                          case "quot": return "\"";
                          case "apos": return "'";
                          case "amp": return "&";
                        }
                        const code = name[1] === "x" ? parseInt(name.slice(2), 16)
                                                     : parseInt(name.slice(1), 10);
                        return code <= 0x10ffff ? String.fromCodePoint(code) : all;
                      });
}

// A value in the ExternalInterface XML form, as the Flash control sends it.
function toXml(value) {
  if (value === null) return "<null/>";
  switch (typeof value) {
    case "undefined": return "<undefined/>";
    case "boolean": return value ? "<true/>" : "<false/>";
    case "number": return "<number>" + value + "</number>";
    case "string": return "<string>" + escapeXml(value) + "</string>";
  }
  const open = Array.isArray(value) ? "<array>" : "<object>";
  const close = Array.isArray(value) ? "</array>" : "</object>";
  let body = "";
  for (const key of Object.keys(value)) {
    body += "<property id=\"" + escapeXml(key) + "\">" + toXml(value[key]) +
            "</property>";
  }
  return open + body + close;
}

function fromXml(text) {
  let m;
  if ((m = /^<string>([\s\S]*)<\/string>$/.exec(text))) return unescapeXml(m[1]);
  if ((m = /^<number>([\s\S]*)<\/number>$/.exec(text))) return Number(m[1]);
  if (text === "<true/>") return true;
  if (text === "<false/>") return false;
  if (text === "<null/>") return null;
  if (text === "" || text === "<undefined/>") return undefined;
  return text;
}

// An ExternalInterface call of a movie: the name, then the arguments.
function call(token, name, args) {
  const xml = "<invoke name=\"" + escapeXml(name) +
              "\" returntype=\"xml\"><arguments>" + args.map(toXml).join("") +
              "</arguments></invoke>";
  const within = runningOps.length ? runningOps[runningOps.length - 1] : 0;
  return fromXml(exchange(["call", String(++messageNumber), token, xml,
                           String(within)]));
}

function expose(name, value) {
  Object.defineProperty(window, name,
                        {value, writable: false, configurable: false});
}

// Every ExternalInterface call of a movie arrives here: the bridge movie of
// each player sends its token and the movie's arguments, the name first.
expose("zeptCall", (token, list) => {
  const items = Array.from(list == null ? [] : list);
  return call(String(token), items.length ? items[0] : undefined,
              items.slice(1));
});

// A movie that calls the page by a command's own name, past its bridge,
// speaks for the player shown last.
for (const name of ZEPT_COMMANDS) {
  expose(name, (...args) => newestVisible ? call(newestVisible.token, name, args)
                                          : undefined);
}

function callBridge(player, name, ...args) {
  const value = player.api.callExternalInterface(name + player.id, ...args);
  if (value === undefined || value === null) {
    throw new Error("the movie is not ready");
  }
  return value;
}

// How many frames the page has drawn since the window last changed size.
let viewport = "";
let framesAtSize = 0;
function countFrames() {
  const now = window.innerWidth + "x" + window.innerHeight;
  framesAtSize = now === viewport ? framesAtSize + 1 : 0;
  viewport = now;
  requestAnimationFrame(countFrames);
}
requestAnimationFrame(countFrames);

// The size visible players are drawn at when the program has pinned it
// (the window's next size, while the window still has the last one), else
// null: they fill the page.
let pinned = null;

function place(player) {
  // A player drawing off the page is nothing a screen reader should find.
  if (player.visible) player.box.removeAttribute("aria-hidden");
  else player.box.setAttribute("aria-hidden", "true");
  const box = player.box.style;
  if (player.visible) {
    box.left = "0"; box.top = "0";
    box.width = pinned ? pinned[0] + "px" : "100%";
    box.height = pinned ? pinned[1] + "px" : "100%";
    box.visibility = "visible";
    newestVisible = player;
  } else {
    // Hidden players keep drawing off the page, at their own size.
    box.left = "0"; box.top = "-20000px";
    box.width = player.width + "px"; box.height = player.height + "px";
    box.visibility = "visible";
  }
}

const ops = {
  create(id, token) {
    const element = window.RufflePlayer.newest().createPlayer();
    const box = document.createElement("div");
    box.className = "movie";
    // The movie takes the keys itself (its text fields, its buttons): a
    // screen reader passes them on and names what it is.
    box.setAttribute("role", "application");
    box.setAttribute("aria-label", "Course movie");
    box.style.zIndex = String(++topZ);
    box.appendChild(element);
    document.body.appendChild(box);
    const player = {id, token, element, box, api: element.ruffle(),
                    visible: false, width: 0, height: 0, zoom: null};
    player.api.addFSCommandHandler((command, args) => {
      send(["fscommand", String(++messageNumber), token, String(command),
            String(args)], false);
    });
    players.set(id, player);
    place(player);
    return "";
  },
  layout(player, visible, width, height) {
    player.visible = visible === "1";
    player.width = Number(width);
    player.height = Number(height);
    place(player);
    applyZoom(player);
    return "";
  },
  load(player, url, config) {
    player.api.load(Object.assign(JSON.parse(config), {url})).catch((e) => {
      emulatorFailed = "failed:" + String((e && e.message) || e);
    });
    return "";
  },
  state(player) {
    let text;
    try {
      text = player.api.callExternalInterface("zeptState" + player.id);
    } catch (e) {
      text = undefined;
    }
    if (typeof text !== "string") return "0";
    const [loaded, total] = text.split("/").map(Number);
    if (total > 0 && loaded >= total) return "4";
    return loaded > 0 ? "3" : "1";
  },
  get(player, name) {
    const value = String(callBridge(player, "zeptGet", name));
    return value[0] === "v" ? value.slice(1) : "";
  },
  set(player, name, value) {
    callBridge(player, "zeptSet", name, "v" + value);
    return "";
  },
  // Adds an entry to a queue of entries joined by "|" in one step: no frame
  // of the movie runs between the read and the write.
  append(player, name, entry) {
    const read = String(callBridge(player, "zeptGet", name));
    const queue = read[0] === "v" ? read.slice(1) : "";
    const joined = queue === "" || queue === "undefined" ? entry
                                                          : queue + "|" + entry;
    callBridge(player, "zeptSet", name, "v" + joined);
    return "";
  },
  zoom(player, left, top, right, bottom) {
    player.zoom = [left, top, right, bottom].map(Number);
    applyZoom(player);
    return "";
  },
  frame(player, width, height) {
    const canvas = player.element.shadowRoot &&
                   player.element.shadowRoot.querySelector("canvas");
    const out = document.createElement("canvas");
    out.width = Number(width);
    out.height = Number(height);
    const context = out.getContext("2d");
    context.fillStyle = player.background || "#ffffff";
    context.fillRect(0, 0, out.width, out.height);
    if (canvas && canvas.width > 0 && canvas.height > 0) {
      context.drawImage(canvas, 0, 0, out.width, out.height);
    }
    return out.toDataURL("image/png");
  },
  background(player, color) {
    player.background = color;
    return "";
  },
  free(player) {
    player.box.remove();
    players.delete(player.id);
    if (newestVisible === player) newestVisible = null;
    return "";
  },
};

// The given stage rectangle (twips) shown at the control's size.
function applyZoom(player) {
  const style = player.element.style;
  const metadata = player.api.metadata;
  if (!player.zoom || !metadata || !(player.zoom[2] > player.zoom[0]) ||
      !(player.zoom[3] > player.zoom[1])) {
    style.position = "absolute";
    style.left = "0"; style.top = "0"; style.width = "100%"; style.height = "100%";
    return;
  }
  const [left, top, right, bottom] = player.zoom.map((t) => t / 20);
  const sx = player.width / (right - left), sy = player.height / (bottom - top);
  style.position = "absolute";
  style.left = (-left * sx) + "px";
  style.top = (-top * sy) + "px";
  style.width = (metadata.width * sx) + "px";
  style.height = (metadata.height * sy) + "px";
}

// The op in items from index at: seq, kind, id, arguments. Read by index:
// a "create" carries the player's token.
function runOp(items, at) {
  const seq = Number(items[at]);
  const kind = items[at + 1];
  const id = items[at + 2];
  // The program may ask for an op twice (once through a script it sent, once
  // in answer to a message); it runs once, and never after a later one.
  if (seq <= lastOp.seq) {
    return seq === lastOp.seq ? lastOp.result : ["0", "stale"];
  }
  let result;
  runningOps.push(seq);
  try {
    const args = Array.prototype.slice.call(items, at + 3);
    if (kind === "ready") {
      const present = window.RufflePlayer && window.RufflePlayer.newest();
      result = ["1", present ? "1" : "0"];
    } else if (kind === "warm") {
      warmUp();
      result = ["1", warmed];
    } else if (kind === "failure") {
      result = ["1", emulatorFailed];
    } else if (kind === "pin") {
      pinned = args.length === 2 ? args.map(Number) : null;
      for (const player of players.values()) place(player);
      result = ["1", ""];
    } else if (kind === "drawn") {
      // The page has been drawn at the size given, twice to be sure.
      result = ["1", viewport === args.join("x") && framesAtSize >= 2 ? "1"
                                                                      : "0"];
    } else if (kind === "create") {
      result = ["1", ops.create(id, String(items[at + 3]))];
    } else {
      const player = players.get(id);
      if (!player) throw new Error("no such movie");
      result = ["1", String(ops[kind](player, ...args))];
    }
  } catch (e) {
    result = ["0", String((e && e.message) || e)];
  }
  runningOps.pop();
  // An op run inside another ends first; the outer one must not move the
  // record back.
  if (seq > lastOp.seq) lastOp = {seq, result};
  return result;
}

expose("zeptOp", (...op) => JSON.stringify(runOp(op, 0)));

// The emulator compiles its module, and its code warms up, when its first
// player builds an instance: most of a second on a small machine, paid
// once per page. Asked for, a throwaway player does it before any movie
// needs it (the tests want every movie to start alike); the program itself
// lets its first movie pay, which is sooner than warming up and then
// starting it. Given up on after a while: a movie then pays for it. An
// emulator that cannot start (its code is missing or broken) says why.
function warmUp() {
  if (warmed) return;
  warmed = "warming";
  const element = window.RufflePlayer && window.RufflePlayer.newest() &&
                  window.RufflePlayer.newest().createPlayer();
  if (!element) {
    warmed = "failed:the emulator's script is missing";
    return;
  }
  const box = document.createElement("div");
  box.className = "movie";
  box.setAttribute("aria-hidden", "true");
  box.style.cssText = "left: 0; top: -20000px; width: 1px; height: 1px";
  box.appendChild(element);
  document.body.appendChild(box);
  let timer = 0;
  const done = (outcome) => {
    clearTimeout(timer);
    box.remove();
    if (warmed === "warming") warmed = outcome;
  };
  timer = setTimeout(() => done("1"), 10000);
  // "FWS", version 8, 17 bytes, an empty stage at 12 frames a second, one
  // empty frame.
  const movie = new Uint8Array([0x46, 0x57, 0x53, 8, 17, 0, 0, 0, 0, 0, 12, 1,
                                0, 0x40, 0, 0, 0]);
  element.ruffle().load({data: movie, autoplay: "on", unmuteOverlay: "hidden",
                         splashScreen: false, polyfills: false,
                         preferredRenderer: "canvas", logLevel: "error",
                         allowScriptAccess: false})
      .then(() => done("1"),
            (e) => done("failed:" + String((e && e.message) || e)));
}
})();
