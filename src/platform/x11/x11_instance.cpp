// One Flinto per display, and Flinto's windows kept whatever other clients
// do to them: the running Flinto's owner window holds a selection that a
// second start finds; a client that takes the selection without being a
// Flinto, or destroys one of Flinto's windows, does not take the keyboard
// away.
#include <X11/Xutil.h>

#include <cstdio>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/x11/x11_driver.h"

namespace x11 {

namespace {

constexpr char kOwnerClass[] = "FlintoHidden";

} // namespace

std::string X11Driver::InstanceSelection() const {
  char name[64];
  std::snprintf(name, sizeof name, "_FLINTO_S%d", screen_);
  return name;
}

bool X11Driver::IsFlintoOwner(::Window xid) {
  XClassHint hint;
  if (!XGetClassHint(dpy_, xid, &hint))
    return false;
  const bool flinto =
      hint.res_class != nullptr && std::string(hint.res_class) == kOwnerClass;
  if (hint.res_name != nullptr)
    XFree(hint.res_name);
  if (hint.res_class != nullptr)
    XFree(hint.res_class);
  return flinto;
}

HWND X11Driver::FindForeignWindow(const std::string &className) {
  if (className != kOwnerClass)
    return nullptr;
  const ::Window owner =
      XGetSelectionOwner(dpy_, atom(InstanceSelection().c_str()));
  if (owner == None || ownByXid_.count(owner))
    return nullptr;
  if (!IsFlintoOwner(owner)) {
    // Held by something that is not a Flinto: this one starts and takes
    // the selection over when its owner window is made.
    std::fprintf(stderr,
                 "flinto: window 0x%lx, not a Flinto, holds %s; taking it "
                 "over\n",
                 owner, InstanceSelection().c_str());
    std::fflush(stderr);
    return nullptr;
  }
  auto known = foreign_.find(owner);
  if (known != foreign_.end())
    return known->second;
  XSelectInput(dpy_, owner, StructureNotifyMask);
  HWND hwnd = portable::RegisterForeignWindow(className, "", RECT{0, 0, 0, 0});
  foreign_[owner] = hwnd;
  foreignXid_[hwnd] = owner;
  return hwnd;
}

bool X11Driver::PostForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const ::Window xid = XidOf(hwnd);
  if (xid == 0)
    return false;
  const bool sent =
      SendClientMessage(xid, xid, "_FLINTO_POST",
                        {long(msg), long(wParam), long(lParam)}, NoEventMask);
  XSync(dpy_, False);
  return sent;
}

// Another client took the selection: taken back unless a Flinto has it.
void X11Driver::SelectionLost(const XSelectionClearEvent &event) {
  const ::Atom selection = atom(InstanceSelection().c_str());
  if (event.selection != selection || !ownByXid_.count(event.window))
    return;
  const ::Window now = XGetSelectionOwner(dpy_, selection);
  if (now != None && IsFlintoOwner(now))
    return;
  std::fprintf(stderr, "flinto: window 0x%lx took %s; taking it back\n", now,
               InstanceSelection().c_str());
  std::fflush(stderr);
  XSetSelectionOwner(dpy_, selection, event.window, CurrentTime);
  XFlush(dpy_);
}

// One of our windows was destroyed by another client. The keyboard is lost
// as when it goes with its application, and is made anew at once; any other
// window gets a new X window of the same kind, shown as it was (the owner
// window takes the selection again with it).
void X11Driver::WindowTakenAway(::Window xid) {
  auto it = ownByXid_.find(xid);
  if (it == ownByXid_.end())
    return;
  const HWND hwnd = it->second;
  ownByXid_.erase(it);
  own_.erase(hwnd);
  const bool keyboard = keyboards_.erase(xid) != 0;
  if (pointerIn_ == hwnd)
    pointerIn_ = nullptr;
  if (keyboard) {
    DestroyWindow(hwnd);
    return;
  }
  WindowCreated(hwnd);
  if (IsWindowVisible(hwnd)) {
    WindowShown(hwnd, true);
    InvalidateRect(hwnd, nullptr, FALSE);
  }
}

} // namespace x11
