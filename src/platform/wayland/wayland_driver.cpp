#include "platform/wayland/wayland_driver.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-cursor.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/clock.h"
#include "platform/linux/poll_timeout.h"
#include "platform/linux/signals.h"
#include "platform/linux/wayland_handled.h"
#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wayland_tray.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace wayland {

namespace {

WaylandDriver *instance = nullptr;

// Destroys what is there, once.
template <class T> void Release(T *&object, void (*destroy)(T *)) {
  if (object != nullptr)
    destroy(object);
  object = nullptr;
}

// --- Listeners: each hands its event to the driver. ---

void RegistryGlobal(void *data, wl_registry *registry, uint32_t name,
                    const char *interface, uint32_t version) {
  Of(data)->OnGlobal(registry, name, interface, version);
}
void RegistryGlobalRemove(void *data, wl_registry *, uint32_t name) {
  Of(data)->OnGlobalRemove(name);
}
const wl_registry_listener kRegistryListener = {RegistryGlobal,
                                                RegistryGlobalRemove};

void SeatCapabilities(void *data, wl_seat *, uint32_t capabilities) {
  Of(data)->OnSeatCapabilities(capabilities);
}
void SeatName(void *, wl_seat *, const char *) {}
const wl_seat_listener kSeatListener = {SeatCapabilities, SeatName};

void PointerEnter(void *data, wl_pointer *, uint32_t serial,
                  wl_surface *surface, wl_fixed_t x, wl_fixed_t y) {
  Of(data)->QueuePointer({WaylandDriver::PointerEvent::kEnter, surface,
                          wl_fixed_to_double(x), wl_fixed_to_double(y), 0,
                          false, serial});
}
void PointerLeave(void *data, wl_pointer *, uint32_t, wl_surface *surface) {
  Of(data)->QueuePointer(
      {WaylandDriver::PointerEvent::kLeave, surface, 0, 0, 0, false, 0});
}
void PointerMotion(void *data, wl_pointer *, uint32_t, wl_fixed_t x,
                   wl_fixed_t y) {
  Of(data)->QueuePointer({WaylandDriver::PointerEvent::kMotion, nullptr,
                          wl_fixed_to_double(x), wl_fixed_to_double(y), 0,
                          false, 0});
}
void PointerButton(void *data, wl_pointer *, uint32_t, uint32_t,
                   uint32_t button, uint32_t state) {
  Of(data)->QueuePointer({WaylandDriver::PointerEvent::kButton, nullptr, 0, 0,
                          button, state == WL_POINTER_BUTTON_STATE_PRESSED, 0});
}
void PointerAxis(void *, wl_pointer *, uint32_t, uint32_t, wl_fixed_t) {}
void PointerFrame(void *, wl_pointer *) {}
void PointerAxisSource(void *, wl_pointer *, uint32_t) {}
void PointerAxisStop(void *, wl_pointer *, uint32_t, uint32_t) {}
void PointerAxisDiscrete(void *, wl_pointer *, uint32_t, int32_t) {}
void PointerAxisValue120(void *, wl_pointer *, uint32_t, int32_t) {}
const wl_pointer_listener kPointerListener = {
    PointerEnter,        PointerLeave,       PointerMotion,     PointerButton,
    PointerAxis,         PointerFrame,       PointerAxisSource, PointerAxisStop,
    PointerAxisDiscrete, PointerAxisValue120};

void ToplevelTitle(void *data, zwlr_foreign_toplevel_handle_v1 *h,
                   const char *title) {
  Of(data)->OnToplevelTitle(h, title);
}
void ToplevelAppId(void *data, zwlr_foreign_toplevel_handle_v1 *h,
                   const char *id) {
  Of(data)->OnToplevelAppId(h, id);
}
void ToplevelOutputEnter(void *data, zwlr_foreign_toplevel_handle_v1 *h,
                         wl_output *output) {
  Of(data)->OnToplevelOutput(h, output);
}
void ToplevelOutputLeave(void *, zwlr_foreign_toplevel_handle_v1 *,
                         wl_output *) {}
void ToplevelState(void *data, zwlr_foreign_toplevel_handle_v1 *h,
                   wl_array *states) {
  bool activated = false;
  const uint32_t *s = static_cast<const uint32_t *>(states->data);
  for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
    if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
      activated = true;
  Of(data)->OnToplevelState(h, activated);
}
void ToplevelDone(void *data, zwlr_foreign_toplevel_handle_v1 *h) {
  Of(data)->OnToplevelDone(h);
}
void ToplevelClosed(void *data, zwlr_foreign_toplevel_handle_v1 *h) {
  Of(data)->OnToplevelClosed(h);
}
void ToplevelParent(void *, zwlr_foreign_toplevel_handle_v1 *,
                    zwlr_foreign_toplevel_handle_v1 *) {}
const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    ToplevelTitle, ToplevelAppId, ToplevelOutputEnter, ToplevelOutputLeave,
    ToplevelState, ToplevelDone,  ToplevelClosed,      ToplevelParent};

