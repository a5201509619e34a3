// Device contexts, bitmaps, pens, brushes, fonts and drawing on in-memory
// images.
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "platform/portable/file_read.h"
#include "platform/portable/internal.h"
#include "platform/portable/trace.h"

namespace portable {

HandleTable<GdiObject> g_gdi;
HandleTable<Dc> g_dcs;

namespace {

HGDIOBJ stockBitmap = nullptr;
HGDIOBJ stockPen = nullptr;
HGDIOBJ stockBrush = nullptr;
HGDIOBJ stockFont = nullptr; // no face: draws no text
std::function<void(const DrawCall &)> recorder;

HGDIOBJ MakeStock(GdiType type, COLORREF colour) {
  auto o = std::make_unique<GdiObject>();
  o->type = type;
  o->stock = true;
  o->colour = colour;
  if (type == GdiType::Bitmap)
    o->bitmap.Allocate(1, 1, 32, false);
  return g_gdi.Add<HGDIOBJ>(std::move(o));
}

void EnsureStock() {
  if (stockBitmap == nullptr) {
    stockBitmap = MakeStock(GdiType::Bitmap, 0);
    stockPen = MakeStock(GdiType::Pen, 0x000000);
    stockBrush = MakeStock(GdiType::Brush, 0xFFFFFF);
    stockFont = MakeStock(GdiType::Font, 0);
  }
}

HDC NewDc(HWND hwnd, bool memory) {
  EnsureStock();
  auto dc = std::make_unique<Dc>();
  dc->hwnd = hwnd;
  dc->memory = memory;
  dc->bitmap = stockBitmap;
  dc->pen = stockPen;
  dc->brush = stockBrush;
  dc->font = stockFont;
  return g_dcs.Add<HDC>(std::move(dc));
}

GdiObject *Obj(HGDIOBJ h) { return g_gdi.Get(h); }

void FillRectPixels(Bitmap &b, RECT r, uint32_t rgb) {
  r.left = std::max<LONG>(r.left, 0);
  r.top = std::max<LONG>(r.top, 0);
  r.right = std::min<LONG>(r.right, b.width);
  r.bottom = std::min<LONG>(r.bottom, b.height);
  for (LONG y = r.top; y < r.bottom; ++y)
    for (LONG x = r.left; x < r.right; ++x)
      b.Set(x, y, rgb);
}

void Plot(Bitmap &b, LONG x, LONG y, uint32_t rgb) {
  if (b.Contains(x, y))
    b.Set(x, y, rgb);
}

// Rounds num / den (den > 0) to the nearest integer, a half down.
LONG RoundHalfDown(int64_t num, int64_t den) {
  // ceil((2 num - den) / (2 den))
  const int64_t n = 2 * num - den, d = 2 * den;
  return LONG(n >= 0 ? (n + d - 1) / d : -((-n) / d));
}

// A one-pixel line from (x0, y0) towards (x1, y1), the end point excluded,
// as GDI draws it: one pixel per step along the longer axis, the other
// coordinate the ideal line's rounded to the nearest pixel, and where the
// line passes exactly half-way between two pixels the smaller coordinate,
// whichever way the line runs (Wine draws (2,2)->(6,4) as (2,2) (3,2) (4,3)
// (5,3), and (4,2)->(2,6) as (4,2) (3,3) (3,4) (2,5); the documentation
// gives no tie rule).
void Line(Bitmap &b, LONG x0, LONG y0, LONG x1, LONG y1, uint32_t rgb) {
  DrawLinePixels(b, x0, y0, x1, y1, rgb);
}

} // namespace

void DrawLinePixels(Bitmap &b, LONG x0, LONG y0, LONG x1, LONG y1,
                    uint32_t rgb) {
  const int64_t dx = int64_t(x1) - x0, dy = int64_t(y1) - y0;
  const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
  const int64_t steps = xMajor ? (dx < 0 ? -dx : dx) : (dy < 0 ? -dy : dy);
  for (int64_t i = 0; i < steps; ++i) {
    if (xMajor)
      Plot(b, LONG(x0 + (dx < 0 ? -i : i)), y0 + RoundHalfDown(i * dy, steps),
           rgb);
    else
      Plot(b, x0 + RoundHalfDown(i * dx, steps), LONG(y0 + (dy < 0 ? -i : i)),
           rgb);
  }
}

namespace {

// ceil(num / den) for den > 0.
LONG CeilDiv(int64_t num, int64_t den) {
  return LONG(num >= 0 ? (num + den - 1) / den : -((-num) / den));
}

void NoteDirty(Dc *dc, const RECT &r) {
  if (dc == nullptr || dc->memory)
    return;
  MarkDirty(dc, r);
}

} // namespace

template <typename T> T *PixelAllocator<T>::allocate(size_t n) {
  const size_t bytes = n * sizeof(T);
  if (kPicturesMapped && bytes >= kPicturePages) {
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
      throw std::bad_alloc();
    return static_cast<T *>(p);
  }
  return static_cast<T *>(::operator new(bytes));
}

template <typename T> void PixelAllocator<T>::deallocate(T *p, size_t n) {
  const size_t bytes = n * sizeof(T);
  if (kPicturesMapped && bytes >= kPicturePages)
    munmap(p, bytes);
  else
    ::operator delete(p);
}

template struct PixelAllocator<uint8_t>;

void Bitmap::Describe(int w, int h, int bitsPerPixel, bool rowsBottomUp) {
  width = std::max(0, w);
  height = std::max(0, h);
  bpp = bitsPerPixel;
  bottomUp = rowsBottomUp;
  stride = ((bpp * width + 31) / 32) * 4;
  lent = nullptr;
  decltype(data)().swap(data);
}

void Bitmap::Allocate(int w, int h, int bitsPerPixel, bool rowsBottomUp) {
  Describe(w, h, bitsPerPixel, rowsBottomUp);
  data.assign(size_t(stride) * height, 0);
}

Dc *GetDcObject(HDC dc) { return g_dcs.Get(dc); }

Bitmap *DcTarget(Dc *dc) {
  if (dc == nullptr)
    return nullptr;
  if (dc->memory) {
    GdiObject *o = Obj(dc->bitmap);
    return o != nullptr ? &o->bitmap : nullptr;
  }
  Window *w = OwnWindow(dc->hwnd);
  if (w == nullptr)
    return nullptr;
  if (!dc->drawing) {
    dc->drawing = true;
    if (GetDriver() != nullptr)
      GetDriver()->BeforeDraw(dc->hwnd);
  }
  if (!w->surface.HasPixels()) // a picture made on demand
    w->surface.Allocate(w->surface.width, w->surface.height, w->surface.bpp,
                        w->surface.bottomUp);
  return &w->surface;
}

void MarkDirty(Dc *dc, RECT r) {
  if (!dc->touched) {
    dc->dirty = r;
    dc->touched = true;
    return;
  }
  dc->dirty.left = std::min(dc->dirty.left, r.left);
  dc->dirty.top = std::min(dc->dirty.top, r.top);
  dc->dirty.right = std::max(dc->dirty.right, r.right);
  dc->dirty.bottom = std::max(dc->dirty.bottom, r.bottom);
}

const Bitmap *BitmapOf(HBITMAP bitmap) {
  GdiObject *o = Obj(bitmap);
  return (o != nullptr && o->type == GdiType::Bitmap) ? &o->bitmap : nullptr;
}

void SetDrawRecorder(std::function<void(const DrawCall &)> r) {
  recorder = std::move(r);
}

void Record(const DrawCall &call) {
  if (recorder)
    recorder(call);
}

void ResetGdi() {
  g_gdi.Clear();
  g_dcs.Clear();
  stockBitmap = stockPen = stockBrush = stockFont = nullptr;
}

} // namespace portable

