// The outputs and the work area: the monitors from the outputs, the work
// area from a probe surface anchored to all four edges of the keyboard's.
#include <wayland-client.h>

#include <algorithm>
#include <cstdint>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wayland_driver.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace wayland {

namespace {

void OutputGeometry(void *data, wl_output *output, int32_t x, int32_t y,
                    int32_t, int32_t, int32_t, const char *, const char *,
                    int32_t transform) {
  Of(data)->OnOutputGeometry(output, x, y, transform);
}
void OutputMode(void *data, wl_output *output, uint32_t flags, int32_t width,
                int32_t height, int32_t) {
  Of(data)->OnOutputMode(output, flags, width, height);
}
void OutputDone(void *data, wl_output *output) {
  Of(data)->OnOutputDone(output);
}
void OutputScale(void *data, wl_output *output, int32_t scale) {
  Of(data)->OnOutputScale(output, scale);
}
void OutputName(void *, wl_output *, const char *) {}
void OutputDescription(void *, wl_output *, const char *) {}
const wl_output_listener kOutputListener = {OutputGeometry, OutputMode,
                                            OutputDone,     OutputScale,
                                            OutputName,     OutputDescription};

// The xdg output: where the output lies in the compositor's layout and its
// logical size (a wl_output's own position is 0, 0 on wlroots).
void LogicalPosition(void *data, zxdg_output_v1 *logical, int32_t x,
                     int32_t y) {
  Of(data)->OnLogicalPosition(logical, x, y);
}
void LogicalSize(void *data, zxdg_output_v1 *logical, int32_t w, int32_t h) {
  Of(data)->OnLogicalSize(logical, w, h);
}
void LogicalDone(void *data, zxdg_output_v1 *logical) {
  Of(data)->OnLogicalDone(logical);
}
void LogicalName(void *, zxdg_output_v1 *, const char *) {}
void LogicalDescription(void *, zxdg_output_v1 *, const char *) {}
const zxdg_output_v1_listener kLogicalListener = {
    LogicalPosition, LogicalSize, LogicalDone, LogicalName, LogicalDescription};

} // namespace

const wl_output_listener *WaylandDriver::OutputListener() {
  return &kOutputListener;
}

void WaylandDriver::FollowLogical(Output &o) {
  if (xdgOutputs_ == nullptr || o.logical != nullptr)
    return;
  o.logical = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, o.output);
  zxdg_output_v1_add_listener(o.logical, &kLogicalListener, this);
}

WaylandDriver::Output *WaylandDriver::LogicalOf(zxdg_output_v1 *logical) {
  for (Output &o : outputs_)
    if (o.logical == logical && logical != nullptr)
      return &o;
  return nullptr;
}

void WaylandDriver::OnLogicalPosition(zxdg_output_v1 *logical, int32_t x,
                                      int32_t y) {
  if (Output *o = LogicalOf(logical)) {
    o->x = x;
    o->y = y;
  }
}

void WaylandDriver::OnLogicalSize(zxdg_output_v1 *logical, int32_t width,
                                  int32_t height) {
  if (Output *o = LogicalOf(logical)) {
    o->logicalWidth = width;
    o->logicalHeight = height;
  }
}

// (Version 3 says it with the wl_output's done instead.)
void WaylandDriver::OnLogicalDone(zxdg_output_v1 *logical) {
  if (Output *o = LogicalOf(logical)) {
    PlaceToplevels(*o);
    if (o->output == output_)
      UpdateScreen();
  }
}

// The applications' windows on the output are where it is (as far as a
// client can know where they are).
void WaylandDriver::PlaceToplevels(const Output &o) {
  for (const auto &[handle, t] : toplevelList_)
    if (t.hwnd != nullptr && t.output == o.output)
      portable::SetForeignWindowRect(t.hwnd, o.Rect());
}

RECT WaylandDriver::Output::Rect() const {
  if (logicalWidth > 0 && logicalHeight > 0)
    return {x, y, x + logicalWidth, y + logicalHeight};
  int w = modeWidth / scale, h = modeHeight / scale;
  if (transform & 1) // turned a quarter
    std::swap(w, h);
  return {x, y, x + w, y + h};
}

WaylandDriver::Output *WaylandDriver::OutputOf(wl_output *output) {
  for (Output &o : outputs_)
    if (o.output == output && output != nullptr)
      return &o;
  return nullptr;
}

