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
#include <ctime>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/signals.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/status_item.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace wayland {

namespace {

WaylandDriver *instance = nullptr;
WaylandDriver *Of(void *data) { return static_cast<WaylandDriver *>(data); }

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

void OutputGeometry(void *data, wl_output *, int32_t, int32_t, int32_t, int32_t,
                    int32_t, const char *, const char *, int32_t transform) {
  Of(data)->OnOutputTransform(transform);
}
void OutputMode(void *data, wl_output *, uint32_t flags, int32_t width,
                int32_t height, int32_t) {
  Of(data)->OnOutputMode(flags, width, height);
}
void OutputDone(void *data, wl_output *) { Of(data)->OnOutputDone(); }
void OutputScale(void *data, wl_output *, int32_t scale) {
  Of(data)->OnOutputScale(scale);
}
void OutputName(void *, wl_output *, const char *) {}
void OutputDescription(void *, wl_output *, const char *) {}
const wl_output_listener kOutputListener = {OutputGeometry, OutputMode,
                                            OutputDone,     OutputScale,
                                            OutputName,     OutputDescription};

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

void LayerConfigure(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial,
                    uint32_t width, uint32_t height) {
  Of(data)->OnLayerConfigure(layer, serial, width, height);
}
void LayerClosed(void *data, zwlr_layer_surface_v1 *layer) {
  Of(data)->OnLayerClosed(layer);
}
const zwlr_layer_surface_v1_listener kLayerListener = {LayerConfigure,
                                                       LayerClosed};

void BufferRelease(void *data, wl_buffer *buffer) {
  Of(data)->OnBufferRelease(buffer);
}
const wl_buffer_listener kBufferListener = {BufferRelease};

void FrameDone(void *data, wl_callback *callback, uint32_t) {
  Of(data)->OnFrameDone(callback);
}
const wl_callback_listener kFrameListener = {FrameDone};

void MoveDone(void *data, wl_callback *callback, uint32_t) {
  Of(data)->OnMoveApplied(callback);
}
const wl_callback_listener kMoveListener = {MoveDone};

void ToplevelTitle(void *data, zwlr_foreign_toplevel_handle_v1 *h,
                   const char *title) {
  Of(data)->OnToplevelTitle(h, title);
}
void ToplevelAppId(void *data, zwlr_foreign_toplevel_handle_v1 *h,
                   const char *id) {
  Of(data)->OnToplevelAppId(h, id);
}
void ToplevelOutputEnter(void *, zwlr_foreign_toplevel_handle_v1 *,
                         wl_output *) {}
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
  } else if (is == wl_output_interface.name && output_ == nullptr) {
    // One output: the first the compositor names.
    output_ = static_cast<wl_output *>(bind(&wl_output_interface, 2));
    outputName_ = name;
    wl_output_add_listener(output_, &kOutputListener, this);
    if (probeLost_ || menuSurfaceLost_ || !lostSurfaces_.empty())
      RemakeLostSurfaces();
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
  if (name == outputName_ && output_ != nullptr) {
    // The output went away: the size stays what it was until another
    // comes; the surfaces are the compositor's to move.
    wl_output_destroy(output_);
    output_ = nullptr;
    outputName_ = 0;
  }
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
  if (!InitKeyboard(error))
    return false;

  MakeProbe();
  MakeMenuSurface(); // before any keyboard surface: above them
  Roundtrip();
  if (lost_) {
    *error = "the compositor ended the connection (it refused the virtual "
             "keyboard or the layer surface)";
    return false;
  }
  UpdateScreen();

  signalFd_ = portable::CatchTermination();
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
    if (toplevels_ != nullptr)
      zwlr_foreign_toplevel_manager_v1_destroy(toplevels_);
    if (cursorSurface_ != nullptr)
      wl_surface_destroy(cursorSurface_);
    if (cursorTheme_ != nullptr)
      wl_cursor_theme_destroy(cursorTheme_);
    if (pointerDevice_ != nullptr)
      wl_pointer_release(pointerDevice_);
    if (keyboardManager_ != nullptr)
      zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
    if (layerShell_ != nullptr) {
      if (zwlr_layer_shell_v1_get_version(layerShell_) >= 3)
        zwlr_layer_shell_v1_destroy(layerShell_);
      else
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(layerShell_));
    }
    if (output_ != nullptr)
      wl_output_destroy(output_);
    if (seat_ != nullptr)
      wl_seat_destroy(seat_);
    if (shm_ != nullptr)
      wl_shm_destroy(shm_);
    if (compositor_ != nullptr)
      wl_compositor_destroy(compositor_);
    if (registry_ != nullptr)
      wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
  }
  if (instanceSocket_ >= 0) {
    close(instanceSocket_);
    unlink(instancePath_.c_str());
  }
  instance = nullptr;
}