using namespace portable;

namespace {

void Present(Dc *dc) {
  if (dc == nullptr || dc->memory || !dc->touched)
    return;
  Window *w = OwnWindow(dc->hwnd);
  RECT dirty = dc->dirty;
  if (dc->clipped) {
    dirty.left = std::max(dirty.left, dc->clip.left);
    dirty.top = std::max(dirty.top, dc->clip.top);
    dirty.right = std::min(dirty.right, dc->clip.right);
    dirty.bottom = std::min(dirty.bottom, dc->clip.bottom);
  }
  if (w != nullptr && GetDriver() != nullptr && dirty.left < dirty.right &&
      dirty.top < dirty.bottom) {
    GetDriver()->Present(dc->hwnd, w->surface, dirty);
    // What the host showed it may be reading now: another DC of the window
    // still open tells the host again before it draws more.
    for (auto &[handle, other] : g_dcs.items())
      if (other->hwnd == dc->hwnd)
        other->drawing = false;
  }
  dc->touched = false;
}

} // namespace

HDC GetDC(HWND hwnd) {
  if (OwnWindow(hwnd) == nullptr)
    return nullptr;
  return NewDc(hwnd, false);
}

int ReleaseDC(HWND, HDC dc) {
  Dc *d = GetDcObject(dc);
  if (d == nullptr || d->memory)
    return 0;
  Present(d);
  g_dcs.Remove(dc);
  return 1;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || ps == nullptr)
    return nullptr;
  std::memset(ps, 0, sizeof *ps);
  ps->rcPaint = w->invalid ? w->invalidRect : RECT{0, 0, 0, 0};
  // The window's device context addresses its picture's pixels.
  ps->rcPaint.left *= w->scale;
  ps->rcPaint.top *= w->scale;
  ps->rcPaint.right *= w->scale;
  ps->rcPaint.bottom *= w->scale;
  w->invalid = false;
  ps->hdc = NewDc(hwnd, false);
  Dc *d = GetDcObject(ps->hdc);
  d->clipped = true;
  d->clip = ps->rcPaint;
  return ps->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT *ps) {
  if (ps == nullptr)
    return FALSE;
  Dc *d = GetDcObject(ps->hdc);
  if (d == nullptr)
    return FALSE;
  Present(d);
  g_dcs.Remove(ps->hdc);
  return TRUE;
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc != nullptr && GetDcObject(dc) == nullptr)
    return nullptr;
  return NewDc(nullptr, true);
}

