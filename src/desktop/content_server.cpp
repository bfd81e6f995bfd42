#include "desktop/content_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>

#include "desktop/scheme_files.h"

namespace zept::desktop {

namespace {

constexpr gsize kChunk = 64 * 1024;

void CommonHeaders(SoupServerMessage* msg, const std::string& type,
                   const std::string& policy) {
  SoupMessageHeaders* out = soup_server_message_get_response_headers(msg);
  soup_message_headers_replace(out, "Content-Type", type.c_str());
  soup_message_headers_replace(out, "Cache-Control", "no-store");
  soup_message_headers_replace(out, "X-Content-Type-Options", "nosniff");
  if (!policy.empty())
    soup_message_headers_replace(out, "Content-Security-Policy",
                                 policy.c_str());
}

// Sends what is left of a stream a chunk at a time: each read (on another
// thread, as an entry of a .zip may be inflating) is written before the
// next is asked for. The message is held until it finishes.
struct Sending {
  GObjectPtr<SoupServerMessage> msg;
  GObjectPtr<GInputStream> stream;
  goffset remaining;
  bool reading = false;
  bool completed = false;
  gulong wrote = 0, ended = 0;

  // Writes the next chunk, or ends the body.
  void next() {
    SoupMessageBody* body = soup_server_message_get_response_body(msg.get());
    if (remaining <= 0) {
      completed = true;
      soup_message_body_complete(body);
      soup_server_message_unpause(msg.get());
      return;
    }
    reading = true;
    g_input_stream_read_bytes_async(
        stream.get(), static_cast<gsize>(std::min<goffset>(remaining, kChunk)),
        G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* from, GAsyncResult* result, gpointer self) {
          auto* sending = static_cast<Sending*>(self);
          sending->reading = false;
          GBytes* bytes = g_input_stream_read_bytes_finish(
              G_INPUT_STREAM(from), result, nullptr);
          // The client went away meanwhile.
          if (!sending->msg) {
            if (bytes) g_bytes_unref(bytes);
            delete sending;
            return;
          }
          if (!bytes || g_bytes_get_size(bytes) == 0) {
            // The stream ended early: the answer is cut short, which the
            // client sees against its Content-Length.
            sending->remaining = 0;
          } else {
            sending->remaining -= static_cast<goffset>(g_bytes_get_size(bytes));
            soup_message_body_append_bytes(
                soup_server_message_get_response_body(sending->msg.get()),
                bytes);
            soup_server_message_unpause(sending->msg.get());
          }
          if (bytes) g_bytes_unref(bytes);
          if (sending->remaining <= 0) sending->next();
        },
        this);
  }

  // The message has finished (sent, or the client gone).
  void finish() {
    g_signal_handler_disconnect(msg.get(), wrote);
    g_signal_handler_disconnect(msg.get(), ended);
    msg.reset();
    if (!reading) delete this;
  }
};

}  // namespace

ContentServer::ContentServer() {
  server_.reset(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, nullptr)));
  soup_server_add_handler(server_.get(), nullptr, Handle, this, nullptr);
  GError* error = nullptr;
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  g_object_unref(loopback);
  if (!soup_server_listen(server_.get(), address, SoupServerListenOptions(0),
                          &error)) {
    error_ = std::string("zept could not listen on a loopback port: ") +
             error->message;
    g_error_free(error);
    g_object_unref(address);
    return;
  }
  g_object_unref(address);
  GSList* uris = soup_server_get_uris(server_.get());
  if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  host_ = "127.0.0.1:" + std::to_string(port_);
  origin_ = "http://" + host_;
}

ContentServer::~ContentServer() {
  if (server_) soup_server_disconnect(server_.get());
}