uint64_t WaylandDriver::Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

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
bool WaylandDriver::HandOutInput() {
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

void WaylandDriver::Wait(uint64_t deadline) { PumpEvents(deadline); }

// The compositor's events are read between queued messages too: a program
// busy with a long queue (a flood of show and hide requests) that left them
// unread would be disconnected when the compositor's buffer for it fills.
void WaylandDriver::Poll() {
  if (wl_display_flush(display_) < 0 && errno != EAGAIN)
    ConnectionLost();
  while (wl_display_prepare_read(display_) != 0)
    if (wl_display_dispatch_pending(display_) < 0)
      ConnectionLost();
  pollfd fd = {wl_display_get_fd(display_), POLLIN, 0};
  if (poll(&fd, 1, 0) > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR))) {
    if (wl_display_read_events(display_) < 0)
      ConnectionLost();
  } else {
    wl_display_cancel_read(display_);
  }
  if (wl_display_dispatch_pending(display_) < 0 || lost_)
    ConnectionLost();
}

void WaylandDriver::PumpEvents(uint64_t deadline) {
  if (HandOutInput())
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
  if (!input_.empty()) {
    wl_display_cancel_read(display_);
    HandOutInput();
    return;
  }
  deadline = std::min(deadline, NextLetGo());
  int timeout = -1;
  if (deadline != UINT64_MAX) {
    const uint64_t now = Now();
    timeout =
        deadline > now ? int(std::min<uint64_t>(deadline - now, 60000)) : 0;
  }
  pollfd fds[4] = {
      {wl_display_get_fd(display_), short(POLLIN | (unsent ? POLLOUT : 0)), 0},
      {signalFd_, POLLIN, 0},
      {instanceSocket_, POLLIN, 0},
      {-1, 0, 0}};
  if (tray_ != nullptr) {
    fds[3].fd = tray_->Fd();
    fds[3].events = short(tray_->Events());
    const uint64_t due = tray_->Timeout(); // on the same clock, in ms
    if (due != UINT64_MAX) {
      const uint64_t now = Now();
      const int t = due > now ? int(std::min<uint64_t>(due - now, 60000)) : 0;
      if (timeout < 0 || t < timeout)
        timeout = t;
    }
  }
  const int n = poll(fds, 4, timeout);
  if (n > 0 && (fds[0].revents & POLLOUT))
    wl_display_flush(display_);
  if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
    if (wl_display_read_events(display_) < 0)
      ConnectionLost();
  } else {
    wl_display_cancel_read(display_);
  }
  if (wl_display_dispatch_pending(display_) < 0 || lost_)
    ConnectionLost();
  if (n > 0 && (fds[1].revents & POLLIN) && portable::TerminationRequested() &&
      onTerminate)
    onTerminate();
  if (n > 0 && instanceSocket_ >= 0 && (fds[2].revents & POLLIN))
    ReadInstanceSocket();
  if (tray_ != nullptr)
    tray_->Process();
  LetGoHeldKeys();
  HandOutInput();
}

// --- The output and the work area ---------------------------------------

