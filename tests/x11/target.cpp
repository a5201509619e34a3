// A small X client that keeps the keyboard focus and logs every key event it
// receives, one line each:
//   press keycode=38 keysym=a state=0x0 text=a
// With an argument, the log goes to that file (flushed line by line).
// With TARGET_XIM set, it types through the locale's input method (XIM, as
// xterm does): each text the input method commits is logged as
//   commit text=日本語
// and the key events the input method takes are not logged.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

int IgnoreErrors(Display *, XErrorEvent *) { return 0; }

int main(int argc, char **argv) {
  Display *dpy = XOpenDisplay(nullptr);
  XSetErrorHandler(IgnoreErrors);
  if (dpy == nullptr) {
    std::fprintf(stderr, "target: no display\n");
    return 1;
  }
  FILE *log = argc > 1 ? std::fopen(argv[1], "w") : stdout;
  if (log == nullptr)
    return 1;
  const int screen = DefaultScreen(dpy);
  Window w =
      XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 50, 50, 500, 300, 0,
                          BlackPixel(dpy, screen), WhitePixel(dpy, screen));
  XClassHint hint;
  char name[] = "flinto-target", cls[] = "FlintoTarget";
  hint.res_name = name;
  hint.res_class = cls;
  XSetClassHint(dpy, w, &hint);
  XStoreName(dpy, w, "Flinto test target");
  XWMHints *wm = XAllocWMHints();
  wm->flags = InputHint;
  wm->input = True;
  XSetWMHints(dpy, w, wm);
  XFree(wm);
  XSelectInput(dpy, w,
               KeyPressMask | KeyReleaseMask | FocusChangeMask | ExposureMask |
                   StructureNotifyMask);
  XIM im = nullptr;
  XIC ic = nullptr;
  if (std::getenv("TARGET_XIM") != nullptr) {
    std::setlocale(LC_ALL, "");
    XSetLocaleModifiers("");
    im = XOpenIM(dpy, nullptr, nullptr, nullptr);
    if (im != nullptr)
      ic = XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                     XNClientWindow, w, XNFocusWindow, w, nullptr);
    if (ic == nullptr) {
      std::fprintf(stderr, "target: no input method for the locale\n");
      return 1;
    }
    long mask = 0;
    XGetICValues(ic, XNFilterEvents, &mask, nullptr);
    XSelectInput(dpy, w,
                 KeyPressMask | KeyReleaseMask | FocusChangeMask |
                     ExposureMask | StructureNotifyMask | mask);
  }
  XMapRaised(dpy, w);
  GC gc = XCreateGC(dpy, w, 0, nullptr);
  XSetForeground(dpy, gc, BlackPixel(dpy, screen));
  std::string typed; // what the key presses typed, drawn in the window
  auto draw = [&] {
    XClearWindow(dpy, w);
    const char *heading = "Typed here:";
    XDrawString(dpy, w, gc, 20, 30, heading, int(std::strlen(heading)));
    XDrawString(dpy, w, gc, 20, 60, typed.c_str(), int(typed.size()));
    XFlush(dpy);
  };
  std::fprintf(log, "ready window=0x%lx\n", w);
  std::fflush(log);
  for (;;) {
    XEvent e;
    XNextEvent(dpy, &e);
    if (ic != nullptr && XFilterEvent(&e, None))
      continue; // the input method's
    if (ic != nullptr && e.type == KeyPress) {
      char text[256];
      KeySym sym = 0;
      Status status = 0;
      const int n =
          Xutf8LookupString(ic, &e.xkey, text, sizeof text - 1, &sym, &status);
      if ((status == XLookupChars || status == XLookupBoth) && n > 0) {
        text[n] = '\0';
        std::fprintf(log, "commit text=%s\n", text);
        std::fflush(log);
      }
    }
    if (ic != nullptr && (e.type == FocusIn || e.type == FocusOut)) {
      if (e.type == FocusIn)
        XSetICFocus(ic);
      else
        XUnsetICFocus(ic);
    }
    if (e.type == MapNotify) {
      // Ask the window manager for the focus, as a user's click would.
      XEvent a;
      std::memset(&a, 0, sizeof a);
      a.xclient.type = ClientMessage;
      a.xclient.window = w;
      a.xclient.message_type = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
      a.xclient.format = 32;
      a.xclient.data.l[0] = 1;
      XSendEvent(dpy, RootWindow(dpy, screen), False,
                 SubstructureRedirectMask | SubstructureNotifyMask, &a);
      XFlush(dpy);
    } else if (e.type == Expose && e.xexpose.count == 0) {
      draw();
    } else if (e.type == FocusIn || e.type == FocusOut) {
      std::fprintf(log, "%s\n", e.type == FocusIn ? "focus in" : "focus out");
      std::fflush(log);
    } else if (e.type == KeyPress || e.type == KeyRelease) {
      char text[32] = {0};
      KeySym sym = 0;
      const int n =
          XLookupString(&e.xkey, text, sizeof text - 1, &sym, nullptr);
      text[n > 0 ? n : 0] = '\0';
      const char *symName = XKeysymToString(XkbKeycodeToKeysym(
          dpy, KeyCode(e.xkey.keycode), 0, (e.xkey.state & ShiftMask) ? 1 : 0));
      (void)sym;
      timespec now;
      clock_gettime(CLOCK_REALTIME, &now);
      std::fprintf(log, "%s keycode=%u keysym=%s state=0x%x text=%s\n",
                   e.type == KeyPress ? "press" : "release", e.xkey.keycode,
                   symName != nullptr ? symName : "NoSymbol", e.xkey.state,
                   text);
      if (std::getenv("TARGET_TIMES") != nullptr)
        std::fprintf(log, "at %lld\n",
                     (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000);
      std::fflush(log);
      if (e.type == KeyPress && n == 1 && text[0] >= 0x20 && text[0] < 0x7F) {
        typed += text[0];
        draw();
      }
    }
  }
}
