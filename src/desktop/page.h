#pragma once
// The one web page that plays every movie, and the ordered channel between
// it and the program (see page/page.js for the page's side). Its members
// are defined by part: page.cpp (the view, loading, the scheme's requests),
// movie_channel.cpp, package_channel.cpp and content_policy.cpp (the
// content filter); scheme_files.h serves the files.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "desktop/content_requests.h"
#include "desktop/content_server.h"
#include "desktop/gobject.h"

namespace zept::desktop {

// The path in the package of a path of the package's origin (below
// zept://content/, decoded): its files under pkg/, and at the root too, for
// pages written for a package at a web server's root ("/js/lib.js");
// nullopt for zept's own addresses there.
std::optional<std::string> InPackageOfContent(const std::string& path);

class MoviePage {
 public:
  // ruffleDir: the Flash emulator's web build; roots: folders whose files
  // the page may load (the program folder). Both native, absolute.
  MoviePage(std::string ruffleDir, std::vector<std::string> roots);
  ~MoviePage();
  MoviePage(const MoviePage&) = delete;
  MoviePage& operator=(const MoviePage&) = delete;

  GtkWidget* widget() const;

  // Loads the page and waits (running the main loop) until its script and
  // the emulator are there, the emulator has compiled its module and the
  // page's content filter is in place. False after timeoutMs or on a load
  // failure, with loadError() saying why.
  bool load(int timeoutMs);
  // Loading in two steps, without the warm-up: the page's process starts
  // while the program does other work, such as reading the course, and the
  // first movie compiles the emulator as it starts (emulatorFailure() then
  // says when it could not).
  void beginLoad();
  bool waitReady(int timeoutMs);
  const std::string& loadError() const { return loadError_; }
  // Why the emulator could not start for the movies, "" while it could.
  std::string emulatorFailure();
  // A folder whose files the page may load, added once it is known.
  void addRoot(std::string root) { roots_.push_back(std::move(root)); }

  // One message of a movie: {"fscommand", n, token, command, args} or
  // {"call", n, token, invokeXml}, token naming the player by its secret;
  // returns the call's answer (the return value).
  std::function<std::string(const std::vector<std::string>& message)> onMessage;
  // Runs after each message has been answered.
  std::function<void()> afterMessage;
  // What the page did wrong and the program put right, for the journal.
  std::function<void(const std::string& line)> onWarning;

  // Runs an op of the page (kind, player id, arguments) and returns its
  // value. Throws EMovieError when the page refuses it or does not answer.
  std::string op(const std::vector<std::string>& args);

  // True when the page is free to play its movies: no movie waits in a call.
  bool canPlay() const { return !parked_; }
  // Lets the page play for about ms milliseconds (the program waits).
  void play(int ms) {
    waitFor([] { return false; }, ms);
  }

  // The page's web process has ended (a crash, out of memory, killed): its
  // players are gone, ops fail at once, and onProcessEnded runs with the
  // reason. load() brings a new process and a new page.
  bool processEnded() const { return ended_; }
  std::function<void(const std::string& reason)> onProcessEnded;
  // Counts the loads of the page: a player made on an earlier one is gone.
  int generation() const { return generation_; }

  // True while the program waits on the page or handles a message: timers
  // and window events must wait.
  bool busy() const { return waits_ > 0 || handling_; }
  // Called when busy() changes.
  std::function<void(bool busy)> onBusy;

  // Files the page may load besides the roots (a capture), and files that
  // exist only in memory (the bridge movies), served once, both by native
  // path.
  void allowFile(const std::string& path) { allowedFiles_.insert(path); }
  void setVirtualFile(const std::string& path, std::string bytes);
  void removeVirtualFile(const std::string& path);

  // The URL the page loads a native file by.
  static std::string FileUrl(const std::string& nativePath);

  // A standard package: the view shows the program's own screens (learner,
  // menu, the controls) with the SCO in a frame of the same origin, instead
  // of the movies. Loads them once the content filter is in place; false
  // (loadError() says why) when it cannot be.
  bool showPackage(int timeoutMs);
  bool packageShown() const { return packageShown_; }
  // A file of the package, by its path in the package: a file on disk, its
  // bytes, or a seekable stream of size bytes (a large file of a .zip).
  // nullopt when the package has no such file.
  // Lets the audio and video of package pages stream from the package: the
  // web process loads zept's media source from extensionsDir (absolute),
  // which asks the page for each file as it plays. Before the first load.
  void useMediaExtension(const std::string& extensionsDir);

