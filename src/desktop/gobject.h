#pragma once
// Owners for GLib objects: every reference the desktop code holds is one of
// these, so nothing is leaked or released twice.

#include <glib-object.h>

#include <memory>

namespace zept::desktop {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes a new reference to object.
template <typename T>
GObjectPtr<T> RefObject(T* object) {
  return GObjectPtr<T>(static_cast<T*>(g_object_ref(object)));
}

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

}  // namespace zept::desktop
