// A client that does to Flinto what other clients may do: destroys one of
// its windows, holds the selection by which one Flinto finds another, and
// tells which keys the server has down.
//
//   flinto-hostile destroy WINDOW      destroys the window
//   flinto-hostile squat SELECTION     holds the selection with a window of
//                                      its own until killed; prints "ready"
//   flinto-hostile owner SELECTION     prints the selection's owner window
//   flinto-hostile keys                prints the keycodes that are down
//   flinto-hostile lock caps 0|1       Caps Lock off or on, as another
//                                      keyboard would set it
//   flinto-hostile lock group N        locks the keymap's group N (0 to 3)
//   flinto-hostile popup X Y W H       maps a red override-redirect window
//                                      (as a menu or a candidate list) until
//                                      killed; prints its id
//   flinto-hostile stack               prints the root's children, bottom
//                                      to top
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  if (argc < 2)
    return 2;
  Display *dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr)
    return 1;
  if (std::strcmp(argv[1], "destroy") == 0 && argc == 3) {
    XDestroyWindow(dpy, Window(std::strtoul(argv[2], nullptr, 0)));
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return 0;
  }
  if (std::strcmp(argv[1], "squat") == 0 && argc == 3) {
    const Window w =
        XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XClassHint hint;
    char name[] = "squatter", cls[] = "Squatter";
    hint.res_name = name;
    hint.res_class = cls;
    XSetClassHint(dpy, w, &hint);
    XSetSelectionOwner(dpy, XInternAtom(dpy, argv[2], False), w, CurrentTime);
    XSync(dpy, False);
    std::printf("ready\n");
    std::fflush(stdout);
    while (true) {
      XEvent e;
      XNextEvent(dpy, &e); // messages sent to it are taken and dropped
    }
  }
  if (std::strcmp(argv[1], "owner") == 0 && argc == 3) {
    std::printf("0x%lx\n",
                XGetSelectionOwner(dpy, XInternAtom(dpy, argv[2], False)));
    XCloseDisplay(dpy);
    return 0;
  }
  if (std::strcmp(argv[1], "keys") == 0) {
    char keys[32];
    XQueryKeymap(dpy, keys);
    for (int code = 8; code < 256; ++code)
      if ((keys[code / 8] >> (code % 8)) & 1)
        std::printf("%d\n", code);
    XCloseDisplay(dpy);
    return 0;
  }
  if (std::strcmp(argv[1], "popup") == 0 && argc == 6) {
    XSetWindowAttributes a;
    a.override_redirect = True;
    a.background_pixel = 0xFF0000;
    const Window w = XCreateWindow(
        dpy, DefaultRootWindow(dpy), std::atoi(argv[2]), std::atoi(argv[3]),
        unsigned(std::atoi(argv[4])), unsigned(std::atoi(argv[5])), 0,
        CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel, &a);
    XClassHint hint;
    char name[] = "popup", cls[] = "FlintoTestPopup";
    hint.res_name = name;
    hint.res_class = cls;
    XSetClassHint(dpy, w, &hint);
    XMapRaised(dpy, w);
    XSync(dpy, False);
    std::printf("0x%lx\n", w);
    std::fflush(stdout);
    while (true) {
      XEvent e;
      XNextEvent(dpy, &e);
    }
  }
  if (std::strcmp(argv[1], "stack") == 0) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children,
                   &count)) {
      for (unsigned i = 0; i < count; ++i)
        std::printf("0x%lx\n", children[i]);
      if (children != nullptr)
        XFree(children);
    }
    XCloseDisplay(dpy);
    return 0;
  }
  if (std::strcmp(argv[1], "lock") == 0 && argc == 4) {
    const unsigned n = unsigned(std::strtoul(argv[3], nullptr, 0));
    Bool done = False;
    if (std::strcmp(argv[2], "caps") == 0)
      done =
          XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, n != 0 ? LockMask : 0);
    else if (std::strcmp(argv[2], "group") == 0)
      done = XkbLockGroup(dpy, XkbUseCoreKbd, n);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return done ? 0 : 2;
  }
  XCloseDisplay(dpy);
  return 2;
}