void ManagerToplevel(void *data, zwlr_foreign_toplevel_manager_v1 *,
                     zwlr_foreign_toplevel_handle_v1 *handle) {
  Of(data)->OnToplevel(handle);
}
void ManagerFinished(void *data, zwlr_foreign_toplevel_manager_v1 *) {
  Of(data)->OnToplevelsFinished();
}
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    ManagerToplevel, ManagerFinished};

} // namespace

// --- Connection ----------------------------------------------------------

std::unique_ptr<WaylandDriver> WaylandDriver::Open(std::string *error) {
  std::unique_ptr<WaylandDriver> driver(new WaylandDriver());
  if (!driver->Init(error))
    return nullptr;
  return driver;
}

void WaylandDriver::OnGlobal(wl_registry *registry, uint32_t name,
                             const char *interface, uint32_t version) {
  auto bind = [&](const wl_interface *i, uint32_t most) {
    return wl_registry_bind(registry, name, i, std::min(version, most));
  };
  const std::string is = interface;
  if (is == wl_compositor_interface.name && compositor_ == nullptr) {
    compositor_ =
        static_cast<wl_compositor *>(bind(&wl_compositor_interface, 4));
  } else if (is == wl_shm_interface.name && shm_ == nullptr) {
    shm_ = static_cast<wl_shm *>(bind(&wl_shm_interface, 1));
  } else if (is == wl_seat_interface.name && seat_ == nullptr) {
    seat_ = static_cast<wl_seat *>(bind(&wl_seat_interface, 5));
    wl_seat_add_listener(seat_, &kSeatListener, this);
  } else if (is == wl_output_interface.name) {
    Output o;
    o.output = static_cast<wl_output *>(bind(&wl_output_interface, 2));
    o.name = name;
    outputs_.push_back(o);
    wl_output_add_listener(o.output, OutputListener(), this);
    FollowLogical(outputs_.back());
    if (output_ == nullptr) {
      // The first the compositor names, or one that comes when none is
      // left: what the compositor closed is made again there.
      output_ = o.output;
      if (probeLost_ || menuSurfaceLost_ || !lostSurfaces_.empty())
        RemakeLostSurfaces();
    }
  } else if (is == zxdg_output_manager_v1_interface.name &&
             xdgOutputs_ == nullptr) {
    xdgOutputs_ = static_cast<zxdg_output_manager_v1 *>(
        bind(&zxdg_output_manager_v1_interface, 3));
    for (Output &o : outputs_)
      FollowLogical(o);
  } else if (is == zwlr_layer_shell_v1_interface.name &&
             layerShell_ == nullptr) {
    layerShell_ = static_cast<zwlr_layer_shell_v1 *>(
        bind(&zwlr_layer_shell_v1_interface, 4));
  } else if (is == zwp_virtual_keyboard_manager_v1_interface.name &&
             keyboardManager_ == nullptr) {
    keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1 *>(
        bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
  } else if (is == zwlr_foreign_toplevel_manager_v1_interface.name &&
             toplevels_ == nullptr) {
    toplevels_ = static_cast<zwlr_foreign_toplevel_manager_v1 *>(
        bind(&zwlr_foreign_toplevel_manager_v1_interface, 2));
    zwlr_foreign_toplevel_manager_v1_add_listener(toplevels_, &kManagerListener,
                                                  this);
  }
}

void WaylandDriver::OnGlobalRemove(uint32_t name) {
  auto it = std::find_if(outputs_.begin(), outputs_.end(),
                         [&](const Output &o) { return o.name == name; });
  if (it == outputs_.end())
    return;
  const bool current = it->output == output_;
  if (it->logical != nullptr)
    zxdg_output_v1_destroy(it->logical);
  wl_output_destroy(it->output);
  outputs_.erase(it);
  if (!current) {
    portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 32, 0);
    return;
  }
  // The keyboard's output went: everything of ours goes at once to one
  // that remains, and the program, told, lets go of the keys and moves the
  // keyboard into it. With none left, the size stays what it was until
  // another comes.
  output_ = nullptr;
  for (Output &o : outputs_)
    if (o.done) {
      MoveToOutput(o);
      break;
    }
  portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 32, 0);
}