std::string ContentServer::newSecret() {
  guint32 words[8];
  for (guint32& word : words) word = g_random_int();
  // g_random_int is not for secrets: the words go through SHA-256 with
  // bytes of the system's own generator when it has them.
  GChecksum* sum = g_checksum_new(G_CHECKSUM_SHA256);
  g_checksum_update(sum, reinterpret_cast<const guchar*>(words), sizeof words);
  unsigned char system[32];
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (::read(fd, system, sizeof system) == sizeof system)
      g_checksum_update(sum, system, sizeof system);
    ::close(fd);
  }
  secret_ = g_checksum_get_string(sum);
  g_checksum_free(sum);
  return secret_;
}

bool ContentServer::admits(SoupServerMessage* msg) const {
  if (secret_.empty()) return false;
  SoupMessageHeaders* in = soup_server_message_get_request_headers(msg);
  // A page of another site that reaches the port by a name of its own
  // (DNS rebinding) names another host.
  const char* host = soup_message_headers_get_one(in, "Host");
  if (!host || host_ != host) return false;
  const char* cookies = soup_message_headers_get_list(in, "Cookie");
  if (!cookies) return false;
  GHashTable* parsed = soup_header_parse_semi_param_list(cookies);
  const char* value =
      static_cast<const char*>(g_hash_table_lookup(parsed, kLaunchCookie));
  const bool found = value && secret_ == value;
  soup_header_free_param_list(parsed);
  return found;
}

void ContentServer::Handle(SoupServer*, SoupServerMessage* msg,
                           const char* path, GHashTable*, gpointer data) {
  auto& self = *static_cast<ContentServer*>(data);
  // One request a connection: a connection the browser keeps for reuse and
  // then drops is otherwise never closed on this side.
  soup_message_headers_replace(soup_server_message_get_response_headers(msg),
                               "Connection", "close");
  if (!self.admits(msg)) {
    soup_server_message_set_status(msg, 403, nullptr);
    return;
  }
  if (soup_message_headers_get_one(soup_server_message_get_request_headers(msg),
                                   "X-Zept-Last"))
    ++self.lastArrived_;
  GCharPtr decoded(g_uri_unescape_string(path ? path : "/", nullptr));
  std::string rest = decoded ? decoded.get() : "";
  if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  if (!decoded || !self.onRequest) return HttpNotFound(msg, "not served");
  self.onRequest(msg, rest);
}

void HttpBytes(SoupServerMessage* msg, int status, std::string bytes,
               const std::string& type, const std::string& policy,
               const std::vector<std::pair<std::string, std::string>>&
                   headers) {
  // Static files take a byte range as the scheme's do.
  SoupMessageHeaders* in = soup_server_message_get_request_headers(msg);
  const char* range = soup_message_headers_get_one(in, "Range");
  goffset first = 0, last = static_cast<goffset>(bytes.size()) - 1;
  const Ranged ranged =
      status == 200 && range
          ? ParseRange(range, static_cast<goffset>(bytes.size()), first, last)
          : Ranged::kWhole;
  CommonHeaders(msg, type, policy);
  SoupMessageHeaders* out = soup_server_message_get_response_headers(msg);
  for (const auto& [name, value] : headers)
    soup_message_headers_replace(out, name.c_str(), value.c_str());
  if (ranged == Ranged::kPart) {
    const std::string span = "bytes " + std::to_string(first) + "-" +
                             std::to_string(last) + "/" +
                             std::to_string(bytes.size());
    soup_message_headers_replace(out, "Content-Range", span.c_str());
    bytes = bytes.substr(static_cast<std::size_t>(first),
                         static_cast<std::size_t>(last - first + 1));
    status = 206;
  } else if (ranged == Ranged::kUnsatisfiable) {
    const std::string span = "bytes */" + std::to_string(bytes.size());
    soup_message_headers_replace(out, "Content-Range", span.c_str());
    bytes.clear();
    status = 416;
  }
  if (status == 200 || status == 206)
    soup_message_headers_replace(out, "Accept-Ranges", "bytes");
  soup_server_message_set_status(msg, static_cast<guint>(status), nullptr);
  soup_message_body_append(soup_server_message_get_response_body(msg),
                           SOUP_MEMORY_COPY, bytes.data(), bytes.size());
}