void WaylandDriver::OnOutputMode(uint32_t flags, int32_t width,
                                 int32_t height) {
  if (flags & WL_OUTPUT_MODE_CURRENT) {
    modeWidth_ = width;
    modeHeight_ = height;
  }
}

void WaylandDriver::OnOutputDone() { UpdateScreen(); }

void WaylandDriver::UpdateScreen() {
  int w = modeWidth_ / outputScale_, h = modeHeight_ / outputScale_;
  if (outputTransform_ & 1) // turned a quarter
    std::swap(w, h);
  if (w <= 0 || h <= 0)
    return;
  const bool changed =
      screenWidth_ != 0 && (w != screenWidth_ || h != screenHeight_);
  screenWidth_ = w;
  screenHeight_ = h;
  if (changed)
    portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 32,
                                    MAKELPARAM(unsigned(w), unsigned(h)));
}

void WaylandDriver::ScreenSize(int *width, int *height) {
  *width = screenWidth_ > 0 ? screenWidth_ : 1024;
  *height = screenHeight_ > 0 ? screenHeight_ : 768;
}

// The work area is what a surface anchored to all four edges, with an
// exclusive zone of 0, is given: the output less the other surfaces'
// exclusive zones. The probe never shows anything; it is told again when
// the area changes.
void WaylandDriver::MakeProbe() {
  MakeWorkAreaSurface(probe_, ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND,
                      "flinto-work-area", &kLayerListener);
  // Pointer events never go to it: an empty input region.
  wl_region *none = wl_compositor_create_region(compositor_);
  wl_surface_set_input_region(probe_.surface, none);
  wl_region_destroy(none);
  wl_surface_commit(probe_.surface);
}

