// Starts a program and says how long it took to put its first window on
// the X display: "MICROSECONDS PID" from the fork to the first MapNotify on
// the root window (an override-redirect window's own, or a window
// manager's frame). The program keeps running, its output going nowhere;
// status 1 if nothing was mapped within 20 seconds.
//
// usage: first-map COMMAND [ARGUMENT...]
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

int64_t NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: first-map COMMAND [ARGUMENT...]\n");
    return 2;
  }
  Display *display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "first-map: no X display\n");
    return 2;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  const int64_t start = NowUs();
  const pid_t pid = fork();
  if (pid == 0) {
    // (Its output goes nowhere: whoever reads ours would wait for it.)
    close(ConnectionNumber(display));
    const int none = open("/dev/null", O_RDWR);
    dup2(none, 1);
    dup2(none, 2);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  if (pid < 0)
    return 2;
  const int64_t deadline = start + 20 * 1000000;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify) {
        std::printf("%lld %d\n", static_cast<long long>(NowUs() - start),
                    static_cast<int>(pid));
        return 0;
      }
    }
    const int64_t left = deadline - NowUs();
    if (left <= 0)
      break;
    pollfd p = {ConnectionNumber(display), POLLIN, 0};
    poll(&p, 1, int(left / 1000) + 1);
  }
  std::printf("- %d\n", static_cast<int>(pid));
  return 1;
}
