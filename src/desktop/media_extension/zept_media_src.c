/* Loaded into WebKit's web process: a GStreamer source for zept: URLs, so
 * that the audio and video of a package play as they are read, with seeks,
 * instead of whole from memory. WebKit's media player reads no custom
 * scheme itself. The program hands over each file as a descriptor, opened
 * at an offset, per message: the file itself (read at any offset) or a
 * socket it writes the bytes into. Push mode only, so nothing ever waits
 * for data on the web process's main thread, which brings the replies. */
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>
#include <poll.h>
#include <unistd.h>
#include <errno.h>
#include <webkit2/webkit-web-extension.h>

static WebKitWebExtension *the_extension;

/* ---- one open request, shared by the streaming thread and the main loop */
typedef struct {
  gchar *uri;
  guint64 offset;
  GMutex lock;
  GCond cond;
  gboolean done;
  int fd;
  guint64 size;
  gboolean seekable;
  gchar *error;
  /* Set for the first open, made as the element starts: the reply finishes
   * the start (the element holds a reference meanwhile). */
  GstBaseSrc *starting;
} Request;

static void finish_start(Request *r);

static void request_free(gpointer p) {
  Request *r = p;
  if (r->fd >= 0) close(r->fd);
  g_free(r->uri);
  g_free(r->error);
  g_mutex_clear(&r->lock);
  g_cond_clear(&r->cond);
}

static void on_reply(GObject *source, GAsyncResult *result, gpointer data) {
  Request *r = data;
  GError *error = NULL;
  WebKitUserMessage *reply = webkit_web_extension_send_message_to_context_finish(
      WEBKIT_WEB_EXTENSION(source), result, &error);
  int fd = -1;
  guint64 size = 0;
  gboolean seekable = FALSE;
  gchar *why = NULL;
  if (!reply) {
    why = g_strdup(error ? error->message : "no reply");
    g_clear_error(&error);
  } else {
    GVariant *p = webkit_user_message_get_parameters(reply);
    const char *err = "";
    if (p && g_variant_is_of_type(p, G_VARIANT_TYPE("(tbs)")))
      g_variant_get(p, "(tb&s)", &size, &seekable, &err);
    else
      err = "bad reply";
    GUnixFDList *fds = webkit_user_message_get_fd_list(reply);
    if (!*err && fds && g_unix_fd_list_get_length(fds) == 1)
      fd = g_unix_fd_list_get(fds, 0, NULL);
    if (fd < 0) why = g_strdup(*err ? err : "no stream");
    g_object_unref(reply);
  }
  g_mutex_lock(&r->lock);
  r->fd = fd;
  r->size = size;
  r->seekable = seekable;
  r->error = why;
  r->done = TRUE;
  g_cond_signal(&r->cond);
  g_mutex_unlock(&r->lock);
  if (r->starting) finish_start(r);
  g_atomic_rc_box_release_full(r, request_free);
}

static gboolean send_request(gpointer data) {
  Request *r = data;
  WebKitUserMessage *m = webkit_user_message_new(
      "zept-media-open", g_variant_new("(st)", r->uri, r->offset));
  webkit_web_extension_send_message_to_context(the_extension, m, NULL, on_reply, r);
  return G_SOURCE_REMOVE;
}

/* ---- the element */
#define ZEPT_TYPE_SRC (zept_src_get_type())
G_DECLARE_FINAL_TYPE(ZeptSrc, zept_src, ZEPT, SRC, GstBaseSrc)

struct _ZeptSrc {
  GstBaseSrc parent;
  gchar *uri;
  GMutex lock;
  gboolean flushing;
  Request *pending; /* while waiting for a reply */
  GCancellable *cancel; /* wakes a read blocked on the pipe */
  int fd;
  guint64 position; /* of the next byte fd yields */
  guint64 size;
  gboolean have_size;
  gboolean pread_ok; /* fd is the file itself: read at any offset */
};

static void zept_src_uri_init(gpointer iface, gpointer data);
G_DEFINE_TYPE_WITH_CODE(ZeptSrc, zept_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, zept_src_uri_init))

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

enum { PROP_0, PROP_LOCATION };