// A surface of the layer anchored to all four edges with an exclusive zone
// of 0: it covers the work area. Not committed yet.
void WaylandDriver::MakeWorkAreaSurface(
    LayerSurface &s, uint32_t layer, const char *name,
    const zwlr_layer_surface_v1_listener *listener) {
  s.surface = wl_compositor_create_surface(compositor_);
  s.layer = zwlr_layer_shell_v1_get_layer_surface(layerShell_, s.surface,
                                                  output_, layer, name);
  zwlr_layer_surface_v1_add_listener(s.layer, listener, this);
  zwlr_layer_surface_v1_set_anchor(s.layer,
                                   ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_size(s.layer, 0, 0);
  zwlr_layer_surface_v1_set_exclusive_zone(s.layer, 0);
  zwlr_layer_surface_v1_set_keyboard_interactivity(s.layer, 0);
}

bool WaylandDriver::WorkArea(RECT *area) {
  if (workWidth_ > 0 && workHeight_ > 0) {
    *area = {0, 0, workWidth_, workHeight_};
  } else {
    int w, h;
    ScreenSize(&w, &h);
    *area = {0, 0, w, h};
  }
  return true;
}

// --- Our windows ---------------------------------------------------------

LayerSurface *WaylandDriver::SurfaceOf(HWND hwnd) {
  auto it = surfaces_.find(hwnd);
  return it != surfaces_.end() ? &it->second : nullptr;
}

HWND WaylandDriver::HwndOf(wl_surface *surface) const {
  for (const auto &[hwnd, s] : surfaces_)
    if (s.surface == surface)
      return hwnd;
  return nullptr;
}

void WaylandDriver::OnLayerConfigure(zwlr_layer_surface_v1 *layer,
                                     uint32_t serial, uint32_t width,
                                     uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(layer, serial);
  if (layer == probe_.layer) {
    const bool changed = workWidth_ != 0 && (int(width) != workWidth_ ||
                                             int(height) != workHeight_);
    workWidth_ = int(width);
    workHeight_ = int(height);
    // An empty commit acknowledges it; the probe stays without content.
    wl_surface_commit(probe_.surface);
    if (changed)
      portable::PostToTopLevelWindows(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    return;
  }
  for (auto &[hwnd, s] : surfaces_) {
    if (s.layer != layer)
      continue;
    s.configured = true;
    s.configuredWidth = width;
    s.configuredHeight = height;
    const RECT &r = rects_[hwnd];
    s.damage = {0, 0, r.right - r.left, r.bottom - r.top};
    Draw(hwnd, s);
    return;
  }
}

void WaylandDriver::OnLayerClosed(zwlr_layer_surface_v1 *layer) {
  // The compositor will not show it any more (its output went away): made
  // again when an output comes, as a window that is still shown must be
  // somewhere.
  if (layer == probe_.layer) {
    DestroySurface(probe_);
    probeLost_ = true;
    return;
  }
  for (auto &[hwnd, s] : surfaces_)
    if (s.layer == layer) {
      const HWND shown = hwnd;
      UnmapSurface(shown);
      lostSurfaces_.insert(shown);
      return;
    }
}

// An output came after ours went: what the compositor closed is made again.
void WaylandDriver::RemakeLostSurfaces() {
  if (probeLost_) {
    probeLost_ = false;
    MakeProbe();
  }
  if (menuSurfaceLost_) {
    menuSurfaceLost_ = false;
    MakeMenuSurface();
  }
  const std::set<HWND> lost = std::move(lostSurfaces_);
  lostSurfaces_.clear();
  for (HWND hwnd : lost)
    if (rects_.count(hwnd) && IsWindowVisible(hwnd))
      MapSurface(hwnd);
}

void WaylandDriver::WindowCreated(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  rects_[hwnd] = r;
  alpha_[hwnd] = 255;
  const std::string *cls = portable::WindowClassName(hwnd);
  if (cls != nullptr && *cls == "FlintoHidden")
    ListenForInstances();
}

void WaylandDriver::WindowDestroyed(HWND hwnd) {
  UnmapSurface(hwnd);
  lostSurfaces_.erase(hwnd);
  rects_.erase(hwnd);
  alpha_.erase(hwnd);
  if (pointerIn_ == hwnd)
    pointerIn_ = nullptr;
}

void WaylandDriver::WindowShown(HWND hwnd, bool visible) {
  if (visible)
    MapSurface(hwnd);
  else
    UnmapSurface(hwnd);
  wl_display_flush(display_);
}

void WaylandDriver::MapSurface(HWND hwnd) {
  if (surfaces_.count(hwnd))
    return;
  LayerSurface &s = surfaces_[hwnd];
  s.surface = wl_compositor_create_surface(compositor_);
  s.layer = zwlr_layer_shell_v1_get_layer_surface(
      layerShell_, s.surface, output_, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
      "flinto");
  zwlr_layer_surface_v1_add_listener(s.layer, &kLayerListener, this);
  zwlr_layer_surface_v1_set_anchor(s.layer,
                                   ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
  zwlr_layer_surface_v1_set_exclusive_zone(s.layer, 0);
  // Never the keyboard focus: the application keeps it.
  zwlr_layer_surface_v1_set_keyboard_interactivity(s.layer, 0);
  PlaceSurface(hwnd, s);
  wl_surface_commit(s.surface);
}

void WaylandDriver::PlaceSurface(HWND hwnd, LayerSurface &s) {
  const RECT &r = rects_[hwnd];
  zwlr_layer_surface_v1_set_size(s.layer,
                                 uint32_t(std::max<LONG>(1, r.right - r.left)),
                                 uint32_t(std::max<LONG>(1, r.bottom - r.top)));
  zwlr_layer_surface_v1_set_margin(s.layer, r.top, 0, 0, r.left);
  if (!applied_.count(hwnd))
    applied_[hwnd] = {r.left, r.top};
}

void WaylandDriver::DestroySurface(LayerSurface &s) {
  if (s.frame != nullptr)
    wl_callback_destroy(s.frame);
  if (s.layer != nullptr)
    zwlr_layer_surface_v1_destroy(s.layer);
  if (s.surface != nullptr)
    wl_surface_destroy(s.surface);
  for (Buffer &b : s.buffers)
    DropBuffer(b);
  s = LayerSurface();
}

void WaylandDriver::UnmapSurface(HWND hwnd) {
  auto it = surfaces_.find(hwnd);
  if (it == surfaces_.end())
    return;
  if (pointerSurface_ == it->second.surface) {
    pointerSurface_ = nullptr;
    pointerIn_ = nullptr;
  }
  DestroySurface(it->second);
  surfaces_.erase(it);
  applied_.erase(hwnd);
  // A place taken before it went says nothing of where it comes back.
  for (auto &[callback, move] : moves_)
    if (move.first == hwnd)
      move.first = nullptr;
}

void WaylandDriver::WindowMoved(HWND hwnd, const RECT &rect) {
  const RECT before = rects_[hwnd];
  rects_[hwnd] = rect;
  LayerSurface *s = SurfaceOf(hwnd);
  if (s == nullptr)
    return;
  PlaceSurface(hwnd, *s);
  const bool resized = rect.right - rect.left != before.right - before.left ||
                       rect.bottom - rect.top != before.bottom - before.top;
  if (resized) {
    // Drawn at the new size once the program paints it.
    s->damage = {0, 0, rect.right - rect.left, rect.bottom - rect.top};
  }
  wl_surface_commit(s->surface);
  // Pointer events the compositor sent before it took the new place are
  // relative to the old one: the new place counts once a round trip says
  // the commit was taken.
  wl_callback *done = wl_display_sync(display_);
  wl_callback_add_listener(done, &kMoveListener, this);
  moves_[done] = {hwnd, {rect.left, rect.top}};
  wl_display_flush(display_);
}

void WaylandDriver::OnMoveApplied(wl_callback *callback) {
  auto it = moves_.find(callback);
  if (it != moves_.end()) {
    if (it->second.first != nullptr && surfaces_.count(it->second.first))
      applied_[it->second.first] = it->second.second;
    moves_.erase(it);
  }
  wl_callback_destroy(callback);
}

void WaylandDriver::WindowExStyle(HWND hwnd, LONG before, LONG after) {
  if ((before & WS_EX_LAYERED) && !(after & WS_EX_LAYERED))
    SetAlpha(hwnd, 255);
}

bool WaylandDriver::SetAlpha(HWND hwnd, BYTE alpha) {
  if (!rects_.count(hwnd))
    return false;
  if (alpha_[hwnd] == alpha)
    return true;
  alpha_[hwnd] = alpha;
  if (LayerSurface *s = SurfaceOf(hwnd)) {
    const RECT &r = rects_[hwnd];
    s->damage = {0, 0, r.right - r.left, r.bottom - r.top};
    Draw(hwnd, *s);
  }
  return true;
}

bool WaylandDriver::MakeBuffer(Buffer &b, int width, int height) {
  DropBuffer(b);
  const size_t bytes = size_t(width) * size_t(height) * 4;
  const int fd = memfd_create("flinto", MFD_CLOEXEC);
  if (fd < 0)
    return false;
  if (ftruncate(fd, off_t(bytes)) != 0) {
    close(fd);
    return false;
  }
  void *data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) {
    close(fd);
    return false;
  }
  wl_shm_pool *pool = wl_shm_create_pool(shm_, fd, int32_t(bytes));
  b.buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4,
                                       WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(b.buffer, &kBufferListener, this);
  b.pixels = static_cast<uint32_t *>(data);
  b.bytes = bytes;
  b.width = width;
  b.height = height;
  b.busy = false;
  return true;
}

void WaylandDriver::DropBuffer(Buffer &b) {
  if (b.buffer != nullptr)
    wl_buffer_destroy(b.buffer);
  if (b.pixels != nullptr)
    munmap(b.pixels, b.bytes);
  b = Buffer();
}

// A buffer the compositor is not reading, of the size: one of the two.
Buffer *WaylandDriver::FreeBuffer(LayerSurface &s, int width, int height) {
  for (Buffer &b : s.buffers)
    if (!b.busy && b.buffer != nullptr && b.width == width &&
        b.height == height)
      return &b;
  for (Buffer &b : s.buffers)
    if (!b.busy)
      return MakeBuffer(b, width, height) ? &b : nullptr;
  return nullptr;
}

void WaylandDriver::OnBufferRelease(wl_buffer *buffer) {
  if (OnMenuBufferRelease(buffer))
    return;
  for (auto &[hwnd, s] : surfaces_)
    for (Buffer &b : s.buffers)
      if (b.buffer == buffer) {
        b.busy = false;
        if (s.redrawDue && s.frame == nullptr)
          Draw(hwnd, s);
        return;
      }
}

void WaylandDriver::OnFrameDone(wl_callback *callback) {
  for (auto &[hwnd, s] : surfaces_)
    if (s.frame == callback) {
      wl_callback_destroy(callback);
      s.frame = nullptr;
      if (s.redrawDue)
        Draw(hwnd, s);
      return;
    }
  wl_callback_destroy(callback);
}

void WaylandDriver::Present(HWND hwnd, const portable::Bitmap &,
                            const RECT &dirty) {
  LayerSurface *s = SurfaceOf(hwnd);
  if (s == nullptr)
    return;
  RECT &d = s->damage;
  if (d.left >= d.right || d.top >= d.bottom) {
    d = dirty;
  } else {
    d = {std::min(d.left, dirty.left), std::min(d.top, dirty.top),
         std::max(d.right, dirty.right), std::max(d.bottom, dirty.bottom)};
  }
  Draw(hwnd, *s);
}

// The window's picture into a free buffer, premultiplied by the window's
// alpha; the damage is what changed since the last buffer went out. Waits
// for the compositor's frame and for a free buffer.
void WaylandDriver::Draw(HWND hwnd, LayerSurface &s) {
  s.redrawDue = true;
  if (!s.configured || s.frame != nullptr)
    return;
  const portable::Bitmap *picture = portable::WindowSurface(hwnd);
  if (picture == nullptr || picture->bpp != 32 || picture->bottomUp ||
      picture->width <= 0 || picture->height <= 0)
    return;
  Buffer *b = FreeBuffer(s, picture->width, picture->height);
  if (b == nullptr)
    return; // drawn when one is released
  // The other buffer may hold an older picture: the whole picture is
  // copied, only the damage is announced.
  const uint32_t a = alpha_[hwnd];
  for (int y = 0; y < picture->height; ++y) {
    const uint32_t *from = reinterpret_cast<const uint32_t *>(
        picture->data.data() + size_t(y) * picture->stride);
    uint32_t *to = b->pixels + size_t(y) * size_t(picture->width);
    if (a == 255) {
      for (int x = 0; x < picture->width; ++x)
        to[x] = 0xFF000000u | (from[x] & 0xFFFFFFu);
    } else {
      for (int x = 0; x < picture->width; ++x) {
        const uint32_t c = from[x];
        const uint32_t r = ((c >> 16) & 0xFF) * a / 255;
        const uint32_t g = ((c >> 8) & 0xFF) * a / 255;
        const uint32_t bl = (c & 0xFF) * a / 255;
        to[x] = (a << 24) | (r << 16) | (g << 8) | bl;
      }
    }
  }
  RECT d = s.damage;
  if (d.left >= d.right || d.top >= d.bottom)
    d = {0, 0, picture->width, picture->height};
  wl_surface_attach(s.surface, b->buffer, 0, 0);
  wl_surface_damage_buffer(s.surface, d.left, d.top, d.right - d.left,
                           d.bottom - d.top);
  s.frame = wl_surface_frame(s.surface);
  wl_callback_add_listener(s.frame, &kFrameListener, this);
  wl_surface_commit(s.surface);
  b->busy = true;
  s.damage = {0, 0, 0, 0};
  s.redrawDue = false;
  wl_display_flush(display_);
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
    return;
  }
  }
}