WaylandDriver::Output *WaylandDriver::OutputFor(const RECT &rect) {
  Output *best = nullptr;
  int64_t most = 0;
  for (Output &o : outputs_) {
    if (!o.done)
      continue;
    const RECT r = o.Rect();
    const int64_t w =
        int64_t(std::min(rect.right, r.right)) - std::max(rect.left, r.left);
    const int64_t h =
        int64_t(std::min(rect.bottom, r.bottom)) - std::max(rect.top, r.top);
    if (w > 0 && h > 0 && w * h > most) {
      most = w * h;
      best = &o;
    }
  }
  return best;
}

void WaylandDriver::OnOutputGeometry(wl_output *output, int32_t x, int32_t y,
                                     int32_t transform) {
  if (Output *o = OutputOf(output)) {
    if (o->logical == nullptr) {
      o->x = x;
      o->y = y;
    }
    o->transform = transform;
  }
}

void WaylandDriver::OnOutputMode(wl_output *output, uint32_t flags,
                                 int32_t width, int32_t height) {
  Output *o = OutputOf(output);
  if (o != nullptr && (flags & WL_OUTPUT_MODE_CURRENT)) {
    o->modeWidth = width;
    o->modeHeight = height;
  }
}

void WaylandDriver::OnOutputScale(wl_output *output, int32_t scale) {
  if (Output *o = OutputOf(output))
    o->scale = scale > 0 ? scale : 1;
}

void WaylandDriver::OnOutputDone(wl_output *output) {
  Output *o = OutputOf(output);
  if (o == nullptr)
    return;
  PlaceToplevels(*o);
  const bool first = !o->done;
  o->done = true;
  if (output == output_) {
    UpdateScreen();
  } else if (first && screenWidth_ != 0) {
    // Another monitor: the program looks whether the keyboard is still
    // where it can be (it is: nothing moves for a monitor plugged in).
    portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 32, 0);
  }
}

void WaylandDriver::UpdateScreen() {
  const Output *o = CurrentOutput();
  if (o == nullptr)
    return;
  const RECT r = o->Rect();
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0)
    return;
  origin_ = {r.left, r.top};
  // Our windows are drawn at the output's scale (each draws again when it
  // changes).
  for (const auto &[hwnd, rect] : rects_)
    portable::SetWindowScale(hwnd, o->scale);
  const bool changed =
      screenWidth_ != 0 && (w != screenWidth_ || h != screenHeight_);
  screenWidth_ = w;
  screenHeight_ = h;
  if (changed)
    portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 32,
                                    MAKELPARAM(unsigned(w), unsigned(h)));
}

// The keyboard's output is no longer where it is, or has gone: the probe,
// the menu's surface and every shown surface are made again on `to`.
void WaylandDriver::MoveToOutput(Output &to) {
  output_ = to.output;
  UpdateScreen();
  // The work area is the whole output until the new probe says, and its
  // first size is news.
  workWidth_ = workHeight_ = 0;
  workMoved_ = true;
  DestroySurface(probe_);
  probeLost_ = false;
  MakeProbe();
  if (menu_ == nullptr) {
    DestroySurface(menuSurface_);
    menuSurfaceLost_ = false;
    MakeMenuSurface();
  }
  std::vector<HWND> shown;
  for (auto &[hwnd, surface] : surfaces_)
    shown.push_back(hwnd);
  for (HWND hwnd : lostSurfaces_)
    shown.push_back(hwnd);
  lostSurfaces_.clear();
  for (HWND hwnd : shown) {
    UnmapSurface(hwnd);
    applied_.erase(hwnd);
    if (rects_.count(hwnd) && IsWindowVisible(hwnd)) {
      MapSurface(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
    }
  }
  wl_display_flush(display_);
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
                      "flinto-work-area", LayerListener());
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
  int w = workWidth_, h = workHeight_;
  if (w <= 0 || h <= 0)
    ScreenSize(&w, &h);
  *area = {origin_.x, origin_.y, origin_.x + w, origin_.y + h};
  return true;
}

// Each output a monitor; the keyboard's has the work area the probe finds
// (the others' are taken whole).
std::vector<portable::Driver::Monitor> WaylandDriver::Monitors() {
  std::vector<Monitor> monitors;
  for (const Output &o : outputs_) {
    if (!o.done || o.Rect().right <= o.Rect().left)
      continue;
    Monitor m;
    m.rect = m.work = o.Rect();
    if (o.output == output_) {
      WorkArea(&m.work);
      monitors.insert(monitors.begin(), m);
    } else {
      monitors.push_back(m);
    }
  }
  if (monitors.empty())
    return Driver::Monitors();
  return monitors;
}

} // namespace wayland
