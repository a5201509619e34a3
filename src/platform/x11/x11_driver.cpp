#include "platform/x11/x11_driver.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/signals.h"
#include "platform/portable/text.h"
#include "platform/resources/icon.h"
#include "platform/x11/popup_menu.h"

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

constexpr long kXembedMapped = 1;
constexpr long kSystemTrayRequestDock = 0;
constexpr Time kDoubleClickMs = 500;

// Evdev key codes of a JIS 106/109 keyboard; X keycodes are these plus 8.
} // namespace

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
  useShm_ = XShmQueryExtension(dpy_) == True;

  int event, errorBase, major, minor;
  if (!XTestQueryExtension(dpy_, &event, &errorBase, &major, &minor)) {
    *error = "the X server has no XTEST extension to send key events with";
    return false;
  }
  int opcode, xkbError;
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  if (!XkbQueryExtension(dpy_, &opcode, &xkbEvent_, &xkbError, &major,
                         &minor)) {
    *error = "the X server has no XKB extension";
    return false;
  }
  XkbSelectEvents(dpy_, XkbUseCoreKbd,
                  XkbStateNotifyMask | XkbIndicatorStateNotifyMask |
                      XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                  XkbStateNotifyMask | XkbIndicatorStateNotifyMask |
                      XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
  XkbStateRec state;
  if (XkbGetState(dpy_, XkbUseCoreKbd, &state) == Success) {
    xkbMods_ = state.mods;
    xkbLocked_ = state.locked_mods;
  }
  ReadKeyboardMap();
  StopServerRepeat();

  XSelectInput(dpy_, root_, PropertyChangeMask | StructureNotifyMask);
  ReadWindowManager();
  char cm[64];
  std::snprintf(cm, sizeof cm, "_NET_WM_CM_S%d", screen_);
  compositor_ = XGetSelectionOwner(dpy_, atom(cm)) != None;
  ReadWorkArea();
  ReadActiveWindow();

  ::Window rootReturn, child;
  int rx = 0, ry = 0, wx, wy;
  unsigned mask;
  if (XQueryPointer(dpy_, root_, &rootReturn, &child, &rx, &ry, &wx, &wy,
                    &mask))
    pointer_ = {rx, ry};

  signalFd_ = portable::CatchTermination();
  return true;
}

