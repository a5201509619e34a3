// Flinto's windows as layer surfaces: made when shown, placed by their
// margins, drawn into two shared-memory buffers with damage (paced by the
// buffers the compositor lets go of), made again when the compositor closed
// them.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <wayland-client.h>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wayland_driver.h"

namespace wayland {

namespace {

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

void MoveDone(void *data, wl_callback *callback, uint32_t) {
  Of(data)->OnMoveApplied(callback);
}
const wl_callback_listener kMoveListener = {MoveDone};

} // namespace

const zwlr_layer_surface_v1_listener *WaylandDriver::LayerListener() {
  return &kLayerListener;
}

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
    // (After a move to another output the program looks again, whatever
    // the size.)
    const bool changed =
        workMoved_ || (workWidth_ != 0 && (int(width) != workWidth_ ||
                                           int(height) != workHeight_));
    workMoved_ = false;
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
    // sway configures every layer surface again when one of them changes:
    // the size it had, and a picture shown, need only a commit (the
    // buffer attached stays), not a picture drawn whole into a second
    // buffer.
    const bool unchanged = s.configured && s.drawn && !s.redrawDue &&
                           width == s.configuredWidth &&
                           height == s.configuredHeight;
    s.configured = true;
    s.configuredWidth = width;
    s.configuredHeight = height;
    if (unchanged) {
      wl_surface_commit(s.surface);
      return;
    }
    s.damage = kWholePicture;
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
  // Drawn at the output's density from the first picture on.
  portable::SetWindowScale(hwnd, Scale());
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
  if (visible) {
    // Shown where another output is (a place kept from before): everything
    // of ours goes to that output first.
    auto r = rects_.find(hwnd);
    Output *to = r != rects_.end() ? OutputFor(r->second) : nullptr;
    if (to != nullptr && to->output != output_)
      MoveToOutput(*to);
    MapSurface(hwnd);
  } else
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
  zwlr_layer_surface_v1_add_listener(s.layer, LayerListener(), this);
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
  // Placed on the keyboard's output, from the corner of its work area.
  zwlr_layer_surface_v1_set_margin(s.layer, r.top - origin_.y, 0, 0,
                                   r.left - origin_.x);
  if (!applied_.count(hwnd))
    applied_[hwnd] = {r.left, r.top};
}

void WaylandDriver::SetBufferScale(LayerSurface &s, int scale) {
  if (s.bufferScale != scale && s.surface != nullptr) {
    wl_surface_set_buffer_scale(s.surface, scale);
    s.bufferScale = scale;
  }
}

void WaylandDriver::DestroySurface(LayerSurface &s) {
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
  // Moved (dragged, or put back by the program) onto another output: every
  // surface of ours goes there.
  Output *to = OutputFor(rect);
  if (to != nullptr && to->output != output_) {
    if (buttonsDown_ == 0) {
      MoveToOutput(*to);
      return;
    }
    outputMoveDue_ = true; // at the end of the drag
  }
  PlaceSurface(hwnd, *s);
  const bool resized = rect.right - rect.left != before.right - before.left ||
                       rect.bottom - rect.top != before.bottom - before.top;
  if (resized)
    s->damage = kWholePicture; // drawn at the new size once painted
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
    s->damage = kWholePicture;
    Draw(hwnd, *s);
  }
  return true;
}

bool WaylandDriver::MakeBuffer(Buffer &b, int width, int height,
                               uint32_t format) {
  DropBuffer(b);
  const size_t bytes = size_t(width) * size_t(height) * 4;
  const int fd = memfd_create("flinto", MFD_CLOEXEC);
  if (fd < 0)
    return false;
  if (ftruncate(fd, off_t(bytes)) != 0) {
    close(fd);
    return false;
  }
  // Every page is written at once (the picture drawn whole): made in one
  // go rather than a page fault each.
  void *data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                    MAP_SHARED | MAP_POPULATE, fd, 0);
  if (data == MAP_FAILED) {
    close(fd);
    return false;
  }
  wl_shm_pool *pool = wl_shm_create_pool(shm_, fd, int32_t(bytes));
  b.buffer =
      wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, format);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(b.buffer, &kBufferListener, this);
  b.pixels = static_cast<uint32_t *>(data);
  b.bytes = bytes;
  b.width = width;
  b.height = height;
  b.format = format;
  b.busy = false;
  return true;
}

void WaylandDriver::DropBuffer(Buffer &b) {
  // A window's picture in it goes back into memory of its own first.
  if (b.lentTo != nullptr && b.pixels != nullptr) {
    const portable::Bitmap *picture = portable::WindowSurface(b.lentTo);
    if (picture != nullptr &&
        picture->lent == reinterpret_cast<uint8_t *>(b.pixels))
      portable::KeepWindowPixels(b.lentTo);
  }
  if (b.buffer != nullptr)
    wl_buffer_destroy(b.buffer);
  if (b.pixels != nullptr)
    munmap(b.pixels, b.bytes);
  b = Buffer();
}