void WaylandDriver::Roundtrip() {
  if (wl_display_roundtrip(display_) < 0)
    lost_ = true;
}

bool WaylandDriver::Init(std::string *error) {
  const char *name = std::getenv("WAYLAND_DISPLAY");
  display_ = wl_display_connect(nullptr);
  if (display_ == nullptr) {
    *error = name != nullptr ? std::string("cannot connect to the Wayland "
                                           "compositor \"") +
                                   name + "\""
                             : "WAYLAND_DISPLAY is not set";
    return false;
  }
  instance = this;
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
  Roundtrip();
  Roundtrip(); // the seat's capabilities, the output's mode
  if (compositor_ == nullptr || shm_ == nullptr || seat_ == nullptr) {
    *error = "the compositor offers no surfaces, shared memory or seat";
    return false;
  }
  if (wl_compositor_get_version(compositor_) < 4) {
    *error = "the compositor's wl_compositor is older than version 4";
    return false;
  }
  if (layerShell_ == nullptr) {
    *error = "the compositor offers no layer surfaces (zwlr_layer_shell_v1)";
    return false;
  }
  if (keyboardManager_ == nullptr) {
    *error = "the compositor offers no virtual keyboard "
             "(zwp_virtual_keyboard_manager_v1)";
    return false;
  }
  // The virtual keyboard and its keymap come after the first frame (see
  // Wait): compiling the keymap takes longer than the rest of a start, and
  // the compositor takes its time with it.
  MakeProbe();
  MakeMenuSurface(); // before any keyboard surface: above them
  Roundtrip();
  if (lost_) {
    *error = "the compositor ended the connection (it refused the virtual "
             "keyboard or the layer surface)";
    return false;
  }
  UpdateScreen();

  signalFd_ = linuxhost::CatchTermination();
  return true;
}

WaylandDriver::~WaylandDriver() {
  tray_.reset();
  if (display_ != nullptr) {
    for (auto &[hwnd, s] : surfaces_)
      DestroySurface(s);
    surfaces_.clear();
    DestroySurface(probe_);
    DestroySurface(menuSurface_);
    DropBuffer(menuBlank_);
    for (auto &[callback, move] : moves_)
      wl_callback_destroy(callback);
    for (auto &[handle, t] : toplevelList_)
      zwlr_foreign_toplevel_handle_v1_destroy(handle);
    DropKeyboard();
    Release(toplevels_, zwlr_foreign_toplevel_manager_v1_destroy);
    Release(cursorSurface_, wl_surface_destroy);
    Release(cursorTheme_, wl_cursor_theme_destroy);
    Release(pointerDevice_, wl_pointer_release);
    Release(keyboardManager_, zwp_virtual_keyboard_manager_v1_destroy);
    if (layerShell_ != nullptr &&
        zwlr_layer_shell_v1_get_version(layerShell_) < 3) // no destroy yet
      wl_proxy_destroy(reinterpret_cast<wl_proxy *>(layerShell_));
    else
      Release(layerShell_, zwlr_layer_shell_v1_destroy);
    for (Output &o : outputs_) {
      if (o.logical != nullptr)
        zxdg_output_v1_destroy(o.logical);
      wl_output_destroy(o.output);
    }
    outputs_.clear();
    Release(xdgOutputs_, zxdg_output_manager_v1_destroy);
    output_ = nullptr;
    Release(seat_, wl_seat_destroy);
    Release(shm_, wl_shm_destroy);
    Release(compositor_, wl_compositor_destroy);
    Release(registry_, wl_registry_destroy);
    // The keys let go above reach the applications.
    linuxhost::WaitUntilHandled(display_, linuxhost::kEndWaitMs);
    wl_display_disconnect(display_);
  }
  if (instanceSocket_ >= 0) {
    close(instanceSocket_);
    unlink(instancePath_.c_str());
  }
  instance = nullptr;
}