X11Driver::~X11Driver() {
  if (dpy_ != nullptr) {
    RestoreServerRepeat();
    if (trayWindow_ != 0)
      XDestroyWindow(dpy_, trayWindow_);
    while (!shared_.empty())
      DropSharedImage(shared_.begin()->first);
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

uint64_t X11Driver::Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

void X11Driver::Wait(uint64_t deadline) { PumpEvents(deadline, 0, nullptr); }

void X11Driver::PumpEvents(uint64_t deadline, ::Window window,
                           const std::function<void(XEvent &)> &handler) {
  // Only what is already read is looked at before sleeping, and the
  // connection is read only when poll says there is something: a tick that
  // finds nothing to do costs one poll and no other system call.
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
    int timeout = -1;
    if (deadline != UINT64_MAX) {
      const uint64_t now = Now();
      // Rounded up: waking early would only wait again.
      timeout =
          deadline > now ? int(std::min<uint64_t>(deadline - now, 60000)) : 0;
    }
    pollfd fds[2] = {{ConnectionNumber(dpy_), POLLIN, 0},
                     {signalFd_, POLLIN, 0}};
    const int n = poll(fds, 2, timeout);
    if (n > 0 && (fds[1].revents & POLLIN) &&
        portable::TerminationRequested() && onTerminate)
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

bool X11Driver::WorkArea(RECT *area) {
  if (workAreaKnown_) {
    *area = workArea_;
  } else {
    int w, h;
    ScreenSize(&w, &h);
    *area = {0, 0, w, h};
  }
  return true;
}

void X11Driver::ReadWorkArea() {
  workAreaKnown_ = false;
  const std::vector<long> current =
      Property(root_, "_NET_CURRENT_DESKTOP", XA_CARDINAL, 0, 1);
  long desktop = current.size() == 1 ? current[0] : 0;
  if (desktop < 0 || desktop > 1024)
    desktop = 0;
  const std::vector<long> v =
      Property(root_, "_NET_WORKAREA", XA_CARDINAL, desktop * 4, 4);
  if (v.size() == 4 && v[2] > 0 && v[3] > 0 && v[2] <= 65535 && v[3] <= 65535) {
    workArea_ = {LONG(v[0]), LONG(v[1]), LONG(v[0] + v[2]), LONG(v[1] + v[3])};
    workAreaKnown_ = true;
  }
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
    // on top.
    if (!menuOpen_)
      for (::Window k : keyboards_)
        XRaiseWindow(dpy_, k);
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

bool X11Driver::Tray(DWORD message, const NOTIFYICONDATAA &data) {
  if (message == NIM_MODIFY)
    return trayWindow_ != 0 && trayManager_ != 0;
  if (message == NIM_DELETE) {
    if (trayWindow_ == 0)
      return false;
    XDestroyWindow(dpy_, trayWindow_);
    trayWindow_ = 0;
    XFlush(dpy_);
    return true;
  }
  if (message != NIM_ADD || trayWindow_ != 0)
    return false;
  trayTip_ = data.szTip;
  MakeTrayIcon();
  return trayManager_ != 0;
}

void X11Driver::MakeTrayIcon() {
  XSetWindowAttributes attributes;
  attributes.background_pixel = 0xC0C0C0;
  attributes.event_mask =
      ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
  trayWindow_ = XCreateWindow(dpy_, root_, 0, 0, trayWidth_, trayHeight_, 0,
                              CopyFromParent, InputOutput, CopyFromParent,
                              CWBackPixel | CWEventMask, &attributes);
  XClassHint hint;
  char name[] = "flinto", cls[] = "FlintoTray";
  hint.res_name = name;
  hint.res_class = cls;
  XSetClassHint(dpy_, trayWindow_, &hint);
  XStoreName(dpy_, trayWindow_, trayTip_.c_str());
  XSizeHints *size = XAllocSizeHints();
  size->flags = PMinSize | PBaseSize;
  size->min_width = size->min_height = 16;
  size->base_width = size->base_height = 22;
  XSetWMNormalHints(dpy_, trayWindow_, size);
  XFree(size);
  const long info[2] = {0, kXembedMapped};
  XChangeProperty(dpy_, trayWindow_, atom("_XEMBED_INFO"), atom("_XEMBED_INFO"),
                  32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(info), 2);
  Dock();
}

void X11Driver::Dock() {
  if (trayWindow_ == 0)
    return;
  char name[64];
  std::snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", screen_);
  XGrabServer(dpy_);
  const ::Window manager = XGetSelectionOwner(dpy_, atom(name));
  if (manager != None)
    XSelectInput(dpy_, manager, StructureNotifyMask);
  XUngrabServer(dpy_);
  if (manager == None) {
    TrayLost();
    return;
  }
  trayManager_ = manager;
  // A tray sizes its icons from their size: the icon's own, whatever the
  // last tray made of it.
  trayWidth_ = trayHeight_ = 22;
  XResizeWindow(dpy_, trayWindow_, 22, 22);
  SendClientMessage(
      trayManager_, trayManager_, "_NET_SYSTEM_TRAY_OPCODE",
      {long(lastTime_), kSystemTrayRequestDock, long(trayWindow_)},
      NoEventMask);
  XFlush(dpy_);
}

// The tray the icon was in went away: docked again when the next tray
// announces itself; meanwhile the program is told that its icon is gone.
void X11Driver::TrayLost() {
  if (trayManager_ == 0)
    return;
  trayManager_ = 0;
  portable::TrayGone();
}

void X11Driver::DrawTrayIcon() {
  if (trayWindow_ == 0)
    return;
  const int side = std::max(1, std::min(trayWidth_, trayHeight_));
  const std::vector<uint32_t> pixels = icon::Draw(side);
  XClearWindow(dpy_, trayWindow_);
  PutPixels(trayWindow_, pixels.data(), side, side, side * 4,
            (trayWidth_ - side) / 2, (trayHeight_ - side) / 2, side, side);
}

void X11Driver::HandleTrayEvent(XEvent &event) {
  switch (event.type) {
  case DestroyNotify:
    // Destroyed by another client: a new icon, docked again.
    trayWindow_ = 0;
    trayIconOnRoot_ = true;
    MakeTrayIcon();
    break;
  case ReparentNotify:
    // Out of every tray (one went away, or gave its icons up to another
    // that took over): never left on the desktop as a stray window; docked
    // again where a tray is.
    trayIconOnRoot_ = event.xreparent.parent == root_;
    if (trayIconOnRoot_) {
      XUnmapWindow(dpy_, trayWindow_);
      Dock();
    }
    break;
  case MapNotify:
    // Mapped on the desktop (a tray's save-set gives it back mapped).
    if (trayIconOnRoot_)
      XUnmapWindow(dpy_, trayWindow_);
    break;
  case Expose:
    if (event.xexpose.count == 0)
      DrawTrayIcon();
    break;
  case ConfigureNotify:
    trayWidth_ = event.xconfigure.width;
    trayHeight_ = event.xconfigure.height;
    DrawTrayIcon();
    break;
  case ButtonPress:
    pointer_ = {event.xbutton.x_root, event.xbutton.y_root};
    if (foreground_ != nullptr && !own_.count(foreground_)) {
      const std::string *cls = portable::WindowClassName(foreground_);
      if (cls == nullptr || *cls != "Shell_TrayWnd")
        trayClickForeground_ = foreground_;
    }
    trayClickTime_ = Now();
    if (event.xbutton.button == Button1) {
      const bool twice = lastTrayPress_ != 0 &&
                         event.xbutton.time - lastTrayPress_ < kDoubleClickMs;
      lastTrayPress_ = twice ? 0 : event.xbutton.time;
      portable::TrayClicked(twice ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN);
    }
    break;
  case ButtonRelease:
    pointer_ = {event.xbutton.x_root, event.xbutton.y_root};
    if (event.xbutton.button == Button3)
      portable::TrayClicked(WM_RBUTTONUP);
    break;
  default:
    break;
  }
}

// --- Events ------------------------------------------------------------

void X11Driver::Handle(XEvent &event) {
  if (event.type == xkbEvent_) {
    HandleXkb(event);
    return;
  }
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
    if (event.type == ConfigureNotify &&
        (event.xconfigure.width != screenWidth_ ||
         event.xconfigure.height != screenHeight_)) {
      // The screen changed size (RandR): the program checks that the
      // keyboard is still in reach.
      screenWidth_ = event.xconfigure.width;
      screenHeight_ = event.xconfigure.height;
      portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 24,
                                      MAKELPARAM(screenWidth_, screenHeight_));
    } else if (event.type == PropertyNotify) {
      const ::Atom a = event.xproperty.atom;
      if (a == atom("_NET_ACTIVE_WINDOW")) {
        ReadActiveWindow();
      } else if (a == atom("_NET_WORKAREA") ||
                 a == atom("_NET_CURRENT_DESKTOP")) {
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
    if (event.xvisibility.state != VisibilityUnobscured && !menuOpen_ &&
        keyboards_.count(event.xany.window))
      XRaiseWindow(dpy_, event.xany.window);
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

// --- Our windows -------------------------------------------------------

void X11Driver::SetUtf8Title(::Window xid, const std::string &cp932) {
  const std::string utf8 = portable::Cp932ToUtf8(cp932);
  XChangeProperty(
      dpy_, xid, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
      reinterpret_cast<const unsigned char *>(utf8.data()), int(utf8.size()));
  XStoreName(dpy_, xid, cp932.c_str());
}

void X11Driver::SendNetWmState(::Window xid) {
  const char *states[] = {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR",
                          "_NET_WM_STATE_SKIP_PAGER"};
  for (const char *state : states) // add, the state, source 2
    SendClientMessage(root_, xid, "_NET_WM_STATE", {1, long(atom(state)), 0, 2},
                      SubstructureRedirectMask | SubstructureNotifyMask);
}

void X11Driver::WindowCreated(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = std::max<int>(1, r.right - r.left);
  const int h = std::max<int>(1, r.bottom - r.top);
  const std::string *cls = portable::WindowClassName(hwnd);
  std::string className = cls != nullptr ? *cls : "Flinto";
  // The keyboard is not managed: no window manager's button grab (Alt+drag)
  // takes a click while a latched Alt is down, and no window manager or
  // compositor gives it the focus on a click. It keeps itself above others.
  const bool keyboard = className == "FlintoFrame";
  XSetWindowAttributes attributes;
  attributes.background_pixmap = None;
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask |
                          PointerMotionMask | EnterWindowMask |
                          LeaveWindowMask | StructureNotifyMask |
                          (keyboard ? VisibilityChangeMask : 0);
  attributes.bit_gravity = NorthWestGravity;
  attributes.override_redirect = keyboard ? True : False;
  const ::Window xid = XCreateWindow(
      dpy_, root_, r.left, r.top, w, h, 0, CopyFromParent, InputOutput,
      CopyFromParent,
      CWBackPixmap | CWEventMask | CWBitGravity | CWOverrideRedirect,
      &attributes);
  own_[hwnd] = xid;
  ownByXid_[xid] = hwnd;
  if (keyboard)
    keyboards_.insert(xid);
  if (className == "FlintoHidden")
    XSetSelectionOwner(dpy_, atom(InstanceSelection().c_str()), xid,
                       CurrentTime);
  XClassHint hint;
  std::string name = "flinto";
  hint.res_name = name.data();
  hint.res_class = className.data();
  XSetClassHint(dpy_, xid, &hint);
  char title[256] = {0};
  GetWindowTextA(hwnd, title, sizeof title);
  SetUtf8Title(xid, title);

  // Never given the focus: no input, no WM_TAKE_FOCUS.
  XWMHints *wm = XAllocWMHints();
  wm->flags = InputHint | StateHint;
  wm->input = False;
  wm->initial_state = NormalState;
  XSetWMHints(dpy_, xid, wm);
  XFree(wm);
  ::Atom protocols[] = {atom("WM_DELETE_WINDOW")};
  XSetWMProtocols(dpy_, xid, protocols, 1);
  const long motif[5] = {2, 0, 0, 0, 0}; // decorations given: none
  XChangeProperty(dpy_, xid, atom("_MOTIF_WM_HINTS"), atom("_MOTIF_WM_HINTS"),
                  32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(motif), 5);
  const ::Atom type = atom("_NET_WM_WINDOW_TYPE_UTILITY");
  XChangeProperty(dpy_, xid, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&type), 1);
  const ::Atom states[] = {atom("_NET_WM_STATE_ABOVE"),
                           atom("_NET_WM_STATE_SKIP_TASKBAR"),
                           atom("_NET_WM_STATE_SKIP_PAGER")};
  XChangeProperty(dpy_, xid, atom("_NET_WM_STATE"), XA_ATOM, 32,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char *>(states), 3);
  const long userTime = 0; // mapping it must not give it the focus
  XChangeProperty(dpy_, xid, atom("_NET_WM_USER_TIME"), XA_CARDINAL, 32,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&userTime), 1);
  const ::Window owner = XidOf(portable::WindowOwner(hwnd));
  if (owner != 0 && !ownByXid_.count(owner))
    XSetTransientForHint(dpy_, xid, owner);
  WindowMoved(hwnd, r);
}

void X11Driver::WindowDestroyed(HWND hwnd) {
  DropSharedImage(hwnd);
  auto it = own_.find(hwnd);
  if (it == own_.end())
    return;
  XDestroyWindow(dpy_, it->second);
  keyboards_.erase(it->second);
  ownByXid_.erase(it->second);
  own_.erase(it);
  if (pointerIn_ == hwnd)
    pointerIn_ = nullptr;
  XFlush(dpy_);
}

void X11Driver::WindowShown(HWND hwnd, bool visible) {
  const ::Window xid = XidOf(hwnd);
  if (xid == 0)
    return;
  if (visible) {
    XMapRaised(dpy_, xid);
    SendNetWmState(xid); // asked for again once the window is managed
  } else {
    XUnmapWindow(dpy_, xid);
  }
  XFlush(dpy_);
}

void X11Driver::WindowMoved(HWND hwnd, const RECT &rect) {
  const ::Window xid = XidOf(hwnd);
  if (xid == 0)
    return;
  const int w = std::max<int>(1, rect.right - rect.left);
  const int h = std::max<int>(1, rect.bottom - rect.top);
  XSizeHints *size = XAllocSizeHints();
  size->flags = USPosition | PPosition | PMinSize | PMaxSize | PSize;
  size->x = rect.left;
  size->y = rect.top;
  size->width = size->min_width = size->max_width = w;
  size->height = size->min_height = size->max_height = h;
  XSetWMNormalHints(dpy_, xid, size);
  XFree(size);
  XMoveResizeWindow(dpy_, xid, rect.left, rect.top, w, h);
  XFlush(dpy_);
}

void X11Driver::WindowTitle(HWND hwnd, const std::string &title) {
  const ::Window xid = XidOf(hwnd);
  if (xid != 0)
    SetUtf8Title(xid, title);
}

void X11Driver::SetOpacity(::Window xid, uint32_t value, bool remove) {
  const ::Atom opacity = atom("_NET_WM_WINDOW_OPACITY");
  if (remove) {
    XDeleteProperty(dpy_, xid, opacity);
  } else {
    const long v = long(value);
    XChangeProperty(dpy_, xid, opacity, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&v), 1);
  }
  XFlush(dpy_);
}

bool X11Driver::SetAlpha(HWND hwnd, BYTE alpha) {
  const ::Window xid = XidOf(hwnd);
  if (xid == 0)
    return false;
  SetOpacity(xid, uint32_t(alpha) * 0x01010101u, false);
  return true;
}

void X11Driver::WindowExStyle(HWND hwnd, LONG before, LONG after) {
  const ::Window xid = XidOf(hwnd);
  if (xid != 0 && (before & WS_EX_LAYERED) && !(after & WS_EX_LAYERED))
    SetOpacity(xid, 0, true);
}

void X11Driver::CaptureChanged(HWND holder) {
  if (holder == nullptr) {
    XUngrabPointer(dpy_, CurrentTime);
  } else if (const ::Window xid = XidOf(holder)) {
    XGrabPointer(dpy_, xid, True,
                 ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  }
  XFlush(dpy_);
}

void X11Driver::PutPixels(::Window window, const uint32_t *pixels, int width,
                          int height, int stride, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0)
    return;
  std::vector<uint32_t> converted;
  const char *data = reinterpret_cast<const char *>(pixels);
  int bytesPerLine = stride;
  if (!directPixels_) {
    // Another visual: let Xlib place each pixel.
    XImage *image = XCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, 0,
                                 nullptr, unsigned(w), unsigned(h), 32, 0);
    if (image == nullptr)
      return;
    image->data =
        static_cast<char *>(std::malloc(size_t(image->bytes_per_line) * h));
    if (image->data == nullptr) {
      XDestroyImage(image);
      return;
    }
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        const uint32_t rgb =
            reinterpret_cast<const uint32_t *>(data + size_t(j) * stride)[i];
        XColor c;
        c.red = uint16_t(((rgb >> 16) & 0xFF) * 257);
        c.green = uint16_t(((rgb >> 8) & 0xFF) * 257);
        c.blue = uint16_t((rgb & 0xFF) * 257);
        unsigned long pixel = 0;
        if (visual_->c_class == TrueColor) {
          auto place = [](unsigned long mask, unsigned value) {
            int shift = 0;
            while (mask && !(mask & 1)) {
              mask >>= 1;
              ++shift;
            }
            unsigned long v = value;
            int bits = 0;
            for (unsigned long m = mask; m; m >>= 1)
              ++bits;
            v >>= (16 - bits);
            return (v & mask) << shift;
          };
          pixel = place(visual_->red_mask, c.red) |
                  place(visual_->green_mask, c.green) |
                  place(visual_->blue_mask, c.blue);
        }
        XPutPixel(image, i, j, pixel);
      }
    XPutImage(dpy_, window, gc_, image, 0, 0, x, y, unsigned(w), unsigned(h));
    XDestroyImage(image);
    return;
  }
  (void)width;
  (void)height;
  XImage *image = XCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, 0,
                               const_cast<char *>(data), unsigned(width),
                               unsigned(height), 32, bytesPerLine);
  if (image == nullptr)
    return;
  XPutImage(dpy_, window, gc_, image, 0, 0, x, y, unsigned(w), unsigned(h));
  image->data = nullptr; // the pixels are not Xlib's to free
  XDestroyImage(image);
}

