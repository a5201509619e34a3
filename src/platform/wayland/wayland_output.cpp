// The output and the work area: the screen's size from the output, the
// work area from a probe surface anchored to all four edges.
#include <wayland-client.h>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wayland_driver.h"

namespace wayland {

namespace {

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

} // namespace

const wl_output_listener *WaylandDriver::OutputListener() {
  return &kOutputListener;
}

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
  if (workWidth_ > 0 && workHeight_ > 0) {
    *area = {0, 0, workWidth_, workHeight_};
  } else {
    int w, h;
    ScreenSize(&w, &h);
    *area = {0, 0, w, h};
  }
  return true;
}

} // namespace wayland