BOOL DeleteDC(HDC dc) {
  Dc *d = GetDcObject(dc);
  if (d == nullptr)
    return FALSE;
  Present(d);
  g_dcs.Remove(dc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj) {
  Dc *d = GetDcObject(dc);
  GdiObject *o = Obj(obj);
  if (d == nullptr || o == nullptr)
    return nullptr;
  HGDIOBJ *slot = nullptr;
  switch (o->type) {
  case GdiType::Bitmap:
    if (!d->memory)
      return nullptr;
    slot = &d->bitmap;
    break;
  case GdiType::Pen:
    slot = &d->pen;
    break;
  case GdiType::Brush:
    slot = &d->brush;
    break;
  case GdiType::Font:
    slot = &d->font;
    break;
  }
  HGDIOBJ previous = *slot;
  *slot = obj;
  return previous;
}

BOOL DeleteObject(HGDIOBJ obj) {
  GdiObject *o = Obj(obj);
  if (o == nullptr)
    return FALSE;
  if (o->stock)
    return TRUE;
  for (auto &[h, d] : g_dcs.items()) {
    if (d->bitmap == obj || d->pen == obj || d->brush == obj || d->font == obj)
      return FALSE; // selected into a context
  }
  g_gdi.Remove(obj);
  return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  if (GetDcObject(dc) == nullptr || width < 0 || height < 0 ||
      int64_t(width) * height > (int64_t(1) << 26))
    return nullptr;
  auto o = std::make_unique<GdiObject>();
  o->type = GdiType::Bitmap;
  const bool empty = width == 0 || height == 0; // one pixel, as the system
  o->bitmap.Allocate(empty ? 1 : width, empty ? 1 : height, 32, false);
  return g_gdi.Add<HBITMAP>(std::move(o));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO *info, UINT usage, void **bits,
                         HANDLE, DWORD) {
  if (bits != nullptr)
    *bits = nullptr;
  if (info == nullptr || usage != DIB_RGB_COLORS)
    return nullptr;
  const BITMAPINFOHEADER &h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biBitCount != 24 ||
      h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0 ||
      h.biPlanes != 1)
    return nullptr;
  const int64_t height = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
  if (int64_t(h.biWidth) * height > (int64_t(1) << 26))
    return nullptr;
  auto o = std::make_unique<GdiObject>();
  o->type = GdiType::Bitmap;
  o->bitmap.Allocate(h.biWidth, int(height), 24, h.biHeight > 0);
  if (bits != nullptr)
    *bits = o->bitmap.data.data();
  return g_gdi.Add<HBITMAP>(std::move(o));
}