uint64_t WaylandDriver::Now() { return linuxhost::MonotonicMs(); }

void WaylandDriver::ConnectionLost() {
  if (onConnectionLost)
    onConnectionLost();
  std::fprintf(stderr, "flinto: the connection to the Wayland compositor was "
                       "lost; the settings were saved\n");
  std::fflush(stderr);
  std::_Exit(1);
}

// Pointer events go to the program one at a time: a press that starts a drag
// takes the capture before the next move is looked at.
bool WaylandDriver::DeliverQueuedPointer() {
  while (!input_.empty()) {
    const PointerEvent event = input_.front();
    input_.pop_front();
    if (menu_ != nullptr)
      MenuPointer(event);
    else
      HandlePointer(event);
    if (portable::HasQueuedMessages())
      return true;
  }
  return false;
}

bool WaylandDriver::DeliverReadInput() {
  if (input_.empty())
    return false;
  DeliverQueuedPointer();
  return true;
}

void WaylandDriver::Wait(uint64_t deadline) {
  // Idle for the first time with no first frame awaited: the virtual
  // keyboard is made now (or at the first key, if that comes sooner).
  if (!keyboardTried_ &&
      std::all_of(surfaces_.begin(), surfaces_.end(),
                  [](const auto &entry) { return entry.second.drawn; }))
    EnsureKeyboard();
  PumpEvents(deadline);
}

// The compositor's events are read between queued messages too: a program
// busy with a long queue (a flood of show and hide requests) that left them
// unread would be disconnected when the compositor's buffer for it fills.
void WaylandDriver::Poll() {
  if (flushPace_.BeforeMessage())
    FlushWaiting();
  // A click's few messages are handled in well under a millisecond: a
  // read between each of them would be a system call for nothing.
  if (linuxhost::MonotonicUs() < lastReadUs_ + kReadBetweenMessagesUs)
    return;
  while (wl_display_prepare_read(display_) != 0)
    if (wl_display_dispatch_pending(display_) < 0)
      ConnectionLost();
  pollfd fd = {wl_display_get_fd(display_), POLLIN, 0};
  const int n = poll(&fd, 1, 0);
  FinishRead(n > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)));
}

// What was asked of the compositor goes before more is made: while its
// socket is full (a flood of requests the compositor has not taken yet),
// this waits until it takes them, reading its events meanwhile, for at most
// a fifth of a second. The library keeps only a few pages of requests and
// file descriptors unsent; made beyond that, it gives the connection up.
void WaylandDriver::FlushWaiting() {
  const uint64_t until = Now() + 200;
  while (wl_display_flush(display_) < 0) {
    if (errno != EAGAIN)
      ConnectionLost();
    const uint64_t now = Now();
    if (now >= until) {
      flushPace_.Flushed(false);
      return;
    }
    while (wl_display_prepare_read(display_) != 0)
      if (wl_display_dispatch_pending(display_) < 0)
        ConnectionLost();
    pollfd fd = {wl_display_get_fd(display_), POLLIN | POLLOUT, 0};
    const int n = poll(&fd, 1, int(until - now));
    FinishRead(n > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)));
  }
  flushPace_.Flushed(true);
}

