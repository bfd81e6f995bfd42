#include "desktop/scheme_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "desktop/gobject.h"

namespace zept::desktop {

namespace {

// The next `remaining` bytes of a stream: one range of a file.
struct RangeStream {
  GFilterInputStream parent;
  goffset remaining;
};
struct RangeStreamClass {
  GFilterInputStreamClass parent;
};
G_DEFINE_TYPE(RangeStream, zept_range_stream, G_TYPE_FILTER_INPUT_STREAM)

gssize RangeRead(GInputStream* stream, void* buffer, gsize count,
                 GCancellable* cancellable, GError** error) {
  auto* range = reinterpret_cast<RangeStream*>(stream);
  if (range->remaining <= 0) return 0;
  const gssize n = g_input_stream_read(
      G_FILTER_INPUT_STREAM(stream)->base_stream, buffer,
      std::min<goffset>(static_cast<goffset>(count), range->remaining),
      cancellable, error);
  if (n > 0) range->remaining -= n;
  return n;
}

gssize RangeSkip(GInputStream* stream, gsize count, GCancellable* cancellable,
                 GError** error) {
  auto* range = reinterpret_cast<RangeStream*>(stream);
  const gssize n = g_input_stream_skip(
      G_FILTER_INPUT_STREAM(stream)->base_stream,
      std::min<goffset>(static_cast<goffset>(count), range->remaining),
      cancellable, error);
  if (n > 0) range->remaining -= n;
  return n;
}

void zept_range_stream_class_init(RangeStreamClass* type) {
  GInputStreamClass* stream = G_INPUT_STREAM_CLASS(type);
  stream->read_fn = RangeRead;
  stream->skip = RangeSkip;
}

void zept_range_stream_init(RangeStream* range) { range->remaining = 0; }

}  // namespace

Ranged ParseRange(const char* header, goffset size, goffset& first,
                  goffset& last) {
  std::string text = header;
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  if (text.compare(0, 6, "bytes=") != 0 || text.find(',') != std::string::npos)
    return Ranged::kWhole;
  text = text.substr(6);
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) return Ranged::kWhole;
  // A number that does not fit is as good as infinite.
  const auto number = [](const std::string& digits, goffset& value) {
    if (digits.empty() ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    value = 0;
    for (char c : digits) {
      value =
          value > (G_MAXINT64 - 9) / 10 ? G_MAXINT64 : value * 10 + (c - '0');
    }
    return true;
  };
  const std::string from = text.substr(0, dash), to = text.substr(dash + 1);
  goffset a = 0, b = 0;
  if (from.empty()) {  // the last b bytes
    if (!number(to, b)) return Ranged::kWhole;
    if (b == 0 || size == 0) return Ranged::kUnsatisfiable;
    first = size - std::min(b, size);
    last = size - 1;
    return Ranged::kPart;
  }
  if (!number(from, a)) return Ranged::kWhole;
  if (to.empty()) {
    b = G_MAXINT64;
  } else if (!number(to, b) || b < a) {
    return Ranged::kWhole;
  }
  if (a >= size) return Ranged::kUnsatisfiable;
  first = a;
  last = std::min(b, size - 1);
  return Ranged::kPart;
}

void ServeStream(WebKitURISchemeRequest* request, GInputStream* stream,
                 goffset size, const std::string& type, const char* policy) {
  SoupMessageHeaders* asked =
      webkit_uri_scheme_request_get_http_headers(request);
  const char* range =
      asked ? soup_message_headers_get_one(asked, "Range") : nullptr;
  goffset first = 0, last = size - 1;
  const Ranged ranged =
      range ? ParseRange(range, size, first, last) : Ranged::kWhole;
  GObjectPtr<GInputStream> body = RefObject(stream);
  goffset length = size;
  if (ranged == Ranged::kUnsatisfiable) {
    body.reset(g_memory_input_stream_new());
    length = 0;
  } else if (ranged == Ranged::kPart) {
    GError* error = nullptr;
    if (!g_seekable_seek(G_SEEKABLE(stream), first, G_SEEK_SET, nullptr,
                         &error)) {
      webkit_uri_scheme_request_finish_error(request, error);
      g_error_free(error);
      return;
    }
    length = last - first + 1;
    body.reset(G_INPUT_STREAM(g_object_new(zept_range_stream_get_type(),
                                           "base-stream", stream, nullptr)));
    reinterpret_cast<RangeStream*>(body.get())->remaining = length;
  }
  GObjectPtr<WebKitURISchemeResponse> response(
      webkit_uri_scheme_response_new(body.get(), length));
  SoupMessageHeaders* headers =
      soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  // Streaming compilation of the emulator reads the type from the headers.
  soup_message_headers_replace(headers, "Content-Type", type.c_str());
  soup_message_headers_replace(headers, "Cache-Control", "no-store");
  soup_message_headers_replace(headers, "Content-Security-Policy", policy);
  soup_message_headers_replace(headers, "Accept-Ranges", "bytes");
  soup_message_headers_replace(headers, "Content-Length",
                               std::to_string(length).c_str());
  if (ranged == Ranged::kPart) {
    webkit_uri_scheme_response_set_status(response.get(), 206,
                                          "Partial Content");
    const std::string span = "bytes " + std::to_string(first) + "-" +
                             std::to_string(last) + "/" + std::to_string(size);
    soup_message_headers_replace(headers, "Content-Range", span.c_str());
  } else if (ranged == Ranged::kUnsatisfiable) {
    webkit_uri_scheme_response_set_status(response.get(), 416,
                                          "Range Not Satisfiable");
    const std::string span = "bytes */" + std::to_string(size);
    soup_message_headers_replace(headers, "Content-Range", span.c_str());
  }
  webkit_uri_scheme_response_set_content_type(response.get(), type.c_str());
  webkit_uri_scheme_response_set_http_headers(response.get(), headers);
  webkit_uri_scheme_request_finish_with_response(request, response.get());
}

std::string ContentType(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html"},        {".js", "text/javascript"},
      {".wasm", "application/wasm"}, {".swf", "application/x-shockwave-flash"},
      {".png", "image/png"},         {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},       {".gif", "image/gif"},
      {".xml", "text/xml"},          {".json", "application/json"},
      {".mp3", "audio/mpeg"},        {".flv", "video/x-flv"},
      {".txt", "text/plain"},        {".htm", "text/html"},
      {".css", "text/css"},          {".svg", "image/svg+xml"},
      {".mp4", "video/mp4"},         {".webm", "video/webm"},
      {".ogg", "audio/ogg"},         {".wav", "audio/wav"},
      {".woff", "font/woff"},        {".woff2", "font/woff2"},
      {".ttf", "font/ttf"},          {".pdf", "application/pdf"},
      {".xsd", "text/xml"},          {".dtd", "text/plain"}};
  for (const auto& [e, type] : kTypes) {
    if (g_ascii_strcasecmp(ext.c_str(), e) == 0) return type;
  }
  return "application/octet-stream";
}

