// The floor under the desktop player's start-up: a bare WebKitGTK window
// that loads the same emulator files and plays one movie, with nothing of
// zept around it (no course, no bridge movie, no warm-up). It prints
// "firstFrame : " when the movie sends fscommand("firstFrame").
//
//   zept_bare_page RUFFLE_DIR MOVIE WIDTH HEIGHT

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ruffleDir, moviePath;

constexpr char kPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8">
<style>html, body { margin: 0; height: 100%; overflow: hidden; }
ruffle-player { display: block; width: 100%; height: 100%; }</style>
<script src="bare://x/ruffle/ruffle.js"></script></head>
<body><script>
const player = window.RufflePlayer.newest().createPlayer();
document.body.appendChild(player);
const api = player.ruffle();
api.addFSCommandHandler((command) => {
  window.webkit.messageHandlers.bare.postMessage(String(command));
});
api.load({url: "bare://x/movie.swf", autoplay: "on", unmuteOverlay: "hidden",
          splashScreen: false, polyfills: false,
          publicPath: "bare://x/ruffle/", preferredRenderer: "canvas",
          letterbox: "off", allowScriptAccess: true, logLevel: "error"});
</script></body></html>)";

void Finish(WebKitURISchemeRequest* request, GInputStream* stream,
            gint64 length, const char* type) {
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(stream, length);
  webkit_uri_scheme_response_set_content_type(response, type);
  // Streaming compilation reads the type from the headers.
  SoupMessageHeaders* headers =
      soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_replace(headers, "Content-Type", type);
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
}

void Serve(WebKitURISchemeRequest* request, gpointer) {
  const std::string uri = webkit_uri_scheme_request_get_uri(request);
  const std::string path = uri.substr(std::string("bare://x/").size());
  if (path == "page.html") {
    GInputStream* stream =
        g_memory_input_stream_new_from_data(kPage, sizeof kPage - 1, nullptr);
    Finish(request, stream, sizeof kPage - 1, "text/html");
    g_object_unref(stream);
    return;
  }
  std::string file;
  if (path == "movie.swf") file = moviePath;
  if (path.rfind("ruffle/", 0) == 0) file = ruffleDir + "/" + path.substr(7);
  GFile* gfile = g_file_new_for_path(file.c_str());
  GError* error = nullptr;
  GFileInfo* info = g_file_query_info(gfile, G_FILE_ATTRIBUTE_STANDARD_SIZE,
                                      G_FILE_QUERY_INFO_NONE, nullptr, &error);
  GFileInputStream* stream =
      info ? g_file_read(gfile, nullptr, &error) : nullptr;
  if (!stream) {
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
  } else {
    const bool wasm = g_str_has_suffix(file.c_str(), ".wasm");
    const bool script = g_str_has_suffix(file.c_str(), ".js");
    Finish(request, G_INPUT_STREAM(stream), g_file_info_get_size(info),
           wasm     ? "application/wasm"
           : script ? "text/javascript"
                    : "application/x-shockwave-flash");
    g_object_unref(stream);
  }
  if (info) g_object_unref(info);
  g_object_unref(gfile);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s RUFFLE_DIR MOVIE WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  ruffleDir = argv[1];
  moviePath = argv[2];
  gtk_init(&argc, &argv);
  WebKitWebContext* context = webkit_web_context_new();
  const char* const languages[] = {"en-US", nullptr};
  webkit_web_context_set_preferred_languages(context, languages);
  webkit_web_context_register_uri_scheme(context, "bare", Serve, nullptr,
                                         nullptr);
  WebKitSecurityManager* security =
      webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_secure(security, "bare");
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security,
                                                              "bare");
  WebKitUserContentManager* scripts = webkit_user_content_manager_new();
  g_signal_connect(scripts, "script-message-received::bare",
                   G_CALLBACK(+[](WebKitUserContentManager*,
                                  WebKitJavascriptResult* message, gpointer) {
                     JSCValue* value =
                         webkit_javascript_result_get_js_value(message);
                     gchar* text = jsc_value_to_string(value);
                     std::printf("%s : \n", text);
                     std::fflush(stdout);
                     g_free(text);
                   }),
                   nullptr);
  webkit_user_content_manager_register_script_message_handler(scripts, "bare");
  GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                                            context, "user-content-manager",
                                            scripts, nullptr));
  webkit_settings_set_hardware_acceleration_policy(
      webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
      WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), std::atoi(argv[3]),
                              std::atoi(argv[4]));
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), "bare://x/page.html");
  gtk_main();
  return 0;
}
