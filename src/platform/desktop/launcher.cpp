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

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/desktop/host_choice.h"

namespace {

// Runs `name` from `folder` (ending in '/'), then from where it is
// installed relative to this program. Returns only when neither runs,
// with the reason for the last path tried in `why` and the path in
// `tried`.
void Run(const char *folder, const char *name, char **argv, char *tried,
         size_t triedSize, int *why) {
  const char *const places[] = {"", FLINTO_PROGRAMS_INSTALLED};
  for (const char *under : places) {
    const int n =
        std::snprintf(tried, triedSize, "%s%s%s", folder, under, name);
    if (n <= 0 || size_t(n) >= triedSize) {
      *why = ENAMETOOLONG;
      continue;
    }
    argv[0] = tried;
    execv(tried, argv);
    *why = errno;
  }
}

} // namespace

int main(int argc, char **argv) {
  // Started with no arguments at all, not even its name: a list of its own.
  char *none[] = {nullptr, nullptr};
  if (argc < 1 || argv[0] == nullptr)
    argv = none;
  char folder[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", folder, sizeof folder);
  if (n <= 0 || size_t(n) >= sizeof folder) {
    std::fputs("flinto: cannot find where this program is "
               "(/proc/self/exe)\n",
               stderr);
    return 1;
  }
  folder[n] = '\0';
  std::strrchr(folder, '/')[1] = '\0';

  char tried[PATH_MAX];
  int why = 0;
  if (desktop::WaylandWanted(std::getenv("FLINTO_HOST"),
                             std::getenv("WAYLAND_DISPLAY")))
    Run(folder, "flinto-wayland", argv, tried, sizeof tried, &why);
  // (Without flinto-wayland, flinto-x11 says so, or runs on X11.)
  Run(folder, "flinto-x11", argv, tried, sizeof tried, &why);
  std::fprintf(stderr, "flinto: the X11 host cannot be run: %s: %s\n", tried,
               std::strerror(why));
  return 1;
}
