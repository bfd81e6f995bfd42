#pragma once
// One window per course: the first zept playing a course owns a name on the
// user's session bus made from the course's folder; a later start on the
// same course asks it to bring its window forward instead of playing the
// course a second time.

#include <gio/gio.h>

#include <functional>
#include <string>

#include "desktop/gobject.h"

namespace zept::desktop {

class CourseInstance {
 public:
  enum class Role {
    // This process plays the course; later starts reach onActivate.
    Primary,
    // Another process plays it and was asked to bring its window forward.
    Forwarded,
    // No session bus: nothing to find, nor to be found by.
    Alone,
  };

  // folder: the course's folder, canonical, so that one course has one name.
  explicit CourseInstance(const std::string& folder);
  CourseInstance(const CourseInstance&) = delete;
  CourseInstance& operator=(const CourseInstance&) = delete;

  Role role() const { return role_; }
  // The application id on the bus for folder.
  static std::string ApplicationId(const std::string& folder);

  // Runs in the primary process when a later start asks for its window.
  std::function<void()> onActivate;

 private:
  static void OnActivate(GApplication*, gpointer self);

  GObjectPtr<GApplication> app_;
  Role role_ = Role::Alone;
};

}  // namespace zept::desktop