  struct PackageFile {
    std::string nativeFile;
    std::string bytes;
    GObjectPtr<GInputStream> stream;
    goffset size = 0;
  };
  std::function<std::optional<PackageFile>(const std::string& path)>
      onPackageFile;
  // Whose cookies the package's pages read and write: the learner's login
  // ("" before one is chosen).
  std::function<std::string()> cookieOwner;
  // A file a page of the package asked for and the package lacks, with the
  // page that asked (its path in the package, "" when not known).
  std::function<void(const std::string& file, const std::string& page)>
      onMissingFile;
  // One call of the package's page (window.API, its screens): an array of
  // strings, answered with text at once.
  std::function<std::string(const std::vector<std::string>& message)>
      onPackageCall;
  // A request of the package's content to zept's own services under
  // zept://content/lrs/ and zept://content/fetch/ (the LRS of cmi5 and Tin
  // Can content): path below zept://content/, the query without '?'.
  struct ContentRequest {
    std::string method;
    std::string path;
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
  };
  struct ContentAnswer {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
  };
  std::function<ContentAnswer(const ContentRequest& request)> onContentRequest;
  // Calls the page could only post (from a page being left) reach
  // onPackageCall too, unanswered, and are counted since the package's page
  // loaded: waits until count of them have come.
  bool waitPostedCalls(long count, int timeoutMs);
  // Forgets what the package's pages kept in the browser (web storage,
  // IndexedDB, their caches), waiting for it up to timeoutMs: a launch
  // leaves nothing for the next one, nor for another learner.
  void forgetContentData(int timeoutMs);
  // True once a page of the package has loaded the Flash emulator: only
  // then can it have crashed there (a page may say so without it).
  bool packageEmulatorLoaded() const { return packageEmulator_; }
  // Runs script in the page's top frame without waiting for it.
  void runScript(const std::string& script);

  // A launch's content plays in a web view of its own, in a browser context
  // of its own (its own web process, storage, cookies and history), beside
  // the screens and never inside them. openContent makes that view for
  // address (dropping any earlier one) and hands it to onContentView,
  // which places it (placed) or puts it in a window of its own; given is
  // what the launch's host page asks for once (its values).
  WebKitWebView* openContent(const std::string& address, std::string given,
                             bool placed);
  std::function<void(WebKitWebView* view, bool placed)> onContentView;
  // Leaves the content's page (its unload handlers run and what they post
  // arrives first), then drops the view and its context; done runs then,
  // or after timeoutMs if the page does not go.
  void closeContent(std::function<void()> done, int timeoutMs);
  WebKitWebView* contentView() const { return contentView_; }
  // The SCO's page loaded (ms after openContent).
  std::function<void(long ms)> onContentLoaded;
  // The content's top page went to an address starting with returnTo (an
  // AU done): the screens take the learner back.
  std::string contentReturnTo;
  std::function<void()> onContentReturned;
  // The content's web process ended (a crash, out of memory).
  std::function<void(const std::string& reason)> onContentEnded;
  // What the content's own frames tell zept: "size" (the size its page is
  // laid out for), "blocked" (an address outside the package) and
  // "crashed" (the emulator in a page).
  std::function<void(const std::vector<std::string>& said)> onContentSays;
  // A script every content frame runs at its end (the harness's).
  void addContentScript(const std::string& source);
  // The package's origin, "http://127.0.0.1:PORT" ("" when zept cannot
  // listen; contentError() says why): where its files, its API and zept's
  // LRS are served to the content's views.
  std::string contentOrigin();
  const std::string& contentError() const { return contentError_; }
  // text with the package's logical origin, zept://content, made the
  // served one.
  std::string inOrigin(std::string text);
  // The conformance harness's test channel (set only when zept runs with
  // one): a test SCO POSTs a JSON array of strings to zept://z/test and is
  // answered once answerTestCall() is given the text. Without it the path
  // is not served. One request waits at a time; a newer one replaces it.
  std::function<void(const std::vector<std::string>& message)> onTestCall;
  void answerTestCall(const std::string& text);
  // Runs body as an async function in a script world of its own beside the
  // page's (the test channel's checks of the screens); done gets what it
  // returned, as text, or "error: " and why. The page's scripts never see it.
  void runIsolated(const std::string& body,
                   std::function<void(const std::string&)> done);