HANDLE LoadImageA(HINSTANCE, LPCSTR name, UINT type, int, int, UINT load) {
  if (type != IMAGE_BITMAP || !(load & LR_LOADFROMFILE) || name == nullptr)
    return nullptr;
  // Only a regular file is read: a pipe or a device could block forever.
  struct stat st;
  if (stat(name, &st) != 0 || !S_ISREG(st.st_mode))
    return nullptr;
  constexpr size_t kMaxFile = 64u << 20;
  std::string bytes;
  if (ReadFileUpTo(name, kMaxFile + 1, &bytes) != FileRead::kRead ||
      bytes.size() > kMaxFile)
    return nullptr;
  auto o = std::make_unique<GdiObject>();
  o->type = GdiType::Bitmap;
  if (!DecodeBmp(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                 &o->bitmap))
    return nullptr;
  return g_gdi.Add<HANDLE>(std::move(o));
}

int GetObjectA(HANDLE obj, int size, LPVOID out) {
  GdiObject *o = Obj(obj);
  if (o == nullptr || o->type != GdiType::Bitmap || out == nullptr ||
      size < static_cast<int>(sizeof(BITMAP)))
    return 0;
  BITMAP *b = static_cast<BITMAP *>(out);
  b->bmType = 0;
  b->bmWidth = o->bitmap.width;
  b->bmHeight = o->bitmap.height;
  b->bmWidthBytes = o->bitmap.stride;
  b->bmPlanes = 1;
  b->bmBitsPixel = static_cast<WORD>(o->bitmap.bpp);
  b->bmBits = o->bitmap.data.data();
  return sizeof(BITMAP);
}

BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1,
            DWORD rop) {
  return StretchBlt(dst, x, y, cx, cy, src, x1, y1, cx, cy, rop);
}

namespace portable {

std::vector<int> StretchMap(int source, int target, bool firstOfRun) {
  std::vector<int> map(static_cast<size_t>(target), 0);
  if (source <= 0 || target <= 0)
    return map;
  if (target >= source) { // enlarged: one step per target pixel
    int64_t err = 3 * int64_t(source) - 2 * int64_t(target);
    int s = 0;
    for (int t = 0; t < target; ++t) {
      map[size_t(t)] = s;
      if (err > 0) {
        ++s;
        err += 2 * (int64_t(source) - target);
      } else {
        err += 2 * int64_t(source);
      }
    }
    return map;
  }
  // Reduced: one step per source pixel.
  int64_t err = 3 * int64_t(target) - 2 * int64_t(source);
  int t = 0;
  bool runStart = true;
  for (int s = 0; s < source && t < target; ++s) {
    if (!firstOfRun || runStart)
      map[size_t(t)] = s;
    runStart = false;
    if (err > 0) {
      ++t;
      runStart = true;
      err += 2 * (int64_t(target) - source);
    } else {
      err += 2 * int64_t(target);
    }
  }
  return map;
}

} // namespace portable

