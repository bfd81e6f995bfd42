#include "desktop/course_instance.h"

namespace zept::desktop {

std::string CourseInstance::ApplicationId(const std::string& folder) {
  GCharPtr hash(
      g_compute_checksum_for_string(G_CHECKSUM_SHA256, folder.c_str(), -1));
  // An element of an id must not start with a digit.
  return "org.zept.Course.c" + std::string(hash.get(), 32);
}

CourseInstance::CourseInstance(const std::string& folder)
    : app_(g_application_new(ApplicationId(folder).c_str(),
                             G_APPLICATION_DEFAULT_FLAGS)) {
  GApplication* app = app_.get();
  g_signal_connect(app, "activate", G_CALLBACK(OnActivate), this);
  GError* error = nullptr;
  // Without a session bus GLib registers the application as a lone one; a
  // bus that refuses the name leaves this start alone too.
  if (!g_application_register(app, nullptr, &error)) {
    g_clear_error(&error);
    return;
  }
  if (!g_application_get_is_remote(app)) {
    role_ =
        g_application_get_dbus_connection(app) ? Role::Primary : Role::Alone;
    return;
  }
  g_application_activate(app);
  // The call leaves on the bus's own thread: it must be out before the
  // process ends.
  if (GDBusConnection* bus = g_application_get_dbus_connection(app))
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  role_ = Role::Forwarded;
}

void CourseInstance::OnActivate(GApplication*, gpointer self) {
  auto* instance = static_cast<CourseInstance*>(self);
  if (instance->onActivate) instance->onActivate();
}

}  // namespace zept::desktop