void HttpStream(SoupServerMessage* msg, GInputStream* stream, goffset size,
                const std::string& type, const std::string& policy) {
  SoupMessageHeaders* in = soup_server_message_get_request_headers(msg);
  const char* range = soup_message_headers_get_one(in, "Range");
  goffset first = 0, last = size - 1;
  const Ranged ranged =
      range ? ParseRange(range, size, first, last) : Ranged::kWhole;
  CommonHeaders(msg, type, policy);
  SoupMessageHeaders* out = soup_server_message_get_response_headers(msg);
  soup_message_headers_replace(out, "Accept-Ranges", "bytes");
  if (ranged == Ranged::kUnsatisfiable) {
    const std::string span = "bytes */" + std::to_string(size);
    soup_message_headers_replace(out, "Content-Range", span.c_str());
    soup_server_message_set_status(msg, 416, nullptr);
    return;
  }
  goffset length = size;
  if (ranged == Ranged::kPart) {
    if (!g_seekable_seek(G_SEEKABLE(stream), first, G_SEEK_SET, nullptr,
                         nullptr)) {
      soup_server_message_set_status(msg, 500, nullptr);
      return;
    }
    length = last - first + 1;
    const std::string span = "bytes " + std::to_string(first) + "-" +
                             std::to_string(last) + "/" + std::to_string(size);
    soup_message_headers_replace(out, "Content-Range", span.c_str());
  }
  soup_message_headers_set_content_length(out, length);
  soup_server_message_set_status(msg, ranged == Ranged::kPart ? 206 : 200,
                                 nullptr);
  if (g_strcmp0(soup_server_message_get_method(msg), "HEAD") == 0) return;
  SoupMessageBody* body = soup_server_message_get_response_body(msg);
  // What was sent is not kept: a large file goes through in chunks.
  soup_message_body_set_accumulate(body, FALSE);
  auto* sending = new Sending{RefObject(msg), RefObject(stream), length};
  sending->wrote = g_signal_connect_swapped(
      msg, "wrote-chunk", G_CALLBACK(+[](Sending* self) {
        if (self->completed || self->reading) return;
        soup_server_message_pause(self->msg.get());
        self->next();
      }),
      sending);
  sending->ended = g_signal_connect_swapped(
      msg, "finished", G_CALLBACK(+[](Sending* self) { self->finish(); }),
      sending);
  soup_server_message_pause(msg);
  sending->next();
}

bool HttpFile(SoupServerMessage* msg, const std::string& path,
              std::string& why, const std::string& policy) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GError* error = nullptr;
  GObjectPtr<GFileInputStream> stream(g_file_read(file.get(), nullptr, &error));
  if (!stream) {
    why = error ? error->message : "cannot be read";
    if (error) g_error_free(error);
    return false;
  }
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    why = "not a regular file";
    return false;
  }
  HttpStream(msg, G_INPUT_STREAM(stream.get()),
             static_cast<goffset>(info.st_size), ContentType(path), policy);
  return true;
}

void HttpNotFound(SoupServerMessage* msg, const std::string& why) {
  HttpBytes(msg, 404, why, "text/plain; charset=utf-8", "");
}

std::optional<std::string> HttpBody(SoupServerMessage* msg, std::size_t limit) {
  SoupMessageBody* body = soup_server_message_get_request_body(msg);
  GBytes* all = soup_message_body_flatten(body);
  gsize size = 0;
  const char* data = static_cast<const char*>(g_bytes_get_data(all, &size));
  std::optional<std::string> text;
  if (size <= limit) text.emplace(data ? data : "", size);
  g_bytes_unref(all);
  return text;
}

}  // namespace zept::desktop
