#include "platform/x11/x11_menu.h"

#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>

#include "platform/portable/host.h"
#include "platform/x11/x11_driver.h"

namespace x11 {

PopupMenu::PopupMenu(X11Driver &driver,
                     const std::vector<portable::MenuItem> &items)
    : driver_(driver), view_(items) {}

void PopupMenu::Paint() {
  view_.Draw(pixels_);
  driver_.PutPixels(window_,
                    reinterpret_cast<const uint32_t *>(pixels_.data.data()),
                    view_.width(), view_.height(), pixels_.stride, 0, 0,
                    view_.width(), view_.height());
  XFlush(driver_.display());
}

void PopupMenu::OnEvent(XEvent &event) {
  switch (event.type) {
  case Expose:
    if (event.xexpose.count == 0)
      Paint();
    break;
  case MotionNotify:
    if (view_.Motion(event.xmotion.x, event.xmotion.y))
      Paint();
    break;
  case ButtonPress:
    view_.Press(event.xbutton.x, event.xbutton.y);
    break;
  case ButtonRelease:
    view_.Release(event.xbutton.x, event.xbutton.y);
    break;
  default:
    break;
  }
}

UINT PopupMenu::Run(int x, int y) {
  Display *dpy = driver_.display();
  const int screenW = DisplayWidth(dpy, DefaultScreen(dpy));
  const int screenH = DisplayHeight(dpy, DefaultScreen(dpy));
  // Kept on the screen: flipped to the other side of the point when it
  // would run off the right or the bottom.
  if (x + view_.width() > screenW)
    x = std::max(0, x - view_.width());
  if (y + view_.height() > screenH)
    y = std::max(0, y - view_.height());
  pixels_.Allocate(view_.width(), view_.height(), 32, false);

  XSetWindowAttributes attributes;
  attributes.override_redirect = True;
  attributes.save_under = True;
  attributes.event_mask =
      ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
  window_ = XCreateWindow(
      dpy, DefaultRootWindow(dpy), x, y, unsigned(view_.width()),
      unsigned(view_.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
      CWOverrideRedirect | CWSaveUnder | CWEventMask, &attributes);
  XClassHint hint;
  char name[] = "flinto", cls[] = "FlintoMenu";
  hint.res_name = name;
  hint.res_class = cls;
  XSetClassHint(dpy, window_, &hint);
  XMapRaised(dpy, window_);
  XSync(dpy, False);
  // The whole pointer while the menu is open: a click anywhere closes it.
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (XGrabPointer(dpy, window_, False,
                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                     GrabModeAsync, GrabModeAsync, None, None,
                     CurrentTime) == GrabSuccess)
      break;
    usleep(10000);
  }
  Paint();
  while (!view_.done()) {
    MSG msg;
    while (portable::TakeMessage(&msg))
      DispatchMessageA(&msg);
    if (portable::QuitPending())
      break;
    driver_.PumpEvents(portable::NextTimerDue(), window_,
                       [this](XEvent &e) { OnEvent(e); });
  }
  XUngrabPointer(dpy, CurrentTime);
  XDestroyWindow(dpy, window_);
  XFlush(dpy);
  window_ = 0;
  return view_.chosen();
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
