// Preloaded into a Wayland client (LD_PRELOAD): after each write to the
// compositor's socket, one line on stderr, "flinto-wl-sent N" (N bytes).
// With WAYLAND_DEBUG=1 the client's log then says not only what it asked
// and when, but when the compositor could have it: a request is queued
// when made and goes with the next flush.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using SendMsg = ssize_t (*)(int, const msghdr *, int);

// Whether `fd` is connected to $WAYLAND_DISPLAY (a name in
// $XDG_RUNTIME_DIR, or a path).
bool ToCompositor(int fd) {
  const char *name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0')
    name = "wayland-0";
  sockaddr_un peer = {};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 ||
      peer.sun_family != AF_UNIX)
    return false;
  const char *path = peer.sun_path;
  if (name[0] == '/')
    return std::strcmp(path, name) == 0;
  const char *slash = std::strrchr(path, '/');
  return slash != nullptr && std::strcmp(slash + 1, name) == 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) ssize_t
sendmsg(int fd, const msghdr *message, int flags) {
  static const SendMsg next =
      reinterpret_cast<SendMsg>(dlsym(RTLD_NEXT, "sendmsg"));
  if (next == nullptr)
    return -1;
  const ssize_t sent = next(fd, message, flags);
  if (sent > 0 && ToCompositor(fd)) {
    char line[48];
    const int n =
        std::snprintf(line, sizeof line, "flinto-wl-sent %zd\n", sent);
    if (n > 0 && write(2, line, size_t(n)) < 0) {
      // Nothing to do: the mark is lost, the request went.
    }
  }
  return sent;
}
