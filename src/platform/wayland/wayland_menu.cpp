// The popup menu: drawn on a transparent surface of the overlay layer that
// covers the work area, so that a click anywhere outside the menu reaches
// it and closes the menu, whether or not the keyboard is shown, and the
// application keeps the keyboard focus. The program's timers keep running
// while it is open.
#include <wayland-client.h>

#include <algorithm>

#include "platform/portable/menu_view.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wayland_driver.h"

namespace wayland {

struct WaylandDriver::Menu {
  explicit Menu(const std::vector<portable::MenuItem> &items) : view(items) {}
  portable::MenuView view;
  LayerSurface s;
  int wantX = 0, wantY = 0; // the point it was asked at
  int x = 0, y = 0;         // its top-left corner on the surface
  int width = 0, height = 0;
  portable::Bitmap pixels;
};

namespace {

void MenuConfigure(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial,
                   uint32_t width, uint32_t height) {
  static_cast<WaylandDriver *>(data)->OnMenuConfigure(layer, serial, width,
                                                      height);
}
void MenuClosed(void *data, zwlr_layer_surface_v1 *) {
  static_cast<WaylandDriver *>(data)->CloseMenu();
}
const zwlr_layer_surface_v1_listener kMenuListener = {MenuConfigure,
                                                      MenuClosed};

} // namespace

void WaylandDriver::CloseMenu() {
  if (menu_ != nullptr)
    menu_->view.Close();
}

void WaylandDriver::OnMenuConfigure(zwlr_layer_surface_v1 *layer,
                                    uint32_t serial, uint32_t width,
                                    uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(layer, serial);
  if (menu_ == nullptr || layer != menu_->s.layer)
    return;
  Menu &m = *menu_;
  m.s.configured = true;
  m.width = int(width);
  m.height = int(height);
  // Kept on the surface: flipped to the other side of the point when it
  // would run off the right or the bottom.
  const int w = m.view.width(), h = m.view.height();
  // A point outside the surface (the tray's, on the bar) still gives a
  // whole menu inside it.
  m.x = m.wantX + w > m.width ? m.wantX - w : m.wantX;
  m.y = m.wantY + h > m.height ? m.wantY - h : m.wantY;
  m.x = std::max(0, std::min(m.x, m.width - w));
  m.y = std::max(0, std::min(m.y, m.height - h));
  PaintMenu();
}

bool WaylandDriver::OnMenuBufferRelease(wl_buffer *buffer) {
  if (menu_ == nullptr)
    return false;
  for (Buffer &b : menu_->s.buffers)
    if (b.buffer == buffer) {
      b.busy = false;
      if (menu_->s.redrawDue)
        PaintMenu();
      return true;
    }
  return false;
}

// Only the menu's rectangle is ever written: the rest of each buffer stays
// as the shared memory starts, transparent.
void WaylandDriver::PaintMenu() {
  Menu &m = *menu_;
  m.s.redrawDue = true;
  if (!m.s.configured || m.width <= 0 || m.height <= 0)
    return;
  Buffer *b = nullptr;
  for (Buffer &candidate : m.s.buffers)
    if (!candidate.busy && candidate.buffer != nullptr &&
        candidate.width == m.width && candidate.height == m.height) {
      b = &candidate;
      break;
    }
  if (b == nullptr)
    for (Buffer &candidate : m.s.buffers)
      if (!candidate.busy) {
        if (!MakeBuffer(candidate, m.width, m.height))
          return;
        b = &candidate;
        break;
      }
  if (b == nullptr)
    return; // painted when one is released
  m.view.Draw(m.pixels);
  const int w = std::min(m.view.width(), m.width - m.x);
  const int h = std::min(m.view.height(), m.height - m.y);
  for (int y = 0; y < h; ++y) {
    const uint32_t *from = reinterpret_cast<const uint32_t *>(
        m.pixels.data.data() + size_t(y) * m.pixels.stride);
    uint32_t *to = b->pixels + size_t(m.y + y) * size_t(m.width) + m.x;
    for (int x = 0; x < w; ++x)
      to[x] = 0xFF000000u | (from[x] & 0xFFFFFFu);
  }
  wl_surface_attach(m.s.surface, b->buffer, 0, 0);
  wl_surface_damage_buffer(m.s.surface, m.x, m.y, w, h);
  wl_surface_commit(m.s.surface);
  b->busy = true;
  m.s.redrawDue = false;
  wl_display_flush(display_);
}

void WaylandDriver::MenuPointer(const PointerEvent &event) {
  Menu &m = *menu_;
  switch (event.kind) {
  case PointerEvent::kEnter:
  case PointerEvent::kMotion:
    if (event.kind == PointerEvent::kEnter) {
      pointerSurface_ = event.surface;
      if (event.surface == m.s.surface)
        SetArrow(event.serial);
    }
    if (pointerSurface_ != m.s.surface) {
      pointerIn_ = nullptr;
      return;
    }
    pointerIn_ = nullptr;
    pointer_ = {LONG(event.x), LONG(event.y)};
    if (m.view.Motion(int(event.x) - m.x, int(event.y) - m.y))
      PaintMenu();
    return;
  case PointerEvent::kLeave:
    if (pointerSurface_ == event.surface)
      pointerSurface_ = nullptr;
    pointerIn_ = nullptr;
    return;
  case PointerEvent::kButton:
    if (pointerSurface_ != m.s.surface)
      return;
    if (event.pressed)
      m.view.Press(pointer_.x - m.x, pointer_.y - m.y);
    else
      m.view.Release(pointer_.x - m.x, pointer_.y - m.y);
    return;
  }
}

UINT WaylandDriver::TrackMenu(const std::vector<portable::MenuItem> &items,
                              int x, int y, HWND) {
  if (menu_ != nullptr)
    return 0;
  const uint32_t layer = keyboardLayer_;
  SetKeyboardLayer(ZWLR_LAYER_SHELL_V1_LAYER_TOP);
  Menu menu(items);
  menu.wantX = x;
  menu.wantY = y;
  menu.pixels.Allocate(menu.view.width(), menu.view.height(), 32, false);
  menu.s.surface = wl_compositor_create_surface(compositor_);
  menu.s.layer = zwlr_layer_shell_v1_get_layer_surface(
      layerShell_, menu.s.surface, output_, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
      "flinto-menu");
  zwlr_layer_surface_v1_add_listener(menu.s.layer, &kMenuListener, this);
  zwlr_layer_surface_v1_set_anchor(menu.s.layer,
                                   ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_size(menu.s.layer, 0, 0);
  zwlr_layer_surface_v1_set_exclusive_zone(menu.s.layer, 0);
  zwlr_layer_surface_v1_set_keyboard_interactivity(menu.s.layer, 0);
  wl_surface_commit(menu.s.surface);
  wl_display_flush(display_);
  menu_ = &menu;
  // The program's own pointer state: no key is under the pointer while the
  // menu covers the keyboard.
  pointerIn_ = nullptr;
  while (!menu.view.done()) {
    MSG msg;
    while (portable::TakeMessage(&msg))
      DispatchMessageA(&msg);
    if (portable::QuitPending() || menu.view.done())
      break;
    PumpEvents(portable::NextTimerDue());
  }
  menu_ = nullptr;
  DestroySurface(menu.s);
  // A press that closed the menu has no release to come (its surface is
  // gone), nor has one that was down when it opened.
  buttonsDown_ = 0;
  SetKeyboardLayer(layer);
  wl_display_flush(display_);
  return menu.view.chosen();
}

} // namespace wayland
