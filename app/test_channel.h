#pragma once
// zept's end of the conformance harness's test channel: a UNIX socket the
// harness listens on, named by ZEPT_TEST_CHANNEL. Not a learner's feature:
// without the variable nothing of it exists.

#include <glib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zept {

class TestChannel {
 public:
  // Connected to the socket at path; null (said on stderr) when it cannot be.
  static std::unique_ptr<TestChannel> Connect(const std::string& path);
  ~TestChannel();
  TestChannel(const TestChannel&) = delete;
  TestChannel& operator=(const TestChannel&) = delete;

  void send(const std::vector<std::string>& fields);
  // Each command line as it comes, on the main loop; {"quit"} when the
  // harness has gone.
  std::function<void(const std::vector<std::string>&)> onCommand;

 private:
  explicit TestChannel(int fd);
  static gboolean OnReadable(gint fd, GIOCondition condition, gpointer self);

  int fd_;
  guint watch_ = 0;
  std::string buffer_;
};

}  // namespace zept