namespace {

// Where a copy of cx x cy pixels at (x, y) lands in a target of `width` x
// `height`: inside it, and inside the paint context's update rectangle (a
// paint draws nothing outside it: a key's repaint copies the key, not the
// whole keyboard). Empty when nothing lands.
RECT CopyTarget(const Dc *dd, int x, int y, int cx, int cy, int width,
                int height) {
  RECT to = {std::max(x, 0), std::max(y, 0), std::min(x + cx, width),
             std::min(y + cy, height)};
  if (dd->clipped) {
    to.left = std::max(to.left, dd->clip.left);
    to.top = std::max(to.top, dd->clip.top);
    to.right = std::min(to.right, dd->clip.right);
    to.bottom = std::min(to.bottom, dd->clip.bottom);
  }
  return to;
}

// A paint's unstretched copy from a memory DC into a window, taken by a
// host that shows it straight from the source: true when it did.
bool PresentedFromSource(Dc *dd, Dc *sd, int x, int y, int cx, int cy, int x1,
                         int y1) {
  if (dd == nullptr || sd == nullptr || dd->memory || !sd->memory ||
      GetDriver() == nullptr)
    return false;
  Window *w = OwnWindow(dd->hwnd);
  const Bitmap *sb = DcTarget(sd);
  if (w == nullptr || sb == nullptr || !sb->HasPixels())
    return false;
  const RECT to =
      CopyTarget(dd, x, y, cx, cy, w->surface.width, w->surface.height);
  if (to.left >= to.right || to.top >= to.bottom)
    return true; // nothing of it reaches the window
  // Only where every source pixel is there (outside the source is black,
  // which the window's own picture draws).
  const int sx = x1 + int(to.left - x), sy = y1 + int(to.top - y);
  if (sx < 0 || sy < 0 || sx + (to.right - to.left) > sb->width ||
      sy + (to.bottom - to.top) > sb->height)
    return false;
  return GetDriver()->PresentFrom(dd->hwnd, *sb, sx, sy, to);
}

} // namespace

BOOL StretchBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1,
                int cx1, int cy1, DWORD rop) {
  Dc *dd = GetDcObject(dst);
  Dc *sd = GetDcObject(src);
  if (rop == SRCCOPY && cx > 0 && cy > 0 && cx == cx1 && cy == cy1 &&
      PresentedFromSource(dd, sd, x, y, cx, cy, x1, y1))
    return TRUE;
  Bitmap *db = DcTarget(dd);
  Bitmap *sb = DcTarget(sd);
  if (db == nullptr || sb == nullptr || rop != SRCCOPY)
    return FALSE;
  if (cx <= 0 || cy <= 0 || cx1 <= 0 || cy1 <= 0)
    return cx == 0 || cy == 0;
  // Which source column (row) each destination column (row) shows, as Wine
  // maps them (GDI's documentation fixes no rule): a Bresenham walk whose
  // first step is decided at the mid-point between two pixel centres
  // (error 3 * short - 2 * long). Enlarged, a source pixel repeats;
  // reduced, the columns of a run are drawn one over another, so the last
  // of each run shows, and of the rows only the first of each run is drawn
  // (COLORONCOLOR). 7 -> 10 columns: 0,1,1,2,3,3,4,5,5,6; 7 -> 3: 1,4,6.
  if (cx == 1 && cx1 > 1)
    --cx1;
  if (cy == 1 && cy1 > 1)
    --cy1;
  const std::vector<int> columns = StretchMap(cx1, cx, false);
  const std::vector<int> rows = StretchMap(cy1, cy, true);
  const RECT to = CopyTarget(dd, x, y, cx, cy, db->width, db->height);
  if (to.left >= to.right || to.top >= to.bottom)
    return TRUE;
  // Pixels are 3 or 4 bytes, blue, green, red first; only those three are
  // copied. A source pixel outside the source is black.
  const size_t width = size_t(to.right - to.left);
  const int from = sb->bpp / 8, into = db->bpp / 8;
  // The usual case, a copy of pixels that are all there from one picture
  // into another (a paint, the background): whole rows, four bytes at a
  // time between 32-bit pictures (their fourth byte kept).
  const int sx0 = x1 + columns[size_t(to.left - x)];
  if (sb != db && cx == cx1 && sx0 >= 0 && sx0 + LONG(width) <= sb->width) {
    for (LONG ty = to.top; ty < to.bottom; ++ty) {
      const int sy = y1 + rows[size_t(ty - y)];
      uint8_t *target = db->Row(int(ty)) + size_t(to.left) * size_t(into);
      if (sy < 0 || sy >= sb->height) {
        for (size_t i = 0; i < width; ++i)
          std::memset(target + i * size_t(into), 0, 3);
        continue;
      }
      const uint8_t *source = sb->Row(sy) + size_t(sx0) * size_t(from);
      if (from == 4 && into == 4) {
        for (size_t i = 0; i < width; ++i) {
          uint32_t s4, t4;
          std::memcpy(&s4, source + 4 * i, 4);
          std::memcpy(&t4, target + 4 * i, 4);
          t4 = (t4 & 0xFF000000u) | (s4 & 0x00FFFFFFu);
          std::memcpy(target + 4 * i, &t4, 4);
        }
      } else {
        for (size_t i = 0; i < width; ++i)
          std::memcpy(target + i * size_t(into), source + i * size_t(from), 3);
      }
    }
    NoteDirty(dd, to);
    return TRUE;
  }
  std::vector<uint8_t> row(width * 3);
  for (LONG ty = to.top; ty < to.bottom; ++ty) {
    const int sy = y1 + rows[size_t(ty - y)];
    const uint8_t *source = sy >= 0 && sy < sb->height ? sb->Row(sy) : nullptr;
    // Read before written: the source may be the target itself.
    uint8_t *r = row.data();
    for (LONG tx = to.left; tx < to.right; ++tx, r += 3) {
      const int sx = x1 + columns[size_t(tx - x)];
      if (source != nullptr && sx >= 0 && sx < sb->width) {
        const uint8_t *p = source + size_t(sx) * size_t(from);
        r[0] = p[0];
        r[1] = p[1];
        r[2] = p[2];
      } else {
        r[0] = r[1] = r[2] = 0;
      }
    }
    uint8_t *target = db->Row(int(ty)) + size_t(to.left) * size_t(into);
    r = row.data();
    for (size_t i = 0; i < width; ++i, r += 3, target += into) {
      target[0] = r[0];
      target[1] = r[1];
      target[2] = r[2];
    }
  }
  NoteDirty(dd, to);
  return TRUE;
}

