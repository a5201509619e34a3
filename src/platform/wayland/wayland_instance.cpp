// One Flinto per session: a socket named after the compositor's, in the
// user's private runtime folder; a second start sends the first its
// message through it.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/portable/host.h"
#include "platform/wayland/wayland_driver.h"

namespace wayland {

// A socket in the user's runtime folder (mode 0700: no other user reaches
// it), named after the compositor's socket. One left behind by a Flinto that
// was killed refuses connections, and is replaced.
std::string WaylandDriver::InstanceAddress() const {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  const char *name = std::getenv("WAYLAND_DISPLAY");
  if (runtime == nullptr || runtime[0] != '/')
    return "";
  // Only in a folder no other user can reach: there no one else can take
  // the name, answer in Flinto's place or send it messages.
  std::string why;
  if (!IsPrivateFolder(runtime, &why)) {
    static bool said = false;
    if (!said)
      std::fprintf(stderr, "flinto: %s; a second Flinto will not be found\n",
                   why.c_str());
    said = true;
    return "";
  }
  // The compositor's socket as libwayland finds it: a name in the runtime
  // folder (wayland-0 when unset), or a path; one compositor, one name.
  std::string display = name != nullptr && name[0] != '\0' ? name : "wayland-0";
  const std::string folder = std::string(runtime) + "/";
  if (display.compare(0, folder.size(), folder) == 0)
    display.erase(0, folder.size());
  std::replace(display.begin(), display.end(), '/', '_');
  const std::string path = folder + "flinto-" + display + ".socket";
  return path.size() < sizeof(sockaddr_un::sun_path) ? path : "";
}

bool IsPrivateFolder(const std::string &dir, std::string *why) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *why = dir + " is not a folder";
    return false;
  }
  if (st.st_uid != getuid()) {
    *why = dir + " belongs to another user";
    return false;
  }
  if ((st.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    *why = dir + " has mode " + mode + ", not 0700";
    return false;
  }
  return true;
}

namespace {

socklen_t SocketAddress(const std::string &path, sockaddr_un *address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.data(), path.size());
  return socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

// Whether a running program holds the socket.
bool SomeoneListensAt(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  sockaddr_un address;
  const socklen_t length = SocketAddress(path, &address);
  const bool running =
      connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
  close(fd);
  return running;
}

} // namespace

void WaylandDriver::ListenForInstances() {
  const std::string path = InstanceAddress();
  if (instanceSocket_ >= 0 || path.empty())
    return;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return;
  sockaddr_un address;
  const socklen_t length = SocketAddress(path, &address);
  const mode_t mask = umask(0077);
  bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
  if (!bound && errno == EADDRINUSE && !SomeoneListensAt(path)) {
    unlink(path.c_str());
    bound = bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
  }
  umask(mask);
  if (!bound) {
    close(fd);
    return;
  }
  instanceSocket_ = fd;
  instancePath_ = path;
}

void WaylandDriver::ReadInstanceSocket() {
  int64_t message[3];
  ssize_t n;
  // A bounded number at a time: the compositor's events are read between
  // two helpings, however fast they come.
  for (int taken = 0; taken < 64 && (n = recv(instanceSocket_, message,
                                              sizeof message, 0)) > 0;
       ++taken) {
    if (n != sizeof message)
      continue;
    // Another Flinto: private messages only, to our hidden owner window.
    const UINT msg = UINT(message[0]);
    const HWND owner = FindWindowA("FlintoHidden", nullptr);
    if (msg >= WM_USER && msg <= 0x7FFF && owner != nullptr)
      portable::PostMessageOnce(owner, msg, WPARAM(message[1]),
                                LPARAM(message[2]));
  }
}

HWND WaylandDriver::FindForeignWindow(const std::string &className) {
  if (className != "FlintoHidden" || instanceSocket_ >= 0)
    return nullptr;
  const std::string path = InstanceAddress();
  if (path.empty() || !SomeoneListensAt(path))
    return nullptr;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
      st.st_uid != getuid()) {
    std::fprintf(stderr, "flinto: %s is not a Flinto's socket; starting\n",
                 path.c_str());
    return nullptr;
  }
  for (const auto &[hwnd, p] : instances_)
    if (p == path && IsWindow(hwnd))
      return hwnd;
  HWND hwnd = portable::RegisterForeignWindow(className, "", RECT{0, 0, 0, 0});
  instances_[hwnd] = path;
  return hwnd;
}

bool WaylandDriver::PostForeign(HWND hwnd, UINT msg, WPARAM wParam,
                                LPARAM lParam) {
  auto it = instances_.find(hwnd);
  if (it == instances_.end())
    return false;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  sockaddr_un address;
  const socklen_t length = SocketAddress(it->second, &address);
  const int64_t message[3] = {int64_t(msg), int64_t(wParam), int64_t(lParam)};
  // Never held up by a Flinto that does not read its socket.
  const bool sent = sendto(fd, message, sizeof message, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr *>(&address),
                           length) == ssize_t(sizeof message);
  close(fd);
  return sent;
}

} // namespace wayland