void WaylandDriver::SetArrow(uint32_t serial) {
  if (pointerDevice_ == nullptr)
    return;
  if (cursorTheme_ == nullptr) {
    // The user's theme and size, else the library's own arrow.
    const char *size = std::getenv("XCURSOR_SIZE");
    const int px = size != nullptr ? std::atoi(size) : 0;
    cursorTheme_ = wl_cursor_theme_load(std::getenv("XCURSOR_THEME"),
                                        px > 0 && px <= 256 ? px : 24, shm_);
    if (cursorTheme_ == nullptr)
      return;
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
  wl_surface_attach(cursorSurface_, buffer, 0, 0);
  wl_surface_damage_buffer(cursorSurface_, 0, 0, int32_t(image->width),
                           int32_t(image->height));
  wl_surface_commit(cursorSurface_);
  wl_pointer_set_cursor(pointerDevice_, serial, cursorSurface_,
                        int32_t(image->hotspot_x), int32_t(image->hotspot_y));
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

void WaylandDriver::OnToplevelDone(zwlr_foreign_toplevel_handle_v1 *h) {
  Toplevel &t = toplevelList_[h];
  if (t.hwnd == nullptr)
    t.hwnd = portable::RegisterForeignWindow(
        t.appId.empty() ? "WaylandWindow" : t.appId, t.title, RECT{0, 0, 0, 0});
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

// --- One Flinto per session ----------------------------------------------

// A socket in the user's runtime folder (mode 0700: no other user reaches
// it), named after the compositor's socket. One left behind by a Flinto that
// was killed refuses connections, and is replaced.
std::string WaylandDriver::InstanceAddress() const {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  const char *name = std::getenv("WAYLAND_DISPLAY");
  if (runtime == nullptr || runtime[0] != '/')
    return "";
  // Only in a folder no other user can reach: there no one else can take
  // the name, answer in Flinto's place or send it messages.
  std::string why;
  if (!IsPrivateFolder(runtime, &why)) {
    static bool said = false;
    if (!said)
      std::fprintf(stderr, "flinto: %s; a second Flinto will not be found\n",
                   why.c_str());
    said = true;
    return "";
  }
  // The compositor's socket as libwayland finds it: a name in the runtime
  // folder (wayland-0 when unset), or a path; one compositor, one name.
  std::string display = name != nullptr && name[0] != '\0' ? name : "wayland-0";
  const std::string folder = std::string(runtime) + "/";
  if (display.compare(0, folder.size(), folder) == 0)
    display.erase(0, folder.size());
  std::replace(display.begin(), display.end(), '/', '_');
  const std::string path = folder + "flinto-" + display + ".socket";
  return path.size() < sizeof(sockaddr_un::sun_path) ? path : "";
}

bool IsPrivateFolder(const std::string &dir, std::string *why) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *why = dir + " is not a folder";
    return false;
  }
  if (st.st_uid != getuid()) {
    *why = dir + " belongs to another user";
    return false;
  }
  if ((st.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    *why = dir + " has mode " + mode + ", not 0700";
    return false;
  }
  return true;
}

namespace {

socklen_t SocketAddress(const std::string &path, sockaddr_un *address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.data(), path.size());
  return socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

// Whether a running program holds the socket.
bool Answers(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  sockaddr_un address;
  const socklen_t length = SocketAddress(path, &address);
  const bool running =
      connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
  close(fd);
  return running;
}

} // namespace

void WaylandDriver::ListenForInstances() {
  const std::string path = InstanceAddress();
  if (instanceSocket_ >= 0 || path.empty())
    return;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return;
  sockaddr_un address;
  const socklen_t length = SocketAddress(path, &address);
  const mode_t mask = umask(0077);
  bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
  if (!bound && errno == EADDRINUSE && !Answers(path)) {
    unlink(path.c_str());
    bound = bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
  }
  umask(mask);
  if (!bound) {
    close(fd);
    return;
  }
  instanceSocket_ = fd;
  instancePath_ = path;
}

void WaylandDriver::ReadInstanceSocket() {
  int64_t message[3];
  ssize_t n;
  // A bounded number at a time: the compositor's events are read between
  // two helpings, however fast they come.
  for (int taken = 0; taken < 64 && (n = recv(instanceSocket_, message,
                                              sizeof message, 0)) > 0;
       ++taken) {
    if (n != sizeof message)
      continue;
    // Another Flinto: private messages only, to our hidden owner window.
    const UINT msg = UINT(message[0]);
    const HWND owner = FindWindowA("FlintoHidden", nullptr);
    if (msg >= WM_USER && msg <= 0x7FFF && owner != nullptr)
      portable::PostMessageOnce(owner, msg, WPARAM(message[1]),
                                LPARAM(message[2]));
  }
}

HWND WaylandDriver::FindForeignWindow(const std::string &className) {
  if (className != "FlintoHidden" || instanceSocket_ >= 0)
    return nullptr;
  const std::string path = InstanceAddress();
  if (path.empty() || !Answers(path))
    return nullptr;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
      st.st_uid != getuid()) {
    std::fprintf(stderr, "flinto: %s is not a Flinto's socket; starting\n",
                 path.c_str());
    return nullptr;
  }
  for (const auto &[hwnd, p] : instances_)
    if (p == path && IsWindow(hwnd))
      return hwnd;
  HWND hwnd = portable::RegisterForeignWindow(className, "", RECT{0, 0, 0, 0});
  instances_[hwnd] = path;
  return hwnd;
}

bool WaylandDriver::PostForeign(HWND hwnd, UINT msg, WPARAM wParam,
                                LPARAM lParam) {
  auto it = instances_.find(hwnd);
  if (it == instances_.end())
    return false;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  sockaddr_un address;
  const socklen_t length = SocketAddress(it->second, &address);
  const int64_t message[3] = {int64_t(msg), int64_t(wParam), int64_t(lParam)};
  // Never held up by a Flinto that does not read its socket.
  const bool sent = sendto(fd, message, sizeof message, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr *>(&address),
                           length) == ssize_t(sizeof message);
  close(fd);
  return sent;
}

// --- The tray ------------------------------------------------------------

bool WaylandDriver::Tray(DWORD message, const NOTIFYICONDATAA &data) {
  if (message == NIM_DELETE) {
    const bool had = tray_ != nullptr;
    tray_.reset();
    return had;
  }
  if (message == NIM_MODIFY)
    return tray_ != nullptr && tray_->Registered();
  if (message != NIM_ADD)
    return false;
  if (tray_ == nullptr) {
    tray_ = StatusItem::Create(this, data.szTip);
    if (tray_ == nullptr)
      return false; // no session bus
  }
  return tray_->Register();
}

void WaylandDriver::TrayActivated(int, int) {
  if (menu_ != nullptr) {
    CloseMenu(); // a click on the icon is a click outside the menu
    return;
  }
  portable::TrayClicked(WM_LBUTTONDOWN);
}

void WaylandDriver::TrayContextMenu(int x, int y) {
  if (menu_ != nullptr) {
    CloseMenu();
    return;
  }
  // The menu opens where the item says it was clicked, on the output. The
  // icon is on a bar outside the work area: a point above (left of) where
  // the work area could start says the bar is at the top (left), and the
  // work area starts after it.
  if (x >= 0 && y >= 0 && x < 65536 && y < 65536) {
    int w, h;
    ScreenSize(&w, &h);
    RECT work;
    WorkArea(&work);
    const int top = h - work.bottom, left = w - work.right;
    pointer_ = {x < left ? x - left : x, y < top ? y - top : y};
    pointerIn_ = nullptr;
  }
  portable::TrayClicked(WM_RBUTTONUP);
}

} // namespace wayland