static GstURIType uri_get_type(GType t G_GNUC_UNUSED) { return GST_URI_SRC; }
static const gchar *const *uri_get_protocols(GType t G_GNUC_UNUSED) {
  static const gchar *protocols[] = {"zept", NULL};
  return protocols;
}
static gchar *uri_get_uri(GstURIHandler *h) { return g_strdup(ZEPT_SRC(h)->uri); }
static gboolean uri_set_uri(GstURIHandler *h, const gchar *uri, GError **error) {
  ZeptSrc *self = ZEPT_SRC(h);
  if (GST_STATE(self) >= GST_STATE_PAUSED) {
    g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_STATE, "too late");
    return FALSE;
  }
  g_free(self->uri);
  self->uri = g_strdup(uri);
  return TRUE;
}
static void zept_src_uri_init(gpointer g_iface, gpointer data G_GNUC_UNUSED) {
  GstURIHandlerInterface *iface = g_iface;
  iface->get_type = uri_get_type;
  iface->get_protocols = uri_get_protocols;
  iface->get_uri = uri_get_uri;
  iface->set_uri = uri_set_uri;
}

static void set_property(GObject *o, guint id, const GValue *v, GParamSpec *p G_GNUC_UNUSED) {
  if (id == PROP_LOCATION)
    uri_set_uri(GST_URI_HANDLER(o), g_value_get_string(v), NULL);
}
static void get_property(GObject *o, guint id, GValue *v, GParamSpec *p G_GNUC_UNUSED) {
  if (id == PROP_LOCATION) g_value_set_string(v, ZEPT_SRC(o)->uri);
}

static void close_stream(ZeptSrc *self) {
  if (self->fd >= 0) close(self->fd);
  self->fd = -1;
}

/* Streaming thread only. FALSE when flushing or failed (error set). */
static gboolean open_at(ZeptSrc *self, guint64 offset, gchar **error) {
  close_stream(self);
  Request *r = g_atomic_rc_box_new0(Request);
  r->uri = g_strdup(self->uri);
  r->offset = offset;
  r->fd = -1;
  g_mutex_init(&r->lock);
  g_cond_init(&r->cond);
  g_mutex_lock(&self->lock);
  if (self->flushing) {
    g_mutex_unlock(&self->lock);
    g_atomic_rc_box_release_full(r, request_free);
    return FALSE;
  }
  self->pending = r;
  g_mutex_unlock(&self->lock);
  g_atomic_rc_box_acquire(r); /* for on_reply */
  g_main_context_invoke(NULL, send_request, r);
  g_mutex_lock(&r->lock);
  while (!r->done) g_cond_wait(&r->cond, &r->lock);
  int fd = r->fd;
  r->fd = -1;
  guint64 size = r->size;
  gboolean seekable = r->seekable;
  gchar *why = g_strdup(r->error);
  g_mutex_unlock(&r->lock);
  g_mutex_lock(&self->lock);
  self->pending = NULL;
  gboolean flushing = self->flushing;
  g_mutex_unlock(&self->lock);
  g_atomic_rc_box_release_full(r, request_free);
  if (fd < 0 || flushing) {
    if (fd >= 0) close(fd);
    if (!flushing) *error = why; else g_free(why);
    return FALSE;
  }
  g_free(why);
  self->fd = fd;
  self->position = offset;
  self->pread_ok = seekable;
  GST_OBJECT_LOCK(self);
  self->size = size;
  self->have_size = TRUE;
  /* basesrc asks get_size only at start, on the main thread, before any
   * request: the demuxer learns the length (and seeks past mdat) from here. */
  GST_BASE_SRC(self)->segment.duration = size;
  GST_OBJECT_UNLOCK(self);
  return TRUE;
}