// A buffer the compositor is not reading, of the size and format: one of
// the two.
Buffer *WaylandDriver::FreeBuffer(LayerSurface &s, int width, int height,
                                  uint32_t format) {
  for (Buffer &b : s.buffers)
    if (!b.busy && b.buffer != nullptr && b.width == width &&
        b.height == height && b.format == format)
      return &b;
  for (Buffer &b : s.buffers)
    if (!b.busy)
      return MakeBuffer(b, width, height, format) ? &b : nullptr;
  return nullptr;
}

// The buffer whose pixels are the window's picture, if one is.
Buffer *WaylandDriver::LentBuffer(HWND hwnd, LayerSurface &s) {
  const portable::Bitmap *picture = portable::WindowSurface(hwnd);
  if (picture == nullptr || picture->lent == nullptr)
    return nullptr;
  for (Buffer &b : s.buffers)
    if (b.pixels != nullptr &&
        reinterpret_cast<uint8_t *>(b.pixels) == picture->lent)
      return &b;
  return nullptr;
}

namespace {

// An opaque picture is shown as it is drawn: the buffer can be the
// window's picture itself. A translucent one is premultiplied into it.
uint32_t FormatFor(uint32_t alpha) {
  return alpha == 255 ? WL_SHM_FORMAT_XRGB8888 : WL_SHM_FORMAT_ARGB8888;
}

// The pixels inside `r` (clamped to the buffer) from a picture of the same
// size whose rows are `fromStride` bytes apart, as they are.
void CopyPixels(const uint8_t *from, size_t fromStride, Buffer &to, RECT r) {
  r = {std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0),
       std::min<LONG>(r.right, to.width), std::min<LONG>(r.bottom, to.height)};
  for (int y = int(r.top); y < int(r.bottom); ++y)
    std::memcpy(to.pixels + size_t(y) * size_t(to.width) + r.left,
                from + size_t(y) * fromStride + size_t(r.left) * 4,
                size_t(r.right - r.left) * 4);
}

} // namespace

// The picture is about to change. While the compositor may still read the
// buffer it lives in, it moves to the other one, brought up to date from
// it (what changed since that one was last the picture); with no other
// free, it goes back into memory of its own and is copied when shown.
void WaylandDriver::BeforeDraw(HWND hwnd) {
  LayerSurface *s = SurfaceOf(hwnd);
  if (s == nullptr)
    return;
  Buffer *lent = LentBuffer(hwnd, *s);
  if (lent == nullptr || !lent->busy)
    return;
  Buffer *b = FreeBuffer(*s, lent->width, lent->height, lent->format);
  if (b == nullptr) {
    portable::KeepWindowPixels(hwnd);
    return;
  }
  if (b->stale.left < b->stale.right && b->stale.top < b->stale.bottom)
    CopyPixels(reinterpret_cast<const uint8_t *>(lent->pixels),
               size_t(lent->width) * 4, *b, b->stale);
  b->stale = {0, 0, 0, 0};
  if (portable::LendWindowPixels(hwnd, reinterpret_cast<uint8_t *>(b->pixels),
                                 b->width, b->height))
    b->lentTo = hwnd;
  else
    portable::KeepWindowPixels(hwnd);
}

// A picture in a buffer the compositor may still read is drawn on once a
// buffer is free (the other, or one to be made): when both are still read
// (a release that follows its press at once), the paint waits for one to be
// let go, a frame at most, rather than the picture going into memory of its
// own (at unit 6 some 1.2 MB made and copied) to be copied back.
bool WaylandDriver::ReadyToPaint(HWND hwnd) {
  LayerSurface *s = SurfaceOf(hwnd);
  if (s == nullptr)
    return true;
  const Buffer *lent = LentBuffer(hwnd, *s);
  if (lent == nullptr || !lent->busy)
    return true;
  for (const Buffer &b : s->buffers)
    if (!b.busy)
      return true;
  return false;
}

// The buffer not last attached, once the compositor let go of it: -1 when
// there is none.
static int Spare(const LayerSurface &s) {
  if (s.shown < 0)
    return -1;
  const Buffer &other = s.buffers[1 - s.shown];
  return other.buffer != nullptr && !other.busy ? 1 - s.shown : -1;
}

uint64_t WaylandDriver::NextSpareDrop() const {
  uint64_t next = UINT64_MAX;
  for (const auto &[hwnd, s] : surfaces_)
    if (Spare(s) >= 0)
      next = std::min(next, s.lastFrame + kSpareBufferMs);
  return next;
}

void WaylandDriver::DropIdleSpares() {
  const uint64_t now = Now();
  for (auto &[hwnd, s] : surfaces_)
    if (const int spare = Spare(s);
        spare >= 0 && now >= s.lastFrame + kSpareBufferMs)
      DropBuffer(s.buffers[spare]); // made again, drawn whole, when needed
}

