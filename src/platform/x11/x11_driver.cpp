#include "platform/x11/x11_driver.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/clock.h"
#include "platform/linux/poll_timeout.h"
#include "platform/linux/signals.h"
#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/text.h"
#include "platform/resources/icon.h"
#include "platform/x11/compositor_keys.h"

namespace x11 {

namespace {

X11Driver *instance = nullptr;

int lastError = 0;

int IgnoreErrors(Display *, XErrorEvent *error) {
  // A window that vanished, a property another client broke: the call that
  // failed simply had no effect.
  lastError = error->error_code;
  return 0;
}

int ConnectionLost(Display *) {
  if (instance != nullptr)
    instance->LetGoAfterLoss();
  if (instance != nullptr && instance->onConnectionLost)
    instance->onConnectionLost();
  std::fprintf(stderr, "flinto: the connection to the X server was lost; "
                       "the settings were saved\n");
  std::fflush(stderr);
  std::_Exit(1);
}

} // namespace

int X11Driver::TakeXError() {
  const int error = lastError;
  lastError = 0;
  return error;
}

std::unique_ptr<X11Driver> X11Driver::Open(const char *name,
                                           std::string *error) {
  std::unique_ptr<X11Driver> driver(new X11Driver());
  if (!driver->Init(name, error))
    return nullptr;
  return driver;
}

std::vector<long> X11Driver::Property(::Window window, const char *name,
                                      ::Atom type, long offset, long count) {
  std::vector<long> values;
  ::Atom actual;
  int format;
  unsigned long n, after;
  unsigned char *data = nullptr;
  if (XGetWindowProperty(dpy_, window, atom(name), offset, count, False, type,
                         &actual, &format, &n, &after, &data) == Success &&
      data != nullptr && format == 32)
    values.assign(reinterpret_cast<long *>(data),
                  reinterpret_cast<long *>(data) + n);
  if (data != nullptr)
    XFree(data);
  return values;
}

::Atom X11Driver::atom(const char *name) {
  auto it = atoms_.find(name);
  if (it != atoms_.end())
    return it->second;
  const ::Atom a = XInternAtom(dpy_, name, False);
  atoms_[name] = a;
  return a;
}

// Every name the host asks the server for, in one round trip rather than
// one each (a start waited for some thirty replies).
void X11Driver::InternAtoms() {
  std::vector<std::string> names = {"Kana",
                                    "MANAGER",
                                    "UTF8_STRING",
                                    "WM_DELETE_WINDOW",
                                    "WM_PROTOCOLS",
                                    "WM_STATE",
                                    "_FLINTO_NO_REPEAT",
                                    "_FLINTO_POST",
                                    "_FLINTO_XTEST_REPEAT",
                                    "_MOTIF_WM_HINTS",
                                    "_NET_ACTIVE_WINDOW",
                                    "_NET_CURRENT_DESKTOP",
                                    "_NET_SUPPORTING_WM_CHECK",
                                    "_NET_SYSTEM_TRAY_OPCODE",
                                    "_NET_WM_NAME",
                                    "_NET_WM_STATE",
                                    "_NET_WM_STATE_ABOVE",
                                    "_NET_WM_STATE_SKIP_PAGER",
                                    "_NET_WM_STATE_SKIP_TASKBAR",
                                    "_NET_WM_STRUT",
                                    "_NET_WM_STRUT_PARTIAL",
                                    "_NET_WM_USER_TIME",
                                    "_NET_WM_WINDOW_OPACITY",
                                    "_NET_WM_WINDOW_TYPE",
                                    "_NET_WM_WINDOW_TYPE_DOCK",
                                    "_NET_WM_WINDOW_TYPE_UTILITY",
                                    "_NET_WORKAREA",
                                    "_XEMBED_INFO",
                                    "_GTK_WORKAREAS_D0",
                                    InstanceSelection()};
  for (const char *format : {"_NET_WM_CM_S%d", "_NET_SYSTEM_TRAY_S%d"}) {
    char name[64];
    std::snprintf(name, sizeof name, format, screen_);
    names.push_back(name);
  }
  std::vector<char *> pointers;
  for (std::string &n : names)
    pointers.push_back(n.data());
  std::vector<::Atom> atoms(names.size(), None);
  if (XInternAtoms(dpy_, pointers.data(), int(pointers.size()), False,
                   atoms.data()) == 0)
    return; // (each is asked for alone when used)
  for (size_t i = 0; i < names.size(); ++i)
    if (atoms[i] != None)
      atoms_[names[i]] = atoms[i];
}

bool X11Driver::Init(const char *name, std::string *error) {
  dpy_ = XOpenDisplay(name);
  if (dpy_ == nullptr) {
    *error = "cannot open the X display";
    if (const char *d = name != nullptr ? name : std::getenv("DISPLAY"))
      *error += std::string(" \"") + d + "\"";
    else
      *error += " (DISPLAY is not set)";
    return false;
  }
  instance = this;
  displayName_ = DisplayString(dpy_);
  XSetErrorHandler(IgnoreErrors);
  XSetIOErrorHandler(ConnectionLost);
  screen_ = DefaultScreen(dpy_);
  root_ = RootWindow(dpy_, screen_);
  visual_ = DefaultVisual(dpy_, screen_);
  depth_ = DefaultDepth(dpy_, screen_);
  directPixels_ = (depth_ == 24 || depth_ == 32) &&
                  visual_->red_mask == 0xFF0000 &&
                  visual_->green_mask == 0xFF00 && visual_->blue_mask == 0xFF &&
                  ImageByteOrder(dpy_) == LSBFirst;
  gc_ = XCreateGC(dpy_, root_, 0, nullptr);
  InternAtoms();

  // (Only whether it is there: the XTest library asks for its version, and
  // for XInput's, at the first key it sends.)
  int opcode, event, errorBase;
  if (!XQueryExtension(dpy_, "XTEST", &opcode, &event, &errorBase)) {
    *error = "the X server has no XTEST extension to send key events with";
    return false;
  }
  int xkbError;
  int major = XkbMajorVersion;
  int minor = XkbMinorVersion;
  if (!XkbQueryExtension(dpy_, &opcode, &xkbEvent_, &xkbError, &major,
                         &minor)) {
    *error = "the X server has no XKB extension";
    return false;
  }
  XkbSelectEvents(
      dpy_, XkbUseCoreKbd,
      XkbStateNotifyMask | XkbIndicatorStateNotifyMask | XkbMapNotifyMask |
          XkbNewKeyboardNotifyMask | XkbControlsNotifyMask,
      XkbStateNotifyMask | XkbIndicatorStateNotifyMask | XkbMapNotifyMask |
          XkbNewKeyboardNotifyMask | XkbControlsNotifyMask);
  XkbStateRec state;
  if (XkbGetState(dpy_, XkbUseCoreKbd, &state) == Success) {
    xkbMods_ = state.mods;
    xkbLocked_ = state.locked_mods;
    xkbGroup_ = state.group;
  }
  ReadKeyboardMap();

  // Substructure: the top-level windows' maps and restacks, after which
  // the keyboard finds its place again (see PlaceKeyboard).
  XSelectInput(dpy_, root_,
               PropertyChangeMask | StructureNotifyMask |
                   SubstructureNotifyMask);
  ReadWindowManager();
  char cm[64];
  std::snprintf(cm, sizeof cm, "_NET_WM_CM_S%d", screen_);
  compositor_ = XGetSelectionOwner(dpy_, atom(cm)) != None;
  WatchMonitors();
  ReadWorkArea();
  ReadActiveWindow();

  ::Window rootReturn, child;
  int rx = 0, ry = 0, wx, wy;
  unsigned mask;
  if (XQueryPointer(dpy_, root_, &rootReturn, &child, &rx, &ry, &wx, &wy,
                    &mask))
    pointer_ = {rx, ry};

  signalFd_ = linuxhost::CatchTermination();
  return true;
}

X11Driver::~X11Driver() {
  DropKeyPath();
  if (dpy_ != nullptr) {
    RestoreServerRepeat();
    if (trayWindow_ != 0)
      XDestroyWindow(dpy_, trayWindow_);
    for (auto &[hwnd, xid] : own_)
      XDestroyWindow(dpy_, xid);
    if (gc_ != nullptr)
      XFreeGC(dpy_, gc_);
    XSetIOErrorHandler(nullptr);
    XCloseDisplay(dpy_);
  }
  instance = nullptr;
}

::Window X11Driver::XidOf(HWND hwnd) const {
  auto it = own_.find(hwnd);
  if (it != own_.end())
    return it->second;
  auto f = foreignXid_.find(hwnd);
  return f != foreignXid_.end() ? f->second : 0;
}

uint64_t X11Driver::Now() { return linuxhost::MonotonicMs(); }

void X11Driver::Wait(uint64_t deadline) {
  if (!keysPrepared_) {
    XFlush(dpy_); // the first picture first
    PrepareKeys();
  }
  // Once for all the stacking changes read, when the program has drawn
  // what they brought: a window dragged over the keyboard sends many.
  if (restackWanted_ && !menuOpen_) {
    restackWanted_ = false;
    XFlush(dpy_);
    for (::Window k : keyboards_)
      PlaceKeyboard(k);
  }
  PumpEvents(deadline, 0, nullptr);
}

// Events already read are handled without a poll (PumpEvents looks at the
// connection only when none is queued).
bool X11Driver::DeliverReadInput() {
  if (XEventsQueued(dpy_, QueuedAlready) == 0)
    return false;
  PumpEvents(UINT64_MAX, 0, nullptr);
  return true;
}

void X11Driver::PumpEvents(uint64_t deadline, ::Window window,
                           const std::function<void(XEvent &)> &handler) {
  // Only what is already read is looked at before sleeping, and the
  // connection is read only when poll says there is something: a tick that
  // finds nothing to do costs one poll and no other system call. What was
  // asked of the server goes out only before sleeping: input already read
  // is handled first, so a click's press, release and picture go together.
  // (Writing may read: what came meanwhile is looked at before sleeping.)
  if (XEventsQueued(dpy_, QueuedAlready) == 0)
    XFlush(dpy_);
  if (XEventsQueued(dpy_, QueuedAlready) == 0) {
    // Without a window manager nothing announces a new focus: while the
    // program relies on being told (its hook), the focus is looked at four
    // times a second.
    if (!wmPresent_ && portable::HasForegroundHook()) {
      const uint64_t look = Now() + 250;
      if (deadline > look)
        deadline = look;
      focusLookDue_ = true;
    }
    deadline = std::min(deadline, NextLetGo());
    const int timeout = linuxhost::PollTimeout(deadline, Now());
    pollfd fds[3] = {{ConnectionNumber(dpy_), POLLIN, 0},
                     {signalFd_, POLLIN, 0},
                     {-1, 0, 0}};
    if (keyPath_ != nullptr)
      fds[2] = {keyPathApi_->fd(keyPath_), keyPathApi_->events(keyPath_), 0};
    const int n = poll(fds, 3, timeout);
    if (n > 0 && fds[2].revents != 0)
      ProcessKeyPath();
    LetGoHeldKeys();
    if (n > 0 && (fds[1].revents & POLLIN) &&
        linuxhost::TerminationRequested() && onTerminate)
      onTerminate();
    if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
      XEventsQueued(dpy_, QueuedAfterReading);
    if (focusLookDue_) {
      focusLookDue_ = false;
      ReadActiveWindow();
    }
  }
  while (XEventsQueued(dpy_, QueuedAlready) > 0) {
    XEvent event;
    XNextEvent(dpy_, &event);
    if (window != 0 && event.xany.window == window && handler)
      handler(event);
    else
      Handle(event);
    // Input is routed by the state the program is in when it gets there:
    // a press that starts a drag takes the capture before the next move is
    // looked at.
    if (portable::HasQueuedMessages())
      break;
  }
}

void X11Driver::ScreenSize(int *width, int *height) {
  *width = screenWidth_ > 0 ? screenWidth_ : DisplayWidth(dpy_, screen_);
  *height = screenHeight_ > 0 ? screenHeight_ : DisplayHeight(dpy_, screen_);
}

// The window manager announces itself by this property, on a window that
// goes with it.
void X11Driver::ReadWindowManager() {
  const std::vector<long> check =
      Property(root_, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 0, 1);
  wmPresent_ = check.size() == 1 && check[0] != 0;
  wmCheck_ = wmPresent_ ? ::Window(check[0]) : 0;
  if (wmCheck_ != 0)
    XSelectInput(dpy_, wmCheck_, StructureNotifyMask);
}

HWND X11Driver::HwndForXid(::Window xid) {
  if (xid == None || xid == root_)
    return nullptr;
  auto own = ownByXid_.find(xid);
  if (own != ownByXid_.end())
    return own->second;
  auto known = foreign_.find(xid);
  if (known != foreign_.end())
    return known->second;
  // A window of another client: its class, and whether it is a dock (the
  // taskbar of this desktop).
  std::string className = "X11Window";
  XClassHint hint;
  if (XGetClassHint(dpy_, xid, &hint)) {
    if (hint.res_class != nullptr)
      className = hint.res_class;
    if (hint.res_name != nullptr)
      XFree(hint.res_name);
    if (hint.res_class != nullptr)
      XFree(hint.res_class);
  }
  for (long type : Property(xid, "_NET_WM_WINDOW_TYPE", XA_ATOM, 0, 16))
    if (::Atom(type) == atom("_NET_WM_WINDOW_TYPE_DOCK"))
      className = "Shell_TrayWnd";
  XWindowAttributes attributes;
  RECT rect = {0, 0, 0, 0};
  if (XGetWindowAttributes(dpy_, xid, &attributes)) {
    ::Window child;
    int x = 0, y = 0;
    XTranslateCoordinates(dpy_, xid, root_, 0, 0, &x, &y, &child);
    rect = {x, y, x + attributes.width, y + attributes.height};
  }
  // Told when it goes, so that a closed target is noticed.
  XSelectInput(dpy_, xid, StructureNotifyMask);
  HWND hwnd = portable::RegisterForeignWindow(className, "", rect);
  foreign_[xid] = hwnd;
  foreignXid_[hwnd] = xid;
  return hwnd;
}

void X11Driver::ReadActiveWindow() {
  const HWND before = foreground_;
  ::Window active = None;
  if (wmPresent_) {
    const std::vector<long> v =
        Property(root_, "_NET_ACTIVE_WINDOW", XA_WINDOW, 0, 1);
    if (v.size() == 1)
      active = ::Window(v[0]);
  } else {
    int revert;
    XGetInputFocus(dpy_, &active, &revert);
    if (active == PointerRoot)
      active = None;
  }
  foreground_ = HwndForXid(active);
  // A click on the tray icon can make the window manager activate the panel
  // that holds it, after the click has already been handled. Right after a
  // tray click, the panel is not let keep the foreground: the window that
  // had it gets it back, as the click's own handling would have done.
  if (foreground_ != nullptr && trayClickForeground_ != nullptr &&
      Now() - trayClickTime_ < 1000 && foreground_ != trayClickForeground_) {
    const std::string *cls = portable::WindowClassName(foreground_);
    if (cls != nullptr && *cls == "Shell_TrayWnd" &&
        IsWindow(trayClickForeground_))
      SetForeground(trayClickForeground_);
  }
  if (foreground_ != before) {
    // The window manager raises what it activates: the keyboard goes back
    // over it.
    if (!menuOpen_)
      for (::Window k : keyboards_)
        PlaceKeyboard(k);
    portable::ForegroundChanged(foreground_);
  }
}

bool X11Driver::SendClientMessage(::Window destination, ::Window about,
                                  const char *type,
                                  std::initializer_list<long> data, long mask) {
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = about;
  e.xclient.message_type = atom(type);
  e.xclient.format = 32;
  int i = 0;
  for (long value : data)
    if (i < 5)
      e.xclient.data.l[i++] = value;
  return XSendEvent(dpy_, destination, False, mask, &e) != 0;
}

HWND X11Driver::Foreground() {
  // Without a window manager nothing announces the focus: ask.
  if (!wmPresent_)
    ReadActiveWindow();
  return foreground_;
}

bool X11Driver::SetForeground(HWND hwnd) {
  if (hwnd == nullptr)
    return false;
  if (own_.count(hwnd))
    return true; // our windows never take the focus
  const ::Window xid = XidOf(hwnd);
  if (xid == 0)
    return false;
  if (wmPresent_) {
    // Source 2: a pager or similar tool asks.
    SendClientMessage(root_, xid, "_NET_ACTIVE_WINDOW", {2, long(lastTime_)},
                      SubstructureRedirectMask | SubstructureNotifyMask);
  } else {
    XSetInputFocus(dpy_, xid, RevertToParent, CurrentTime);
    foreground_ = hwnd;
  }
  XFlush(dpy_);
  return true;
}

HWND X11Driver::WindowAt(POINT point) {
  // Where the pointer is, Enter and Leave have told us; elsewhere, our own
  // windows by their rectangles.
  if (point.x == pointer_.x && point.y == pointer_.y)
    return pointerIn_;
  return portable::OwnWindowAt(point);
}

// --- Events ------------------------------------------------------------

void X11Driver::Handle(XEvent &event) {
  if (event.type == xkbEvent_) {
    HandleXkb(event);
    return;
  }
  if (HandleRandr(event))
    return;
  switch (event.type) {
  case ButtonPress:
  case ButtonRelease:
    lastTime_ = event.xbutton.time;
    break;
  case MotionNotify:
    lastTime_ = event.xmotion.time;
    break;
  case EnterNotify:
  case LeaveNotify:
    lastTime_ = event.xcrossing.time;
    break;
  case PropertyNotify:
    lastTime_ = event.xproperty.time;
    break;
  default:
    break;
  }
  if (trayWindow_ != 0 && event.xany.window == trayWindow_) {
    HandleTrayEvent(event);
    return;
  }
  if (event.xany.window == root_) {
    // A top-level window mapped or restacked by someone else: where the
    // keyboard belongs may have changed. (Under a compositing manager the
    // server never says that the keyboard is covered.)
    const ::Window about =
        event.type == MapNotify         ? event.xmap.window
        : event.type == ConfigureNotify ? event.xconfigure.window
        : event.type == CirculateNotify ? event.xcirculate.window
                                        : root_;
    if (about != root_) {
      if (!ownByXid_.count(about))
        restackWanted_ = true;
      if (event.type == MapNotify && !workAreaKnown_)
        StrutsMayHaveChanged();
      return;
    }
    if (event.type == UnmapNotify && !workAreaKnown_) {
      StrutsMayHaveChanged();
      return;
    }
    if (event.type == ConfigureNotify &&
        (event.xconfigure.width != screenWidth_ ||
         event.xconfigure.height != screenHeight_)) {
      // The screen changed size (RandR): the program checks that the
      // keyboard is still in reach.
      screenWidth_ = event.xconfigure.width;
      screenHeight_ = event.xconfigure.height;
      monitorsStale_ = true;
      portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 24,
                                      MAKELPARAM(screenWidth_, screenHeight_));
    } else if (event.type == PropertyNotify) {
      const ::Atom a = event.xproperty.atom;
      if (a == atom("_NET_ACTIVE_WINDOW")) {
        ReadActiveWindow();
      } else if (a == atom("_NET_WORKAREA") ||
                 a == atom("_NET_CURRENT_DESKTOP") ||
                 a == atom(gtkWorkAreas_.c_str())) {
        ReadWorkArea();
        portable::PostToTopLevelWindows(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
      } else if (a == atom("_NET_SUPPORTING_WM_CHECK")) {
        ReadWindowManager(); // a window manager (re)starts
        ReadActiveWindow();
      }
    } else if (event.type == ClientMessage &&
               event.xclient.message_type == atom("MANAGER")) {
      char name[64];
      std::snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", screen_);
      if (::Atom(event.xclient.data.l[1]) == atom(name)) {
        Dock(); // a tray has appeared (or started again)
        if (trayManager_ != 0)
          portable::TrayCreated();
      }
    }
    return;
  }
  if (event.type == DestroyNotify) {
    const ::Window gone = event.xdestroywindow.window;
    if (gone == wmCheck_ && wmCheck_ != 0) {
      // The window manager went away (killed or being replaced): the input
      // focus is the foreground until one announces itself again.
      wmPresent_ = false;
      wmCheck_ = 0;
      ReadActiveWindow();
    }
    if (gone == trayManager_)
      TrayLost();
    if (ownByXid_.count(gone)) {
      WindowTakenAway(gone);
      return;
    }
    auto f = foreign_.find(gone);
    if (f != foreign_.end()) {
      if (foreground_ == f->second)
        foreground_ = nullptr;
      portable::ForgetForeignWindow(f->second);
      foreignXid_.erase(f->second);
      foreign_.erase(f);
    }
    return;
  }
  if (event.type == MappingNotify) {
    XRefreshKeyboardMapping(&event.xmapping);
    return;
  }
  if (event.type == SelectionClear) {
    SelectionLost(event.xselectionclear);
    return;
  }
  auto own = ownByXid_.find(event.xany.window);
  if (own == ownByXid_.end())
    return;
  HWND hwnd = own->second;
  switch (event.type) {
  case ConfigureNotify: {
    // Moved by someone else (a pager, a window manager): the program
    // follows, so that clicks land on the keys drawn and the position saved
    // is where the keyboard is.
    int x = event.xconfigure.x, y = event.xconfigure.y;
    ::Window child;
    if (!event.xconfigure.send_event &&
        event.xconfigure.override_redirect == False)
      XTranslateCoordinates(dpy_, event.xconfigure.window, root_, 0, 0, &x, &y,
                            &child);
    RECT now;
    GetWindowRect(hwnd, &now);
    if (x != now.left || y != now.top)
      portable::WindowMovedByHost(hwnd, x, y);
    break;
  }
  case VisibilityNotify:
    if (event.xvisibility.state != VisibilityUnobscured &&
        keyboards_.count(event.xany.window))
      restackWanted_ = true;
    break;
  case Expose: {
    const RECT r = {event.xexpose.x, event.xexpose.y,
                    event.xexpose.x + event.xexpose.width,
                    event.xexpose.y + event.xexpose.height};
    InvalidateRect(hwnd, &r, FALSE);
    break;
  }
  case ButtonPress:
  case ButtonRelease: {
    pointer_ = {event.xbutton.x_root, event.xbutton.y_root};
    const bool press = event.type == ButtonPress;
    UINT message = 0;
    if (event.xbutton.button == Button1)
      message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    else if (event.xbutton.button == Button3)
      message = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    else if (event.xbutton.button == Button2)
      message = press ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    if (message != 0)
      portable::DeliverPointer(message, pointer_);
    break;
  }
  case MotionNotify:
    pointer_ = {event.xmotion.x_root, event.xmotion.y_root};
    portable::DeliverPointer(WM_MOUSEMOVE, pointer_);
    break;
  case EnterNotify:
    pointer_ = {event.xcrossing.x_root, event.xcrossing.y_root};
    pointerIn_ = hwnd;
    portable::DeliverPointer(WM_MOUSEMOVE, pointer_);
    break;
  case LeaveNotify:
    pointer_ = {event.xcrossing.x_root, event.xcrossing.y_root};
    if (pointerIn_ == hwnd)
      pointerIn_ = nullptr;
    break;
  case ClientMessage:
    if (event.xclient.message_type == atom("WM_PROTOCOLS") &&
        ::Atom(event.xclient.data.l[0]) == atom("WM_DELETE_WINDOW")) {
      PostMessageA(hwnd, WM_CLOSE, 0, 0);
    } else if (event.xclient.message_type == atom("_FLINTO_POST")) {
      // Another Flinto: private messages only.
      const UINT msg = UINT(event.xclient.data.l[0]);
      if (msg >= WM_USER && msg <= 0x7FFF)
        PostMessageA(hwnd, msg, WPARAM(event.xclient.data.l[1]),
                     LPARAM(event.xclient.data.l[2]));
    }
    break;
  default:
    break;
  }
}

} // namespace x11
