// The popup menu: drawn on a transparent surface of the overlay layer that
// covers the work area, so that a click anywhere outside the menu reaches
// it and closes the menu, whether or not the keyboard is shown, and the
// application keeps the keyboard focus. The program's timers keep running
// while it is open.
//
// The surface is made once, at start, before any keyboard surface: the
// compositor keeps an older surface above a newer one of the same layer,
// and the keyboard is on the overlay layer too. It is never unmapped: an
// unmapped layer surface must be configured anew, and a configure the
// compositor sent before it took the unmapping must not be acknowledged
// after it (it disconnects a client that does). Between menus its picture
// is one transparent pixel that takes no pointer input.
#include <wayland-client.h>

#include <algorithm>

#include "platform/linux/menu_view.h"
#include "platform/portable/host.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wayland_driver.h"

namespace wayland {

struct WaylandDriver::Menu {
  Menu(const std::vector<portable::MenuItem> &items, int scale)
      : view(items, scale) {}
  linuxhost::MenuView view;
  int wantX = 0, wantY = 0; // the point it was asked at
  int x = 0, y = 0;         // its top-left corner on the surface
  bool placed = false;
  portable::Bitmap pixels;
};

namespace {

void MenuConfigure(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial,
                   uint32_t width, uint32_t height) {
  static_cast<WaylandDriver *>(data)->OnMenuConfigure(layer, serial, width,
                                                      height);
}
void MenuClosed(void *data, zwlr_layer_surface_v1 *) {
  static_cast<WaylandDriver *>(data)->OnMenuSurfaceClosed();
}
const zwlr_layer_surface_v1_listener kMenuListener = {MenuConfigure,
                                                      MenuClosed};

} // namespace

void WaylandDriver::MakeMenuSurface() {
  MakeWorkAreaSurface(menuSurface_, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                      "flinto-menu", &kMenuListener);
  wl_surface_commit(menuSurface_.surface);
}

void WaylandDriver::CloseMenu() {
  if (menu_ != nullptr)
    menu_->view.Close();
}

// The compositor will not show it any more (its output went away): made
// again when an output comes.
void WaylandDriver::OnMenuSurfaceClosed() {
  CloseMenu();
  DestroySurface(menuSurface_);
  DropBuffer(menuBlank_);
  menuSurfaceLost_ = true;
}

void WaylandDriver::OnMenuConfigure(zwlr_layer_surface_v1 *layer,
                                    uint32_t serial, uint32_t width,
                                    uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(layer, serial);
  if (layer != menuSurface_.layer)
    return;
  const bool first = !menuSurface_.configured;
  menuSurface_.configured = true;
  menuSurface_.configuredWidth = width;
  menuSurface_.configuredHeight = height;
  if (menu_ != nullptr) {
    menu_->placed = false;
    PaintMenu();
  } else if (first) {
    BlankMenuSurface();
  }
}

// No menu: one transparent pixel, and pointer events go through to what is
// below.
void WaylandDriver::BlankMenuSurface() {
  LayerSurface &c = menuSurface_;
  if (c.surface == nullptr || !c.configured)
    return;
  if (menuBlank_.buffer == nullptr &&
      !MakeBuffer(menuBlank_, 1, 1, WL_SHM_FORMAT_ARGB8888))
    return;
  SetBufferScale(c, 1); // (a picture's size is a multiple of its scale)
  wl_region *none = wl_compositor_create_region(compositor_);
  wl_surface_set_input_region(c.surface, none);
  wl_region_destroy(none);
  wl_surface_attach(c.surface, menuBlank_.buffer, 0, 0);
  wl_surface_damage_buffer(c.surface, 0, 0, 1, 1);
  wl_surface_commit(c.surface);
}

bool WaylandDriver::OnMenuBufferRelease(wl_buffer *buffer) {
  if (buffer == menuBlank_.buffer)
    return true;
  for (Buffer &b : menuSurface_.buffers)
    if (b.buffer == buffer) {
      b.busy = false;
      if (menu_ != nullptr && menuSurface_.redrawDue)
        PaintMenu();
      return true;
    }
  return false;
}

// Only the menu's rectangle is ever written: the rest of each buffer stays
// as the shared memory starts, transparent. Places are in the surface's
// coordinates; the buffers have the menu's scale.
void WaylandDriver::PaintMenu() {
  Menu &m = *menu_;
  LayerSurface &c = menuSurface_;
  c.redrawDue = true;
  const int width = int(c.configuredWidth), height = int(c.configuredHeight);
  if (!c.configured || width <= 0 || height <= 0)
    return;
  const int scale = m.view.scale();
  const int bufferWidth = width * scale, bufferHeight = height * scale;
  if (!m.placed) {
    // Kept on the surface: flipped to the other side of the point when it
    // would run off the right or the bottom; a point outside the surface
    // (the tray's, on the bar) still gives a whole menu inside it.
    const int w = m.view.width(), h = m.view.height();
    m.x = m.wantX + w > width ? m.wantX - w : m.wantX;
    m.y = m.wantY + h > height ? m.wantY - h : m.wantY;
    m.x = std::max(0, std::min(m.x, width - w));
    m.y = std::max(0, std::min(m.y, height - h));
    m.placed = true;
  }
  Buffer *b = nullptr;
  for (Buffer &candidate : c.buffers)
    if (!candidate.busy && candidate.buffer != nullptr &&
        candidate.width == bufferWidth && candidate.height == bufferHeight) {
      b = &candidate;
      break;
    }
  if (b == nullptr)
    for (Buffer &candidate : c.buffers)
      if (!candidate.busy) {
        if (!MakeBuffer(candidate, bufferWidth, bufferHeight,
                        WL_SHM_FORMAT_ARGB8888))
          return;
        b = &candidate;
        break;
      }
  if (b == nullptr)
    return; // painted when one is released
  m.view.Draw(m.pixels);
  wl_surface_set_input_region(c.surface, nullptr); // all of it
  const int w = std::min(m.pixels.width, (width - m.x) * scale);
  const int h = std::min(m.pixels.height, (height - m.y) * scale);
  const int x0 = m.x * scale, y0 = m.y * scale;
  for (int y = 0; y < h; ++y) {
    const uint32_t *from = reinterpret_cast<const uint32_t *>(
        m.pixels.data.data() + size_t(y) * m.pixels.stride);
    uint32_t *to = b->pixels + size_t(y0 + y) * size_t(bufferWidth) + x0;
    for (int x = 0; x < w; ++x)
      to[x] = 0xFF000000u | (from[x] & 0xFFFFFFu);
  }
  SetBufferScale(c, scale);
  wl_surface_attach(c.surface, b->buffer, 0, 0);
  wl_surface_damage_buffer(c.surface, x0, y0, w, h);
  wl_surface_commit(c.surface);
  b->busy = true;
  c.redrawDue = false;
  wl_display_flush(display_);
}

void WaylandDriver::MenuPointer(const PointerEvent &event) {
  Menu &m = *menu_;
  switch (event.kind) {
  case PointerEvent::kEnter:
  case PointerEvent::kMotion:
    if (event.kind == PointerEvent::kEnter) {
      if (event.surface == menuSurface_.surface)
        menuEntered_ = true;
      pointerSurface_ = event.surface;
      if (event.surface == menuSurface_.surface)
        SetArrow(event.serial);
    }
    pointerIn_ = nullptr;
    if (pointerSurface_ != menuSurface_.surface)
      return;
    pointer_ = {origin_.x + LONG(event.x), origin_.y + LONG(event.y)};
    if (m.placed && m.view.Motion(int(event.x) - m.x, int(event.y) - m.y))
      PaintMenu();
    return;
  case PointerEvent::kLeave:
    // Off the menu's surface for no surface of ours (no enter follows in
    // what was read with it), with several outputs: the pointer is on
    // another output, where a click would not reach us, so the menu
    // closes as at a click outside it.
    if (event.surface == menuSurface_.surface && menuEntered_ &&
        outputs_.size() > 1 &&
        std::none_of(input_.begin(), input_.end(), [](const PointerEvent &e) {
          return e.kind == PointerEvent::kEnter;
        }))
      CloseMenu();
    if (pointerSurface_ == event.surface)
      pointerSurface_ = nullptr;
    pointerIn_ = nullptr;
    return;
  case PointerEvent::kButton:
    if (pointerSurface_ != menuSurface_.surface || !m.placed)
      return;
    if (event.pressed)
      m.view.Press(pointer_.x - origin_.x - m.x, pointer_.y - origin_.y - m.y);
    else
      m.view.Release(pointer_.x - origin_.x - m.x,
                     pointer_.y - origin_.y - m.y);
    return;
  }
}

UINT WaylandDriver::TrackMenu(const std::vector<portable::MenuItem> &items,
                              int x, int y, HWND) {
  if (menu_ != nullptr || menuSurface_.surface == nullptr)
    return 0;
  Menu menu(items, Scale());
  menuEntered_ = false;
  // On the menu's surface, which covers the keyboard's output's work area.
  menu.wantX = x - origin_.x;
  menu.wantY = y - origin_.y;
  menu.pixels.Allocate(menu.view.width() * menu.view.scale(),
                       menu.view.height() * menu.view.scale(), 32, false);
  menu_ = &menu;
  // The program's own pointer state: no key is under the pointer while the
  // menu covers the keyboard.
  pointerIn_ = nullptr;
  PaintMenu();
  while (!menu.view.done()) {
    MSG msg;
    while (portable::TakeMessage(&msg))
      DispatchMessageA(&msg);
    if (portable::QuitPending() || menu.view.done())
      break;
    PumpEvents(portable::NextTimerDue());
  }
  menu_ = nullptr;
  // Blank again (and fresh pictures, all transparent, for the next menu).
  BlankMenuSurface();
  for (Buffer &b : menuSurface_.buffers)
    DropBuffer(b);
  // A press that closed the menu has no release to come (its surface is
  // gone), nor has one that was down when it opened.
  buttonsDown_ = 0;
  wl_display_flush(display_);
  return menu.view.chosen();
}

} // namespace wayland
