// Flinto's own X windows: made, shown, moved, titled and made translucent
// as the program asks, and their pictures put on the screen (through
// shared memory where the server is local).
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/text.h"
#include "platform/x11/x11_driver.h"
#include "platform/x11/x11_pixels.h"
#include "platform/x11/x11_stacking.h"

namespace x11 {

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
  OpenKeyPath(); // before anything is drawn: greyed until it is granted
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
    // Its place in the stack takes a round trip for each window above the
    // ones it covers: found once the first picture went out, when the
    // program waits. A menu's own loop does not: shown while a menu is
    // open (remade after its application went), it goes under the menu
    // at once.
    if (keyboards_.count(xid)) {
      if (menuOpen_)
        PlaceKeyboard(xid);
      else
        restackWanted_ = true;
    }
  } else {
    XUnmapWindow(dpy_, xid);
  }
  XFlush(dpy_);
}

// The keyboard goes over the ordinary windows that overlap it and under
// other programs' menus, tooltips and candidate lists (x11_stacking.h).
// The stack is read from the top down, as far as the rule needs it.
void X11Driver::PlaceKeyboard(::Window keyboard) {
  XWindowAttributes mine;
  if (!XGetWindowAttributes(dpy_, keyboard, &mine))
    return;
  ::Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(dpy_, root_, &rootReturn, &parent, &children, &count))
    return;
  std::vector<StackedWindow> stack; // top first, for now
  size_t fromTop = count;           // the keyboard's place, from the top
  bool ordinaryBelow = false;
  for (unsigned i = count; i-- > 0 && !ordinaryBelow;) {
    StackedWindow w;
    w.id = children[i];
    XWindowAttributes a;
    if (children[i] == keyboard) {
      fromTop = stack.size();
      w.viewable = w.overlaps = w.ours = w.overrideRedirect = true;
    } else if (XGetWindowAttributes(dpy_, children[i], &a)) {
      w.viewable = a.map_state == IsViewable && a.c_class == InputOutput;
      w.ours = ownByXid_.count(children[i]) != 0;
      w.overlaps = a.x < mine.x + mine.width + 2 * mine.border_width &&
                   mine.x < a.x + a.width + 2 * a.border_width &&
                   a.y < mine.y + mine.height + 2 * mine.border_width &&
                   mine.y < a.y + a.height + 2 * a.border_width;
      // A window manager's frame is placed by it (i3's are
      // override-redirect), but holds an ordinary window: it counts as one.
      w.overrideRedirect =
          a.override_redirect &&
          !(w.viewable && w.overlaps && !w.ours && FramesClient(children[i]));
      // Below the keyboard, the first ordinary window that overlaps it
      // is as far down as the rule looks.
      ordinaryBelow = fromTop != count && w.viewable && w.overlaps && !w.ours &&
                      !w.overrideRedirect;
    }
    stack.push_back(w);
  }
  if (children != nullptr)
    XFree(children);
  if (fromTop == count)
    return;
  std::reverse(stack.begin(), stack.end());
  const Restack move = x11::PlaceKeyboard(stack, stack.size() - 1 - fromTop);
  if (move.mode == Restack::kNone)
    return;
  XWindowChanges changes;
  changes.sibling = ::Window(move.sibling);
  changes.stack_mode = move.mode == Restack::kAbove ? Above : Below;
  XConfigureWindow(dpy_, keyboard, CWSibling | CWStackMode, &changes);
}

// Whether one of the window's children is a client window (has WM_STATE).
bool X11Driver::FramesClient(::Window frame) {
  ::Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(dpy_, frame, &rootReturn, &parent, &children, &count))
    return false;
  bool client = false;
  for (unsigned i = 0; i < count && !client; ++i) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy_, children[i], atom("WM_STATE"), 0, 0, False,
                           AnyPropertyType, &type, &format, &items, &after,
                           &data) == Success)
      client = type != None;
    if (data != nullptr)
      XFree(data);
  }
  if (children != nullptr)
    XFree(children);
  return client;
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

void X11Driver::Present(HWND hwnd, const portable::Bitmap &surface,
                        const RECT &dirty) {
  if (!surface.HasPixels())
    return;
  const RECT r = {std::max<LONG>(0, dirty.left), std::max<LONG>(0, dirty.top),
                  std::min<LONG>(surface.width, dirty.right),
                  std::min<LONG>(surface.height, dirty.bottom)};
  if (r.left < r.right && r.top < r.bottom)
    PresentFrom(hwnd, surface, int(r.left), int(r.top), r);
}

// The window keeps no picture of its own: a paint goes out from the back
// buffer, a strip at a time (Xlib copies each into the request). At unit 6
// the window's own picture was 1.1 MiB, every page of it touched at the
// start.
bool X11Driver::PresentFrom(HWND hwnd, const portable::Bitmap &source, int sx,
                            int sy, const RECT &to) {
  const ::Window xid = XidOf(hwnd);
  if (xid == 0 || (source.bpp != 24 && source.bpp != 32))
    return false;
  const int w = int(to.right - to.left), h = int(to.bottom - to.top);
  if (w <= 0 || h <= 0)
    return true;
  // Until the desktop grants the session the keyboard looks greyed: its
  // keys type nothing yet.
  const bool grey = KeysWaitForGrant() && keyboards_.count(xid) != 0;
  const int rows = StripRows(w, h);
  if (strip_.size() < size_t(w) * size_t(rows))
    strip_.resize(size_t(w) * size_t(rows));
  for (int top = 0; top < h; top += rows) {
    const int n = std::min(rows, h - top);
    MakeStrip(source, sx, sy + top, w, n, grey, strip_.data());
    PutPixels(xid, strip_.data(), w, n, w * 4, int(to.left), int(to.top) + top,
              w, n);
  }
  // Sent with the next flush, as the loop goes to wait.
  return true;
}

} // namespace x11
