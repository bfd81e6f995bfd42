// Audio and video of a package's pages. WebKit's media player loads only
// http(s), blob: and file: URLs, never those of zept's scheme: each media
// file of the package is read once through the scheme and handed to the
// player as a blob: URL of the same bytes. Scripts still read the URL they
// set. Runs first in every frame of a package's pages.
(() => {
  if (location.protocol !== "zept:" || !location.pathname.startsWith("/pkg/"))
    return;
  const media = HTMLMediaElement.prototype;
  const nativeSrc = Object.getOwnPropertyDescriptor(media, "src");
  const nativeReadyState = Object.getOwnPropertyDescriptor(media, "readyState");
  const nativePlay = media.play;
  const nativePause = media.pause;
  const nativeSetAttribute = Element.prototype.setAttribute;
  const nativeGetAttribute = Element.prototype.getAttribute;
  const nativeRemoveAttribute = Element.prototype.removeAttribute;
  const blobs = new Map();  // package URL -> promise of its blob: URL
  // element -> {url, blob (null while it is read), play: a play() made
  // meanwhile, with its promise's resolve and reject; enough: said it has
  // enough data; paused: a script paused it}
  const taken = new WeakMap();

  const blobOf = (url) => {
    let blob = blobs.get(url);
    if (!blob) {
      blob = fetch(url)
                 .then((response) => {
                   if (!response.ok) throw new Error(response.statusText);
                   return response.blob();
                 })
                 .then((bytes) => URL.createObjectURL(bytes));
      blobs.set(url, blob);
    }
    return blob;
  };
  const packageUrl = (value) => {
    if (String(value).trim() === "") return null;
    try {
      const url = new URL(String(value), document.baseURI);
      return url.protocol === "zept:" ? url.href : null;
    } catch (e) {
      return null;
    }
  };
  const abortPlay = (state, why) => {
    if (!state || !state.play) return;
    state.play.reject(new DOMException(why, "AbortError"));
    state.play = null;
  };
  // The element has no source until its blob is there; a play() made
  // meanwhile is made once it is. Of several candidates (<source>
  // elements) the first that can be read is played; when none can, the
  // first is handed over as it is, for the player to report the error.
  const take = (element, urls) => {
    abortPlay(taken.get(element), "The source changed.");
    const state = {url: urls[0], blob: null, play: null};
    taken.set(element, state);
    nativeRemoveAttribute.call(element, "src");
    const settle = (src) => {
      nativeSetAttribute.call(element, "src", src);
      if (src === state.blob)
        element.addEventListener("canplay", () => enough(element, state), {once: true});
      const play = state.play;
      state.play = null;
      if (play) nativePlay.call(element).then(play.resolve, play.reject);
    };
    const next = (i) => {
      if (i === urls.length) {
        taken.delete(element);
        return settle(urls[0]);
      }
      blobOf(urls[i]).then(
          (blob) => {
            if (taken.get(element) !== state) return;
            state.url = urls[i];
            state.blob = blob;
            settle(blob);
          },
          () => {
            if (taken.get(element) === state) next(i + 1);
          });
    };
    next(0);
  };
  // WebKit's player never says it has enough data of a blob: (no
  // canplaythrough, readyState 3 at most, so no autoplay), though all of it
  // is in memory: once it can play, it says so as it would of a file.
  const enough = (element, state) => {
    if (taken.get(element) !== state || nativeReadyState.get.call(element) !== 3) return;
    state.enough = true;
    element.dispatchEvent(new Event("canplaythrough"));
    if (element.autoplay && element.paused && !state.paused)
      nativePlay.call(element).catch(() => {});
  };
  const setSrc = (element, value) => {
    const url = packageUrl(value);
    if (url) return take(element, [url]);
    abortPlay(taken.get(element), "The source changed.");
    taken.delete(element);
    nativeSetAttribute.call(element, "src", value);
  };
  // The URL a script set, while the element plays (or waits for) its blob.
  const srcOf = (element) => {
    const state = taken.get(element);
    const now = nativeGetAttribute.call(element, "src");
    return state && now === state.blob ? state.url : null;
  };

  Object.defineProperty(media, "src", {
    configurable: true,
    enumerable: nativeSrc.enumerable,
    get() {
      return srcOf(this) ?? nativeSrc.get.call(this);
    },
    set(value) {
      setSrc(this, value);
    },
  });
  Element.prototype.setAttribute = function (name, value) {
    if (this instanceof HTMLMediaElement && String(name).toLowerCase() === "src")
      return setSrc(this, value);
    return nativeSetAttribute.call(this, name, value);
  };
  Element.prototype.getAttribute = function (name) {
    if (this instanceof HTMLMediaElement && String(name).toLowerCase() === "src")
      return srcOf(this) ?? nativeGetAttribute.call(this, name);
    return nativeGetAttribute.call(this, name);
  };
  Object.defineProperty(media, "readyState", {
    configurable: true,
    enumerable: nativeReadyState.enumerable,
    get() {
      const state = taken.get(this);
      const now = nativeReadyState.get.call(this);
      return state && state.enough && now === 3 && srcOf(this) ? 4 : now;
    },
  });
  Element.prototype.removeAttribute = function (name) {
    if (this instanceof HTMLMediaElement && String(name).toLowerCase() === "src") {
      abortPlay(taken.get(this), "The source was removed.");
      taken.delete(this);
    }
    return nativeRemoveAttribute.call(this, name);
  };
  media.play = function () {
    const state = taken.get(this);
    if (!state || state.blob !== null) return nativePlay.call(this);
    if (!state.play) {
      const play = {};
      play.promise = new Promise((resolve, reject) => {
        play.resolve = resolve;
        play.reject = reject;
      });
      state.play = play;
    }
    return state.play.promise;
  };
  media.pause = function () {
    const state = taken.get(this);
    if (state) state.paused = true;
    abortPlay(state, "The play() request was interrupted by pause().");
    return nativePause.call(this);
  };

  // new Audio(url) sets its source where no script sees it.
  const NativeAudio = window.Audio;
  const Audio = function Audio(src) {
    const audio = new NativeAudio();
    if (src !== undefined) audio.src = src;
    return audio;
  };
  Audio.prototype = NativeAudio.prototype;
  window.Audio = Audio;

  // Elements the parser (or innerHTML) made, before the player looks at
  // them: their src attribute, else their <source> elements the player may
  // play, in order.
  const adopt = (element) => {
    if (taken.has(element)) return;
    const src = nativeGetAttribute.call(element, "src");
    if (src !== null) {
      const url = packageUrl(src);
      if (url) take(element, [url]);
      return;
    }
    const urls = [];
    for (const source of element.querySelectorAll("source")) {
      const url = packageUrl(source.getAttribute("src") ?? "");
      const type = source.getAttribute("type");
      if (url && (!type || element.canPlayType(type) !== "")) urls.push(url);
    }
    if (urls.length) take(element, urls);
  };
  const scan = (node) => {
    if (node.nodeType !== Node.ELEMENT_NODE) return;
    if (node instanceof HTMLMediaElement) return adopt(node);
    if (node instanceof HTMLSourceElement) {
      if (node.parentElement instanceof HTMLMediaElement) adopt(node.parentElement);
      return;
    }
    for (const inner of node.querySelectorAll("audio, video")) adopt(inner);
  };
  new MutationObserver((records) => {
    for (const record of records) record.addedNodes.forEach(scan);
  }).observe(document, {childList: true, subtree: true});
})();