std::string ResolveInside(const std::string& path, const std::string& folder,
                          std::string& why) {
  char resolved[PATH_MAX];
  char base[PATH_MAX];
  if (!realpath(path.c_str(), resolved) || !realpath(folder.c_str(), base)) {
    why = std::strerror(errno);
    return "";
  }
  std::string inside = base;
  if (inside.back() != '/') inside += '/';
  const std::string file = resolved;
  if (file.compare(0, inside.size(), inside) == 0) return file;
  why = "outside the folders the page may read";
  return "";
}

void FinishError(WebKitURISchemeRequest* request, GQuark domain, int code,
                 const std::string& message) {
  GError* error = g_error_new_literal(domain, code, message.c_str());
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

namespace {

// A stream of bytes, which it owns.
GObjectPtr<GInputStream> StreamOf(std::string bytes) {
  auto* owned = new std::string(std::move(bytes));
  GBytes* data = g_bytes_new_with_free_func(
      owned->data(), owned->size(),
      [](gpointer text) { delete static_cast<std::string*>(text); }, owned);
  GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(data));
  g_bytes_unref(data);
  return stream;
}

}  // namespace

void FinishBytes(WebKitURISchemeRequest* request, std::string bytes,
                 const std::string& type, const char* policy) {
  const auto length = static_cast<goffset>(bytes.size());
  GObjectPtr<GInputStream> stream = StreamOf(std::move(bytes));
  ServeStream(request, stream.get(), length, type, policy);
}

void FinishAnswer(
    WebKitURISchemeRequest* request, int status,
    const std::vector<std::pair<std::string, std::string>>& headers,
    std::string body, const char* policy) {
  const auto length = static_cast<goffset>(body.size());
  GObjectPtr<GInputStream> stream = StreamOf(std::move(body));
  GObjectPtr<WebKitURISchemeResponse> response(
      webkit_uri_scheme_response_new(stream.get(), length));
  SoupMessageHeaders* out =
      soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  std::string type = "application/json";
  for (const auto& [name, value] : headers) {
    if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) type = value;
    soup_message_headers_replace(out, name.c_str(), value.c_str());
  }
  soup_message_headers_replace(out, "Content-Type", type.c_str());
  soup_message_headers_replace(out, "Cache-Control", "no-store");
  soup_message_headers_replace(out, "Content-Security-Policy", policy);
  webkit_uri_scheme_response_set_status(response.get(),
                                        static_cast<guint>(status), nullptr);
  webkit_uri_scheme_response_set_content_type(response.get(), type.c_str());
  webkit_uri_scheme_response_set_http_headers(response.get(), out);
  webkit_uri_scheme_request_finish_with_response(request, response.get());
}

bool ServeFile(WebKitURISchemeRequest* request, const std::string& path,
               std::string& why, const char* policy) {
  // Only a regular file: a FIFO or a device could block the program, or
  // never end. What is opened is checked again, not only what the name
  // pointed to a moment before.
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    why = "not a regular file";
    return false;
  }
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GError* error = nullptr;
  GObjectPtr<GFileInputStream> stream(g_file_read(file.get(), nullptr, &error));
  GObjectPtr<GFileInfo> opened;
  if (stream) {
    opened.reset(g_file_input_stream_query_info(
        stream.get(),
        G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_SIZE,
        nullptr, &error));
  }
  if (!opened) {
    why = error ? error->message : "cannot be read";
    if (error) g_error_free(error);
    return false;
  }
  if (g_file_info_get_file_type(opened.get()) != G_FILE_TYPE_REGULAR) {
    why = "not a regular file";
    return false;
  }
  // Read from disk as WebKit asks for it, off the main loop.
  ServeStream(request, G_INPUT_STREAM(stream.get()),
              g_file_info_get_size(opened.get()), ContentType(path), policy);
  return true;
}

std::optional<std::string> ReadBody(WebKitURISchemeRequest* request,
                                    std::size_t limit) {
  GObjectPtr<GInputStream> body(
      webkit_uri_scheme_request_get_http_body(request));
  std::string out;
  if (!body) return out;
  char buffer[16384];
  for (;;) {
    const gssize n = g_input_stream_read(body.get(), buffer, sizeof buffer,
                                         nullptr, nullptr);
    if (n <= 0) break;
    if (static_cast<std::size_t>(n) > limit - out.size()) return std::nullopt;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace zept::desktop
