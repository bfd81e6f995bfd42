#include "app/test_channel.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/test_channel_line.h"

namespace zept {

std::unique_ptr<TestChannel> TestChannel::Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (path.size() >= sizeof address.sun_path || fd < 0) {
    std::fprintf(stderr, "zept: no test channel at %s\n", path.c_str());
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) {
    std::fprintf(stderr, "zept: no test channel at %s: %s\n", path.c_str(),
                 std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TestChannel>(new TestChannel(fd));
}

TestChannel::TestChannel(int fd) : fd_(fd) {
  watch_ = g_unix_fd_add(fd_, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
                         OnReadable, this);
}

TestChannel::~TestChannel() {
  if (watch_) g_source_remove(watch_);
  ::close(fd_);
}

void TestChannel::send(const std::vector<std::string>& fields) {
  const std::string line = EncodeTestLine(fields);
  for (std::size_t at = 0; at < line.size();) {
    const ssize_t n =
        ::send(fd_, line.data() + at, line.size() - at, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the harness has gone; its HUP ends the session
    at += static_cast<std::size_t>(n);
  }
}

gboolean TestChannel::OnReadable(gint fd, GIOCondition, gpointer data) {
  auto& self = *static_cast<TestChannel*>(data);
  char chunk[4096];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n == 0 || (n < 0 && errno != EINTR)) {
    self.watch_ = 0;
    if (self.onCommand) self.onCommand({"quit"});
    return G_SOURCE_REMOVE;
  }
  if (n > 0) self.buffer_.append(chunk, static_cast<std::size_t>(n));
  for (std::size_t end; (end = self.buffer_.find('\n')) != std::string::npos;) {
    const std::vector<std::string> fields =
        DecodeTestLine(self.buffer_.substr(0, end));
    self.buffer_.erase(0, end + 1);
    if (self.onCommand) self.onCommand(fields);
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace zept