 private:
  struct FilterJob;
  enum class FilterState { kPending, kInPlace, kFailed };

  static void HandleScheme(WebKitURISchemeRequest* request, gpointer link);
  // zept://call/api in a launch's own context: its API calls, answered
  // in-process (a loopback connection for each call costs milliseconds).
  static void HandleContentCall(WebKitURISchemeRequest* request,
                                gpointer link);
  void serve(WebKitURISchemeRequest* request);
  // The package's requests: its screens, its files and its calls.
  static gboolean OnMediaMessage(WebKitWebContext*, WebKitUserMessage* message,
                                 gpointer self);
  // zept://z/: the screens' files and their calls.
  void servePackage(WebKitURISchemeRequest* request, const std::string& path);
  // zept://content/, the package's own origin: its files, the frame that
  // holds its API, the API's calls, the emulator and the test channel.
  void serveContent(SoupServerMessage* msg, const std::string& path);
  void serveService(SoupServerMessage* msg, const std::string& path);
  // zept://call/lrs/...: the content's LRS requests, answered as over the
  // origin, with what cross-origin reading needs.
  void answerLrsCall(WebKitURISchemeRequest* request,
                     const std::string& address);
  ContentAnswer contentAnswer(ContentRequest asked,
                              std::optional<std::string> body);
  // A call of the screens (fromContent false) or of the package's frames.
  void answerCall(WebKitURISchemeRequest* request);
  // The answer to a call's body (nullopt: none, or too large).
  std::string callAnswer(const std::optional<std::string>& body,
                         bool fromContent);
  std::optional<std::string> callBody(const char* method,
                                      std::optional<std::string> body);
  void serveRuffle(WebKitURISchemeRequest* request, const std::string& path);
  // zept://content/page: a page's cookies, whether it names a movie, and
  // the files it asked for that failed to load.
  void servePageRequest(SoupServerMessage* msg);
  bool pageNamesMovie(const std::string& path);
  // A file the package lacks was asked for: named once, with the page that
  // asked when that page says so within a moment (an element's error
  // event), else alone.
  void lacking(const std::string& file);
  void claimLacking(const std::string& url, const std::string& page);
  void nameLacking(const std::string& file, const std::string& page);
  static void OnPostedCall(WebKitUserContentManager*,
                           WebKitJavascriptResult* result, gpointer self);
  // Keeps every page off the network, and from saving files.
  void shutNetwork();
  void startFilter();
  // Makes temporaryFilterDir_; false when it cannot or did already.
  bool useTemporaryFilterStore();
  void filterDone(WebKitUserContentFilter* filter, GError* error);
  // As the page goes: a filter still on its way is not handed to it, and
  // its temporary store is removed.
  void endFilter();
  void receive(WebKitURISchemeRequest* request);
  void handlePending();
  void schedulePending(int ms = 1);
  void warn(const std::string& line);
  // The message for an emulator that could not start ("failed:" and how).
  std::string emulatorError(const std::string& failed) const;
  void processEnded(WebKitWebProcessTerminationReason reason);
  void answer(WebKitURISchemeRequest* request,
              const std::vector<std::string>& items);
  void sendOp(WebKitURISchemeRequest* request);
  // Counts a wait or a handled message in or out of busy().
  void enter(int& counter);
  void leave(int& counter);
  bool waitFor(const std::function<bool()>& done, int timeoutMs);

  WebKitWebContext* makeContentContext();
  // The dead proxy for everything but ownHost ("host:port", or "").
  void applyNetworkRules(WebKitWebContext* context,
                         const std::string& ownHost = "");
  void contentLoadChanged(WebKitWebView* view, WebKitLoadEvent event);
  void contentGone();
  void finishClose();
  // Loads the blank page that makes the content's page go.
  void startLeaving();
  void dropContent();
  // Says onContentReturned from the main loop, once.
  void laterReturned();
  guint returnSource_ = 0;