static GstFlowReturn create(GstBaseSrc *base, guint64 offset, guint length, GstBuffer **out) {
  ZeptSrc *self = ZEPT_SRC(base);
  gchar *why = NULL;
  if (self->fd < 0 || (offset != self->position && !self->pread_ok)) {
    if (!open_at(self, offset, &why)) {
      if (!why) return GST_FLOW_FLUSHING;
      GST_ELEMENT_ERROR(self, RESOURCE, READ, ("%s", why), (NULL));
      g_free(why);
      return GST_FLOW_ERROR;
    }
  }
  if (self->have_size && offset >= self->size) return GST_FLOW_EOS;
  GstBuffer *buffer = gst_buffer_new_allocate(NULL, length, NULL);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  gsize got = 0;
  GPollFD wake;
  g_cancellable_make_pollfd(self->cancel, &wake);
  while (got < length) {
    struct pollfd fds[2] = {{self->fd, POLLIN, 0}, {wake.fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (g_cancellable_is_cancelled(self->cancel)) {
      g_cancellable_release_fd(self->cancel);
      gst_buffer_unmap(buffer, &map);
      gst_buffer_unref(buffer);
      return GST_FLOW_FLUSHING;
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    ssize_t n = self->pread_ok ? pread(self->fd, map.data + got, length - got, offset + got)
                               : read(self->fd, map.data + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  g_cancellable_release_fd(self->cancel);
  gst_buffer_unmap(buffer, &map);
  if (got == 0) {
    gst_buffer_unref(buffer);
    return GST_FLOW_EOS;
  }
  gst_buffer_set_size(buffer, got);
  GST_BUFFER_OFFSET(buffer) = offset;
  GST_BUFFER_OFFSET_END(buffer) = offset + got;
  self->position = offset + got;
  *out = buffer;
  return GST_FLOW_OK;
}

static gboolean get_size(GstBaseSrc *base, guint64 *size) {
  ZeptSrc *self = ZEPT_SRC(base);
  GST_OBJECT_LOCK(self);
  gboolean have = self->have_size;
  *size = self->size;
  GST_OBJECT_UNLOCK(self);
  return have;
}
static gboolean is_seekable(GstBaseSrc *base G_GNUC_UNUSED) { return TRUE; }

static gboolean query(GstBaseSrc *base, GstQuery *q) {
  if (GST_QUERY_TYPE(q) == GST_QUERY_SCHEDULING) {
    /* Push mode: a pull would read on whatever thread asks, the main one
     * included, and the main loop is what brings the bytes. */
    gst_query_set_scheduling(q, GST_SCHEDULING_FLAG_SEEKABLE, 1, -1, 0);
    gst_query_add_scheduling_mode(q, GST_PAD_MODE_PUSH);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(zept_src_parent_class)->query(base, q);
}

static gboolean unlock(GstBaseSrc *base) {
  ZeptSrc *self = ZEPT_SRC(base);
  g_mutex_lock(&self->lock);
  self->flushing = TRUE;
  Request *r = self->pending;
  g_mutex_unlock(&self->lock);
  g_cancellable_cancel(self->cancel);
  if (r) { /* stop waiting; the reply, when it comes, is dropped */
    g_mutex_lock(&r->lock);
    r->done = TRUE;
    g_cond_signal(&r->cond);
    g_mutex_unlock(&r->lock);
  }
  return TRUE;
}
static gboolean unlock_stop(GstBaseSrc *base) {
  ZeptSrc *self = ZEPT_SRC(base);
  g_mutex_lock(&self->lock);
  self->flushing = FALSE;
  g_mutex_unlock(&self->lock);
  g_cancellable_reset(self->cancel);
  return TRUE;
}
/* The element starts only once the program has answered, so the size is
 * known before anything is parsed, as the parsers that estimate a duration
 * (MP3) need it. Start runs on the web process's main thread, which brings
 * the reply: it asks and returns, and the reply completes the start. */
static gboolean start(GstBaseSrc *base) {
  ZeptSrc *self = ZEPT_SRC(base);
  close_stream(self);
  Request *r = g_atomic_rc_box_new0(Request);
  r->uri = g_strdup(self->uri);
  r->fd = -1;
  g_mutex_init(&r->lock);
  g_cond_init(&r->cond);
  r->starting = GST_BASE_SRC(gst_object_ref(self));
  /* Sent from the main thread, whichever thread starts the element. */
  g_main_context_invoke(NULL, send_request, r); /* the reply releases r */
  return TRUE;
}

static void finish_start(Request *r) {
  ZeptSrc *self = ZEPT_SRC(r->starting);
  r->starting = NULL;
  if (r->fd >= 0) {
    self->fd = r->fd;
    r->fd = -1;
    self->position = 0;
    self->pread_ok = r->seekable;
    GST_OBJECT_LOCK(self);
    self->size = r->size;
    self->have_size = TRUE;
    GST_OBJECT_UNLOCK(self);
    gst_base_src_start_complete(GST_BASE_SRC(self), GST_FLOW_OK);
  } else {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s",
                      r->error ? r->error : "no stream"), (NULL));
    gst_base_src_start_complete(GST_BASE_SRC(self), GST_FLOW_ERROR);
  }
  gst_object_unref(self);
}
static gboolean stop(GstBaseSrc *base) {
  close_stream(ZEPT_SRC(base));
  return TRUE;
}

static void finalize(GObject *o) {
  ZeptSrc *self = ZEPT_SRC(o);
  close_stream(self);
  g_free(self->uri);
  g_object_unref(self->cancel);
  g_mutex_clear(&self->lock);
  G_OBJECT_CLASS(zept_src_parent_class)->finalize(o);
}

static void zept_src_init(ZeptSrc *self) {
  self->fd = -1;
  self->cancel = g_cancellable_new();
  g_mutex_init(&self->lock);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
  gst_base_src_set_async(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_blocksize(GST_BASE_SRC(self), 64 * 1024);
}

static void zept_src_class_init(ZeptSrcClass *klass) {
  GObjectClass *o = G_OBJECT_CLASS(klass);
  o->set_property = set_property;
  o->get_property = get_property;
  o->finalize = finalize;
  g_object_class_install_property(o, PROP_LOCATION,
      g_param_spec_string("location", "Location", "zept: URL", NULL, G_PARAM_READWRITE));
  GstElementClass *e = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(e, &src_template);
  gst_element_class_set_static_metadata(e, "zept package source", "Source/File",
                                        "Reads a package file through the program", "zept");
  GstBaseSrcClass *b = GST_BASE_SRC_CLASS(klass);
  b->start = start;
  b->stop = stop;
  b->create = create;
  b->get_size = get_size;
  b->is_seekable = is_seekable;
  b->query = query;
  b->unlock = unlock;
  b->unlock_stop = unlock_stop;
}

/* ---- sound without a sound device */

/* Whether anything can play sound: a sound server of the user's session
 * (PulseAudio, PipeWire), or a device of the kernel's (ALSA, OSS). */
static gboolean sound_reachable(void) {
  const gchar *server = g_getenv("PULSE_SERVER");
  if (server && *server) return TRUE;
  const gchar *runtime = g_get_user_runtime_dir();
  const gchar *sockets[] = {"pulse/native", "pipewire-0", NULL};
  for (int i = 0; sockets[i]; i++) {
    gchar *path = g_build_filename(runtime, sockets[i], NULL);
    const gboolean there = g_file_test(path, G_FILE_TEST_EXISTS);
    g_free(path);
    if (there) return TRUE;
  }
  if (g_file_test("/dev/dsp", G_FILE_TEST_EXISTS)) return TRUE;
  GDir *dir = g_dir_open("/dev/snd", 0, NULL);
  gboolean found = FALSE;
  if (dir) {
    for (const gchar *name; !found && (name = g_dir_read_name(dir));)
      found = g_str_has_prefix(name, "pcm");
    g_dir_close(dir);
  }
  if (found) return TRUE;
  return FALSE;
}

/* With no device, the sinks the automatic audio sink tries each fail, some
 * only after seconds or never (a media element's play() then never settles
 * and Flash sound never starts). Ranked out, they leave it its silent
 * fallback, which keeps time: media play silently to their end. */
static void play_silently_without_device(void) {
  if (sound_reachable()) return;
  GList *sinks = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO,
      GST_RANK_MARGINAL);
  for (GList *at = sinks; at; at = at->next)
    gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(at->data), GST_RANK_NONE);
  gst_plugin_feature_list_free(sinks);
}

G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension *extension,
                                                                     const GVariant *data G_GNUC_UNUSED) {
  the_extension = g_object_ref(extension);
  GError *error = NULL;
  if (!gst_init_check(NULL, NULL, &error)) {
    g_warning("zept media: %s", error->message);
    g_error_free(error);
    return;
  }
  gst_element_register(NULL, "zeptsrc", GST_RANK_PRIMARY, ZEPT_TYPE_SRC);
  play_silently_without_device();
}