// After wl_display_prepare_read: reads what came (or gives the read up)
// and hands it to the listeners; a broken connection ends the program.
void WaylandDriver::FinishRead(bool readable) {
  lastReadUs_ = linuxhost::MonotonicUs();
  if (readable) {
    if (wl_display_read_events(display_) < 0)
      ConnectionLost();
  } else {
    wl_display_cancel_read(display_);
  }
  if (wl_display_dispatch_pending(display_) < 0 || lost_)
    ConnectionLost();
}

void WaylandDriver::PumpEvents(uint64_t deadline) {
  if (DeliverQueuedPointer())
    return;
  while (wl_display_prepare_read(display_) != 0)
    if (wl_display_dispatch_pending(display_) < 0)
      ConnectionLost();
  // What could not be sent yet (the socket full) goes when it can.
  bool unsent = false;
  if (wl_display_flush(display_) < 0) {
    if (errno != EAGAIN) {
      wl_display_cancel_read(display_);
      ConnectionLost();
    }
    unsent = true;
  }
  flushPace_.Flushed(!unsent);
  if (!input_.empty()) {
    wl_display_cancel_read(display_);
    DeliverQueuedPointer();
    return;
  }
  deadline = std::min({deadline, NextLetGo(), NextSpareDrop()});
  int timeout = linuxhost::PollTimeout(deadline, Now());
  pollfd fds[4] = {
      {wl_display_get_fd(display_), short(POLLIN | (unsent ? POLLOUT : 0)), 0},
      {signalFd_, POLLIN, 0},
      {instanceSocket_, POLLIN, 0},
      {-1, 0, 0}};
  if (tray_ != nullptr) {
    fds[3].fd = tray_->Fd();
    fds[3].events = short(tray_->Events());
    // The bus's own deadline, on the same clock, in ms.
    const int t = linuxhost::PollTimeout(tray_->Timeout(), Now());
    if (t >= 0 && (timeout < 0 || t < timeout))
      timeout = t;
  }
  const int n = poll(fds, 4, timeout);
  if (n > 0 && (fds[0].revents & POLLOUT))
    flushPace_.Flushed(wl_display_flush(display_) >= 0);
  FinishRead(n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)));
  if (n > 0 && (fds[1].revents & POLLIN) && linuxhost::TerminationRequested() &&
      onTerminate)
    onTerminate();
  if (n > 0 && instanceSocket_ >= 0 && (fds[2].revents & POLLIN))
    ReadInstanceSocket();
  // The bus is read when it has something, or when its own deadline has
  // come (also at once when messages wait in its queue): a wake for
  // anything else costs it nothing.
  if (tray_ != nullptr &&
      ((n > 0 && fds[3].revents != 0) || Now() >= tray_->Timeout()))
    tray_->Process();
  LetGoHeldKeys();
  DropIdleSpares();
  DeliverQueuedPointer();
}

// --- The pointer ---------------------------------------------------------

void WaylandDriver::OnSeatCapabilities(uint32_t capabilities) {
  const bool has = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
  if (has && pointerDevice_ == nullptr) {
    pointerDevice_ = wl_seat_get_pointer(seat_);
    wl_pointer_add_listener(pointerDevice_, &kPointerListener, this);
  } else if (!has && pointerDevice_ != nullptr) {
    wl_pointer_release(pointerDevice_);
    pointerDevice_ = nullptr;
  }
}

