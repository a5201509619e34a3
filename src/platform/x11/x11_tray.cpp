// The tray icon: an XEmbed window docked in the system tray
// (_NET_SYSTEM_TRAY_S<screen>), docked again when a tray comes or takes
// over, never left on the desktop, and its clicks reported to the program.
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>

#include "platform/portable/host.h"
#include "platform/resources/icon.h"
#include "platform/x11/x11_driver.h"

namespace x11 {

namespace {

constexpr long kXembedMapped = 1;
constexpr long kSystemTrayRequestDock = 0;
constexpr Time kDoubleClickMs = 500;

} // namespace

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

} // namespace x11