// A shared-memory image of a window's size, where the server reads the
// pixels without their travelling through the connection.
struct X11Driver::SharedImage {
  XShmSegmentInfo info = {};
  XImage *image = nullptr;
};

void X11Driver::DropSharedImage(HWND hwnd) {
  auto it = shared_.find(hwnd);
  if (it == shared_.end())
    return;
  SharedImage &shared = *it->second;
  XShmDetach(dpy_, &shared.info);
  XSync(dpy_, False);
  XDestroyImage(shared.image);
  shmdt(shared.info.shmaddr);
  shared_.erase(it);
}

X11Driver::SharedImage *X11Driver::SharedImageFor(HWND hwnd, int width,
                                                  int height) {
  auto it = shared_.find(hwnd);
  if (it != shared_.end()) {
    if (it->second->image->width == width &&
        it->second->image->height == height)
      return it->second.get();
    DropSharedImage(hwnd);
  }
  if (!useShm_ || width <= 0 || height <= 0)
    return nullptr;
  auto shared = std::make_unique<SharedImage>();
  shared->image =
      XShmCreateImage(dpy_, visual_, unsigned(depth_), ZPixmap, nullptr,
                      &shared->info, unsigned(width), unsigned(height));
  if (shared->image == nullptr)
    return nullptr;
  shared->info.shmid =
      shmget(IPC_PRIVATE,
             size_t(shared->image->bytes_per_line) * shared->image->height,
             IPC_CREAT | 0600);
  if (shared->info.shmid < 0) {
    XDestroyImage(shared->image);
    useShm_ = false;
    return nullptr;
  }
  shared->info.shmaddr =
      static_cast<char *>(shmat(shared->info.shmid, nullptr, 0));
  shmctl(shared->info.shmid, IPC_RMID, nullptr); // gone once both detach
  if (shared->info.shmaddr == reinterpret_cast<char *>(-1)) {
    XDestroyImage(shared->image);
    useShm_ = false;
    return nullptr;
  }
  shared->image->data = shared->info.shmaddr;
  shared->info.readOnly = True;
  lastError = 0;
  XShmAttach(dpy_, &shared->info);
  XSync(dpy_, False);
  if (lastError != 0) { // a server on another machine: plain images then
    shmdt(shared->info.shmaddr);
    shared->image->data = nullptr;
    XDestroyImage(shared->image);
    useShm_ = false;
    return nullptr;
  }
  SharedImage *raw = shared.get();
  shared_[hwnd] = std::move(shared);
  return raw;
}