void WaylandDriver::HandlePointer(const PointerEvent &event) {
  switch (event.kind) {
  case PointerEvent::kEnter: {
    pointerSurface_ = event.surface;
    pointerIn_ = HwndOf(event.surface);
    buttonsDown_ = 0; // no grab holds the pointer when it enters
    if (pointerIn_ == nullptr)
      return;
    SetArrow(event.serial);
    const POINT at = applied_[pointerIn_];
    pointer_ = {at.x + LONG(event.x), at.y + LONG(event.y)};
    portable::DeliverPointer(WM_MOUSEMOVE, pointer_);
    return;
  }
  case PointerEvent::kLeave:
    if (pointerSurface_ == event.surface) {
      pointerSurface_ = nullptr;
      pointerIn_ = nullptr;
      buttonsDown_ = 0; // nothing more comes of a grab that ended
    }
    return;
  case PointerEvent::kMotion: {
    if (pointerIn_ == nullptr)
      return;
    // While a button is down the compositor (sway) keeps giving the point
    // relative to where the surface was at the press, however the program
    // moves it meanwhile (a drag).
    const POINT at = buttonsDown_ > 0 ? grabOrigin_ : applied_[pointerIn_];
    pointer_ = {at.x + LONG(event.x), at.y + LONG(event.y)};
    portable::DeliverPointer(WM_MOUSEMOVE, pointer_);
    return;
  }
  case PointerEvent::kButton: {
    if (event.pressed) {
      if (buttonsDown_++ == 0 && pointerIn_ != nullptr)
        grabOrigin_ = applied_[pointerIn_];
    } else if (buttonsDown_ > 0) {
      --buttonsDown_;
    }
    if (pointerIn_ == nullptr && GetCapture() == nullptr)
      return;
    UINT message = 0;
    if (event.button == BTN_LEFT)
      message = event.pressed ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    else if (event.button == BTN_RIGHT)
      message = event.pressed ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    else if (event.button == BTN_MIDDLE)
      message = event.pressed ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    if (message != 0)
      portable::DeliverPointer(message, pointer_);
    // A drag that crossed onto another output ends: everything of ours
    // goes there now (made again while the button was down, the surface
    // would have lost the pointer).
    if (buttonsDown_ == 0 && outputMoveDue_) {
      outputMoveDue_ = false;
      for (const auto &[hwnd, rect] : rects_)
        if (surfaces_.count(hwnd))
          if (Output *to = OutputFor(rect);
              to != nullptr && to->output != output_) {
            MoveToOutput(*to);
            break;
          }
    }
    return;
  }
  }
}

void WaylandDriver::SetArrow(uint32_t serial) {
  if (pointerDevice_ == nullptr)
    return;
  // At the output's scale, as the compositor draws its own.
  const int scale = Scale();
  if (cursorTheme_ != nullptr && cursorScale_ != scale) {
    wl_cursor_theme_destroy(cursorTheme_);
    cursorTheme_ = nullptr;
  }
  const char *size = std::getenv("XCURSOR_SIZE");
  const int px = size != nullptr ? std::atoi(size) : 0;
  const int wanted = (px > 0 && px <= 256 ? px : 24) * scale;
  if (cursorTheme_ == nullptr) {
    // The user's theme and size, else the library's own arrow.
    cursorTheme_ =
        wl_cursor_theme_load(std::getenv("XCURSOR_THEME"), wanted, shm_);
    if (cursorTheme_ == nullptr)
      return;
    cursorScale_ = scale;
    if (cursorSurface_ == nullptr)
      cursorSurface_ = wl_compositor_create_surface(compositor_);
  }
  wl_cursor *arrow = wl_cursor_theme_get_cursor(cursorTheme_, "left_ptr");
  if (arrow == nullptr)
    arrow = wl_cursor_theme_get_cursor(cursorTheme_, "default");
  if (arrow == nullptr || arrow->image_count == 0)
    return;
  wl_cursor_image *image = arrow->images[0];
  wl_buffer *buffer = wl_cursor_image_get_buffer(image);
  if (buffer == nullptr)
    return;
  // A theme without the size gives the nearest it has (the library's own
  // arrow has one size): a picture much smaller than asked for is shown at
  // scale 1, which the compositor enlarges.
  const int imageScale = image->width * 4 >= unsigned(wanted) * 3 &&
                                 image->width % unsigned(scale) == 0 &&
                                 image->height % unsigned(scale) == 0
                             ? scale
                             : 1;
  wl_surface_set_buffer_scale(cursorSurface_, imageScale);
  wl_surface_attach(cursorSurface_, buffer, 0, 0);
  wl_surface_damage_buffer(cursorSurface_, 0, 0, int32_t(image->width),
                           int32_t(image->height));
  wl_surface_commit(cursorSurface_);
  wl_pointer_set_cursor(pointerDevice_, serial, cursorSurface_,
                        int32_t(image->hotspot_x) / imageScale,
                        int32_t(image->hotspot_y) / imageScale);
}