int SetStretchBltMode(HDC dc, int mode) {
  Dc *d = GetDcObject(dc);
  if (d == nullptr)
    return 0;
  const int previous = d->stretchMode;
  d->stretchMode = mode;
  return previous;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  Dc *d = GetDcObject(dc);
  if (d == nullptr)
    return 0xFFFFFFFF;
  const COLORREF previous = d->bkColour;
  d->bkColour = color;
  return previous;
}

int SetBkMode(HDC dc, int mode) {
  Dc *d = GetDcObject(dc);
  if (d == nullptr || (mode != TRANSPARENT && mode != OPAQUE))
    return 0;
  const int previous = d->bkMode;
  d->bkMode = mode;
  return previous;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  Dc *d = GetDcObject(dc);
  if (d == nullptr)
    return 0xFFFFFFFF;
  const COLORREF previous = d->textColour;
  d->textColour = color;
  return previous;
}

COLORREF GetTextColor(HDC dc) {
  Dc *d = GetDcObject(dc);
  return d != nullptr ? d->textColour : 0xFFFFFFFF;
}

HPEN CreatePen(int style, int, COLORREF color) {
  if (style != PS_SOLID)
    return nullptr;
  auto o = std::make_unique<GdiObject>();
  o->type = GdiType::Pen;
  o->colour = color;
  return g_gdi.Add<HPEN>(std::move(o));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto o = std::make_unique<GdiObject>();
  o->type = GdiType::Brush;
  o->colour = color;
  return g_gdi.Add<HBRUSH>(std::move(o));
}