void X11Driver::Present(HWND hwnd, const portable::Bitmap &surface,
                        const RECT &dirty) {
  const ::Window xid = XidOf(hwnd);
  if (xid == 0 || surface.bpp != 32 || surface.bottomUp)
    return;
  const RECT r = {std::max<LONG>(0, dirty.left), std::max<LONG>(0, dirty.top),
                  std::min<LONG>(surface.width, dirty.right),
                  std::min<LONG>(surface.height, dirty.bottom)};
  if (r.left >= r.right || r.top >= r.bottom)
    return;
  if (directPixels_) {
    if (SharedImage *shared =
            SharedImageFor(hwnd, surface.width, surface.height)) {
      XImage *image = shared->image;
      for (LONG y = r.top; y < r.bottom; ++y)
        std::memcpy(
            image->data + size_t(y) * image->bytes_per_line + r.left * 4,
            surface.data.data() + size_t(y) * surface.stride + r.left * 4,
            size_t(r.right - r.left) * 4);
      XShmPutImage(dpy_, xid, gc_, image, r.left, r.top, r.left, r.top,
                   unsigned(r.right - r.left), unsigned(r.bottom - r.top),
                   False);
      // The next paint writes the same memory: the server must be done.
      XSync(dpy_, False);
      return;
    }
  }
  const uint32_t *origin =
      reinterpret_cast<const uint32_t *>(surface.data.data() +
                                         size_t(r.top) * surface.stride) +
      r.left;
  PutPixels(xid, origin, surface.width - r.left, surface.height - r.top,
            surface.stride, r.left, r.top, r.right - r.left, r.bottom - r.top);
  XFlush(dpy_);
}

UINT X11Driver::TrackMenu(const std::vector<portable::MenuItem> &items, int x,
                          int y, HWND) {
  PopupMenu menu(*this, items);
  menuOpen_ = true;
  const UINT chosen = menu.Run(x, y);
  menuOpen_ = false;
  return chosen;
}

} // namespace x11