void WaylandDriver::OnBufferRelease(wl_buffer *buffer) {
  if (OnMenuBufferRelease(buffer))
    return;
  for (auto &[hwnd, s] : surfaces_)
    for (Buffer &b : s.buffers)
      if (b.buffer == buffer) {
        b.busy = false;
        if (s.redrawDue)
          Draw(hwnd, s);
        return;
      }
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
// for a free buffer. (No frame callbacks: the keyboard's picture changes
// once or twice a click, and the callback's answer after each picture was
// a wake of its own, half of a click's work; the compositor paces pictures
// by the buffers it lets go of.)
void WaylandDriver::Draw(HWND hwnd, LayerSurface &s) {
  s.redrawDue = true;
  if (!s.configured)
    return;
  const portable::Bitmap *picture = portable::WindowSurface(hwnd);
  if (picture == nullptr || picture->bpp != 32 || picture->bottomUp ||
      picture->width <= 0 || picture->height <= 0)
    return;
  const uint32_t a = alpha_[hwnd];
  const uint32_t format = FormatFor(a);
  Buffer *lent = LentBuffer(hwnd, s);
  if (lent != nullptr && lent->format != format) {
    portable::KeepWindowPixels(hwnd); // made translucent
    lent = nullptr;
  }
  // The picture's own buffer, or a free one it is copied into.
  Buffer *b = lent != nullptr && !lent->busy
                  ? lent
                  : FreeBuffer(s, picture->width, picture->height, format);
  if (b == nullptr)
    return; // drawn when one is released
  RECT d = s.damage;
  d = {std::max<LONG>(d.left, 0), std::max<LONG>(d.top, 0),
       std::min<LONG>(d.right, picture->width),
       std::min<LONG>(d.bottom, picture->height)};
  if (d.left >= d.right || d.top >= d.bottom)
    d = {0, 0, picture->width, picture->height};
  // What this buffer lacks: the damage, and what changed since it was
  // last drawn (the other buffer's frames). Only that is copied, only the
  // damage is announced.
  auto unite = [](RECT &into, const RECT &r) {
    if (r.left >= r.right || r.top >= r.bottom)
      return;
    if (into.left >= into.right || into.top >= into.bottom) {
      into = r;
      return;
    }
    into = {std::min(into.left, r.left), std::min(into.top, r.top),
            std::max(into.right, r.right), std::max(into.bottom, r.bottom)};
  };
  RECT copy = b->stale;
  if (b != lent)
    unite(copy, d);
  copy = {std::max<LONG>(copy.left, 0), std::max<LONG>(copy.top, 0),
          std::min<LONG>(copy.right, picture->width),
          std::min<LONG>(copy.bottom, picture->height)};
  if (a == 255) // XRGB8888: the fourth byte is not looked at
    CopyPixels(picture->Row(0), size_t(picture->stride), *b, copy);
  else
    for (int y = int(copy.top); y < int(copy.bottom); ++y) {
      const uint32_t *from =
          reinterpret_cast<const uint32_t *>(picture->Row(y));
      uint32_t *to = b->pixels + size_t(y) * size_t(picture->width);
      for (int x = int(copy.left); x < int(copy.right); ++x) {
        const uint32_t c = from[x];
        const uint32_t r = ((c >> 16) & 0xFF) * a / 255;
        const uint32_t g = ((c >> 8) & 0xFF) * a / 255;
        const uint32_t bl = (c & 0xFF) * a / 255;
        to[x] = (a << 24) | (r << 16) | (g << 8) | bl;
      }
    }
  b->stale = {0, 0, 0, 0};
  for (Buffer &other : s.buffers)
    if (&other != b)
      unite(other.stale, d);
  // The picture has the window's pixel scale (the output's, once the
  // program has drawn for it): the compositor is told with the buffer.
  SetBufferScale(s, int(WindowPixelScale(hwnd)));
  wl_surface_attach(s.surface, b->buffer, 0, 0);
  wl_surface_damage_buffer(s.surface, d.left, d.top, d.right - d.left,
                           d.bottom - d.top);
  wl_surface_commit(s.surface);
  b->busy = true;
  s.shown = int(b - s.buffers);
  s.lastFrame = Now();
  s.damage = {0, 0, 0, 0};
  s.redrawDue = false;
  s.drawn = true;
  // An opaque picture lives in the buffer from now on: no copy of it.
  if (b != lent && a == 255 &&
      portable::LendWindowPixels(hwnd, reinterpret_cast<uint8_t *>(b->pixels),
                                 b->width, b->height))
    b->lentTo = hwnd;
  // Sent with the next flush, as the loop goes to wait: a click's key and
  // its picture go to the compositor together.
}

} // namespace wayland
