// flinto: runs the program for the session, with the same arguments and
// environment: flinto-wayland where a Wayland compositor is named
// ($WAYLAND_DISPLAY, or FLINTO_HOST=wayland), else flinto-x11. Each holds
// one host and loads only that host's libraries; flinto-wayland hands the
// start to flinto-x11, with the reason, when the compositor is not one it
// can run on, and flinto-x11 says what is wrong with FLINTO_HOST.
//
// It is linked statically and uses nothing but a few C functions: it only
// looks at two variables and replaces itself, and a start on either host
// pays for it. Loading the X11 program's libraries just to run the Wayland
// one cost a Wayland start a quarter of its time.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Runs `name` from `folder` (ending in '/'), then from where it is
// installed relative to this program. Returns only when neither runs.
void Run(const char *folder, const char *name, char **argv) {
  const char *const places[] = {"", FLINTO_PROGRAMS_INSTALLED};
  for (const char *under : places) {
    char path[PATH_MAX];
    const int n =
        std::snprintf(path, sizeof path, "%s%s%s", folder, under, name);
    if (n <= 0 || size_t(n) >= sizeof path)
      continue;
    argv[0] = path;
    execv(path, argv);
  }
}

} // namespace

int main(int, char **argv) {
  char folder[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", folder, sizeof folder - 1);
  if (n <= 0) {
    std::fputs("flinto: cannot find where this program is\n", stderr);
    return 1;
  }
  folder[n] = '\0';
  std::strrchr(folder, '/')[1] = '\0';
  char *const self = argv[0];

  const char *host = std::getenv("FLINTO_HOST");
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  const bool hostSet = host != nullptr && *host != '\0';
  const bool toWayland = hostSet ? std::strcmp(host, "wayland") == 0
                                 : wayland != nullptr && *wayland != '\0';
  if (toWayland)
    Run(folder, "flinto-wayland", argv);
  // (Without flinto-wayland, flinto-x11 says so, or runs on X11.)
  Run(folder, "flinto-x11", argv);
  std::fprintf(stderr, "flinto: %s: cannot run flinto-x11 beside it\n", self);
  return 1;
}