BOOL Polygon(HDC dc, const POINT *points, int count) {
  Dc *d = GetDcObject(dc);
  Bitmap *b = DcTarget(d);
  if (b == nullptr || points == nullptr || count < 2)
    return FALSE;
  GdiObject *pen = Obj(d->pen);
  GdiObject *brush = Obj(d->brush);
  LONG minY = points[0].y, maxY = points[0].y;
  LONG minX = points[0].x, maxX = points[0].x;
  for (int i = 1; i < count; ++i) {
    minY = std::min(minY, points[i].y);
    maxY = std::max(maxY, points[i].y);
    minX = std::min(minX, points[i].x);
    maxX = std::max(maxX, points[i].x);
  }
  // Interior, alternate rule, as GDI fills: pixel (x, y) when the point
  // (x, y) lies inside, left and top edges included, right and bottom edges
  // excluded (a triangle (2,2) (12,2) (2,12) fills 10 pixels of row 2).
  if (brush != nullptr) {
    const uint32_t rgb = ColorrefToRgb(brush->colour);
    std::vector<LONG> xs;
    for (LONG y = std::max<LONG>(minY, 0); y < std::min<LONG>(maxY, b->height);
         ++y) {
      xs.clear();
      for (int i = 0; i < count; ++i) {
        const POINT &p = points[i];
        const POINT &q = points[(i + 1) % count];
        // The edge covers the rows from its upper end to just above its
        // lower end.
        const LONG top = std::min(p.y, q.y), bottom = std::max(p.y, q.y);
        if (y < top || y >= bottom)
          continue;
        // Where it crosses row y, rounded up to the first pixel on or right
        // of it (exactly, in integers).
        const int64_t num =
            int64_t(p.x) * (q.y - p.y) + int64_t(y - p.y) * (q.x - p.x);
        const int64_t den = int64_t(q.y) - p.y;
        xs.push_back(den > 0 ? CeilDiv(num, den) : CeilDiv(-num, -den));
      }
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2)
        for (LONG x = std::max<LONG>(xs[k], 0);
             x < std::min<LONG>(xs[k + 1], b->width); ++x)
          b->Set(x, y, rgb);
    }
  }
  // Outline with the one-pixel pen, closed.
  if (pen != nullptr) {
    const uint32_t rgb = ColorrefToRgb(pen->colour);
    for (int i = 0; i < count; ++i) {
      const POINT &p = points[i];
      const POINT &q = points[(i + 1) % count];
      Line(*b, p.x, p.y, q.x, q.y, rgb);
      Plot(*b, p.x, p.y, rgb);
    }
  }
  NoteDirty(d, RECT{minX, minY, maxX + 1, maxY + 1});
  return TRUE;
}

DWORD GetSysColor(int index) {
  // The classic scheme.
  switch (index) {
  case COLOR_BTNFACE:
    return 0xC0C0C0;
  case COLOR_BTNSHADOW:
    return 0x808080;
  case COLOR_BTNTEXT:
    return 0x000000;
  case COLOR_BTNHIGHLIGHT:
    return 0xFFFFFF;
  case COLOR_3DDKSHADOW:
    return 0x000000;
  case COLOR_3DLIGHT:
    return 0xDFDFDF;
  case COLOR_WINDOW:
    return 0xFFFFFF;
  case COLOR_WINDOWTEXT:
  case COLOR_MENUTEXT:
    return 0x000000;
  case COLOR_MENU:
    return 0xC0C0C0;
  case COLOR_HIGHLIGHT:
    return 0x800000;
  case COLOR_HIGHLIGHTTEXT:
    return 0xFFFFFF;
  case COLOR_GRAYTEXT:
    return 0x808080;
  default:
    return 0x000000;
  }
}