  int deadPort_ = -1;  // the proxy's port: bound, never listening
  std::string proxy_;  // its address
  std::string extensionsDir_;
  WebKitUserContentFilter* filterObject_ = nullptr;
  std::vector<std::string> contentScripts_;
  WebKitWebView* contentView_ = nullptr;  // owned by its GTK parent
  GObjectPtr<WebKitWebContext> contentContext_;
  std::unique_ptr<ContentServer> server_;
  std::string contentGiven_;
  std::string contentTarget_;  // the address the program loads there
  std::string contentError_;
  std::string originPrefix_;  // the origin and a slash
  unsigned contentLaunches_ = 0;
  // Null once the page has gone, for callbacks that may come later.
  std::shared_ptr<MoviePage*> alive_ = std::make_shared<MoviePage*>(this);
  bool contentLoadAsked_ = false;  // its load has not started yet
  bool contentLoaded_ = false;     // its top page has finished loading
  guint leaveSource_ = 0;          // a leaving that waits for that
  bool returning_ = false;         // an AU went to its return address
  std::string lastAsked_;          // the last address a page asked for
  gint64 contentOpenedAt_ = 0;
  std::function<void()> closeDone_;
  guint closeTimeout_ = 0;
  guint closeQuiet_ = 0;     // waits for the page's last requests
  long lastExpected_ = 0;    // requests its pages said outlive them
  std::string ruffleDir_;
  std::vector<std::string> roots_;
  std::set<std::string> allowedFiles_;
  std::map<std::string, std::string> virtualFiles_;
  GObjectPtr<WebKitWebContext> context_;
  MoviePage** schemeLink_ = nullptr;  // the scheme handler's way here
  MoviePage** contentLink_ = nullptr;  // the launch's call handler's
  GObjectPtr<WebKitUserContentManager> content_;
  FilterState filter_ = FilterState::kPending;
  FilterJob* filterJob_ = nullptr;  // while the filter is on its way
  std::string filterError_;
  std::string temporaryFilterDir_;  // removed with the page
  std::string loadError_;
  // The first file of the emulator the page asked for and did not get, and
  // the last wasm file it got.
  std::string emulatorProblem_;
  std::string wasmServed_;
  // Cancels the scripts still running when the page goes.
  GObjectPtr<GCancellable> cancellable_{g_cancellable_new()};
  GtkWidget* view_ = nullptr;  // owned by its GTK parent once placed
  GObjectPtr<GtkWidget> viewRef_;

  // The request the page is blocked on, if any; the messages not handled
  // yet, by number.
  struct Message {
    std::vector<std::string> items;
    bool waited = false;  // the page waits on its answer
  };
  GObjectPtr<WebKitURISchemeRequest> parked_;
  std::map<long, Message> queue_;
  long nextMessage_ = 1;
  long nestedUpTo_ = 0;  // the newest call made inside an op
  gint64 gapSince_ = 0;
  std::set<long> skipped_;  // numbers given up on in a gap, taken late
  int handling_ = 0;
  guint pendingSource_ = 0;  // the timeout that handles queued messages
  int waits_ = 0;

  struct Op {
    std::vector<std::string> items;  // "op", seq, kind, id, ...
    bool sent = false;               // asked through a blocked request
    bool done = false;
    bool ok = false;
    std::string value;
  };
  Op* op_ = nullptr;
  long opSeq_ = 0;
  bool loaded_ = false;
  bool loadFailed_ = false;
  bool ended_ = false;
  int generation_ = 0;
  bool packageShown_ = false;
  // The program's own load of the package's page is under way: any other
  // load of the top page is content taking the window, and is stopped.
  bool ownLoad_ = false;
  long postedCalls_ = 0;
  int rootPathsNamed_ = 0;
  bool packageEmulator_ = false;  // root-absolute paths asked for, named once
  CookieJars cookies_;
  std::map<std::string, bool> namesMovie_;  // by path in the package
  std::map<std::string, guint> unclaimed_;  // lacking files, their timeouts
  std::set<std::string> named_;             // lacking files named
  GObjectPtr<SoupServerMessage> testCall_;
};

}  // namespace zept::desktop