HWND WaylandDriver::WindowAt(POINT point) {
  // Where the pointer is, enter and leave have told us, except while a
  // button is down: the surface keeps the pointer's events then, wherever
  // it goes, and only the surface's rectangle says whether it is over it.
  // Elsewhere, our own windows by their rectangles.
  if (point.x == pointer_.x && point.y == pointer_.y && buttonsDown_ == 0)
    return pointerIn_;
  return portable::OwnWindowAt(point);
}

// --- Foreign toplevels: the foreground -----------------------------------

void WaylandDriver::OnToplevel(zwlr_foreign_toplevel_handle_v1 *handle) {
  toplevelList_[handle] = Toplevel();
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener,
                                               this);
}

void WaylandDriver::OnToplevelTitle(zwlr_foreign_toplevel_handle_v1 *h,
                                    const char *title) {
  toplevelList_[h].title = title != nullptr ? title : "";
}

void WaylandDriver::OnToplevelAppId(zwlr_foreign_toplevel_handle_v1 *h,
                                    const char *id) {
  toplevelList_[h].appId = id != nullptr ? id : "";
}

void WaylandDriver::OnToplevelState(zwlr_foreign_toplevel_handle_v1 *h,
                                    bool activated) {
  toplevelList_[h].activated = activated;
}

void WaylandDriver::OnToplevelOutput(zwlr_foreign_toplevel_handle_v1 *h,
                                     wl_output *output) {
  toplevelList_[h].output = output;
}

void WaylandDriver::OnToplevelDone(zwlr_foreign_toplevel_handle_v1 *h) {
  Toplevel &t = toplevelList_[h];
  if (t.hwnd == nullptr)
    t.hwnd = portable::RegisterForeignWindow(
        t.appId.empty() ? "WaylandWindow" : t.appId, t.title, RECT{0, 0, 0, 0});
  // Where it is, as far as a client can know: its output (so that the
  // keyboard first shows on the monitor where the user works).
  if (const Output *o = OutputOf(t.output))
    portable::SetForeignWindowRect(t.hwnd, o->Rect());
  HWND now = foreground_;
  if (t.activated)
    now = t.hwnd;
  else if (foreground_ == t.hwnd)
    now = nullptr;
  if (now != foreground_) {
    foreground_ = now;
    portable::ForegroundChanged(foreground_);
  }
}

void WaylandDriver::OnToplevelClosed(zwlr_foreign_toplevel_handle_v1 *h) {
  auto it = toplevelList_.find(h);
  if (it != toplevelList_.end()) {
    const HWND hwnd = it->second.hwnd;
    toplevelList_.erase(it);
    if (hwnd != nullptr) {
      if (foreground_ == hwnd) {
        foreground_ = nullptr;
        portable::ForegroundChanged(nullptr);
      }
      portable::ForgetForeignWindow(hwnd);
    }
  }
  zwlr_foreign_toplevel_handle_v1_destroy(h);
}

void WaylandDriver::OnToplevelsFinished() {
  zwlr_foreign_toplevel_manager_v1_destroy(toplevels_);
  toplevels_ = nullptr;
}

bool WaylandDriver::SetForeground(HWND hwnd) {
  if (hwnd == nullptr)
    return false;
  if (rects_.count(hwnd))
    return true; // our windows never take the focus
  for (auto &[handle, t] : toplevelList_)
    if (t.hwnd == hwnd) {
      zwlr_foreign_toplevel_handle_v1_activate(handle, seat_);
      wl_display_flush(display_);
      return true;
    }
  return false;
}

} // namespace wayland