BOOL DrawEdge(HDC dc, LPRECT rect, UINT edge, UINT flags) {
  Dc *d = GetDcObject(dc);
  Bitmap *b = DcTarget(d);
  if (b == nullptr || rect == nullptr)
    return FALSE;
  int ltOuter, rbOuter, ltInner, rbInner;
  if ((edge & EDGE_SUNKEN) == EDGE_SUNKEN) {
    ltOuter = COLOR_BTNSHADOW;
    rbOuter = COLOR_BTNHIGHLIGHT;
    ltInner = COLOR_3DDKSHADOW;
    rbInner = COLOR_3DLIGHT;
  } else {
    ltOuter = COLOR_3DLIGHT;
    rbOuter = COLOR_3DDKSHADOW;
    ltInner = COLOR_BTNHIGHLIGHT;
    rbInner = COLOR_BTNSHADOW;
  }
  const RECT r = *rect;
  auto h = [&](LONG x0, LONG x1, LONG y, int colour) {
    Line(*b, x0, y, x1, y, ColorrefToRgb(GetSysColor(colour)));
  };
  auto v = [&](LONG x, LONG y0, LONG y1, int colour) {
    Line(*b, x, y0, x, y1, ColorrefToRgb(GetSysColor(colour)));
  };
  if (flags & BF_TOP)
    h(r.left, r.right, r.top, ltOuter);
  if (flags & BF_LEFT)
    v(r.left, r.top, r.bottom, ltOuter);
  if (flags & BF_BOTTOM)
    h(r.left, r.right, r.bottom - 1, rbOuter);
  if (flags & BF_RIGHT)
    v(r.right - 1, r.top, r.bottom, rbOuter);
  if (flags & BF_TOP)
    h(r.left + 1, r.right - 1, r.top + 1, ltInner);
  if (flags & BF_LEFT)
    v(r.left + 1, r.top + 1, r.bottom - 1, ltInner);
  if (flags & BF_BOTTOM)
    h(r.left + 1, r.right - 1, r.bottom - 2, rbInner);
  if (flags & BF_RIGHT)
    v(r.right - 2, r.top + 1, r.bottom - 1, rbInner);
  RECT inner = r;
  InflateRect(&inner, -2, -2);
  if (flags & BF_MIDDLE)
    FillRectPixels(*b, inner, ColorrefToRgb(GetSysColor(COLOR_BTNFACE)));
  if (flags & BF_ADJUST)
    *rect = inner;
  NoteDirty(d, r);
  return TRUE;
}

BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT *rect,
                 LPCSTR text, UINT count, const INT *) {
  Dc *d = GetDcObject(dc);
  Bitmap *b = DcTarget(d);
  if (b == nullptr)
    return FALSE;
  if ((options & ETO_OPAQUE) && rect != nullptr) {
    Record(DrawCall{DrawCall::Fill, dc, "", *rect, 0, d->bkColour, d->bkMode,
                    false});
    FillRectPixels(*b, *rect, ColorrefToRgb(d->bkColour));
    NoteDirty(d, *rect);
  }
  if (text != nullptr && count > 0) {
    GdiObject *font = Obj(d->font);
    if (font != nullptr && font->face != nullptr) {
      RECT r = {x, y, b->width, b->height};
      DrawTextOn(*b, rect, *font->face, text, int(count), &r, DT_NOPREFIX,
                 d->textColour, d->bkMode, d->bkColour);
      NoteDirty(d, RECT{x, y, b->width, b->height});
    }
  }
  return TRUE;
}

int DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format) {
  Dc *d = GetDcObject(dc);
  Bitmap *b = DcTarget(d);
  if (b == nullptr || text == nullptr || rect == nullptr)
    return 0;
  if (count < 0)
    count = static_cast<int>(std::strlen(text));
  GdiObject *font = Obj(d->font);
  Record(DrawCall{DrawCall::Text, dc, std::string(text, size_t(count)), *rect,
                  format, d->textColour, d->bkMode,
                  font != nullptr && font->face != nullptr});
  if (font == nullptr || font->face == nullptr || count == 0)
    return 0;
  const int height = DrawTextOn(*b, nullptr, *font->face, text, count, rect,
                                format, d->textColour, d->bkMode, d->bkColour);
  NoteDirty(d, *rect);
  return height;
}

HFONT CreateFontIndirectA(const LOGFONTA *lf) {
  if (lf == nullptr)
    return nullptr;
  std::shared_ptr<FontFace> face = OpenFontFace(*lf);
  if (face == nullptr)
    return nullptr;
  auto o = std::make_unique<GdiObject>();
  o->type = GdiType::Font;
  o->logfont = *lf;
  o->face = std::move(face);
  return g_gdi.Add<HFONT>(std::move(o));
}
