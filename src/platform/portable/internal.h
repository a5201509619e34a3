// Objects behind the portable layer's handles. Handles are never reused, so
// a stale handle finds nothing instead of another object.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/portable/driver.h"
#include "platform/portable/host.h"
#include "platform/portable/testing.h"

namespace portable {

uintptr_t NextHandle();

template <class T> class HandleTable {
public:
  template <class H> T *Get(H handle) const {
    auto it = items_.find(reinterpret_cast<uintptr_t>(handle));
    return it == items_.end() ? nullptr : it->second.get();
  }
  template <class H> H Add(std::unique_ptr<T> item) {
    const uintptr_t h = NextHandle();
    items_[h] = std::move(item);
    return reinterpret_cast<H>(h);
  }
  template <class H> bool Remove(H handle) {
    return items_.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
  }
  void Clear() { items_.clear(); }
  std::unordered_map<uintptr_t, std::unique_ptr<T>> &items() { return items_; }

private:
  std::unordered_map<uintptr_t, std::unique_ptr<T>> items_;
};

inline uint32_t ColorrefToRgb(COLORREF c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

struct FontFace; // text.cpp

enum class GdiType { Bitmap, Pen, Brush, Font };
struct GdiObject {
  GdiType type;
  bool stock = false;
  Bitmap bitmap;         // Bitmap
  COLORREF colour = 0;   // Pen, Brush
  LOGFONTA logfont = {}; // Font
  std::shared_ptr<FontFace> face;
};

struct Dc {
  HWND hwnd = nullptr; // window DCs draw on the window's surface
  bool memory = false;
  HGDIOBJ bitmap = nullptr;
  HGDIOBJ pen = nullptr;
  HGDIOBJ brush = nullptr;
  HGDIOBJ font = nullptr;
  COLORREF textColour = 0x000000;
  COLORREF bkColour = 0xFFFFFF;
  int bkMode = OPAQUE;
  int stretchMode = BLACKONWHITE;
  bool touched = false;
  bool drawing = false; // the driver was told before the first drawing
  RECT dirty = {0, 0, 0, 0};
  bool clipped = false; // a paint context: only `clip` reaches the window
  RECT clip = {0, 0, 0, 0};
};

struct Window {
  HWND handle = nullptr;
  bool foreign = false;
  std::string className;
  std::string title;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect = {0, 0, 0, 0};
  HWND owner = nullptr;
  bool visible = false;
  bool destroying = false;
  Bitmap surface; // scale x scale pixels for each window coordinate
  int scale = 1;
  bool created = false; // WM_CREATE has returned
  bool invalid = false;
  RECT invalidRect = {0, 0, 0, 0};
  uint64_t zorder = 0;
};

// Where a window stands among the program's own: topmost windows above the
// others, then the most recently raised. The larger rank is in front.
inline std::pair<bool, uint64_t> StackRank(const Window &w) {
  return {(w.exStyle & WS_EX_TOPMOST) != 0, w.zorder};
}

struct Menu {
  std::vector<MenuItem> items;
  HMENU popup = nullptr; // the single popup of a loaded menu bar
};

extern HandleTable<Window> g_windows;
extern HandleTable<GdiObject> g_gdi;
extern HandleTable<Dc> g_dcs;

Window *OwnWindow(HWND hwnd);
// The message loop's (message_loop.cpp): a destroyed window's timers go,
// and everything is dropped between test runs.
void DropTimersOf(HWND hwnd);
void ResetMessageLoop();
Bitmap *DcTarget(Dc *dc);
Dc *GetDcObject(HDC dc);
void MarkDirty(Dc *dc, RECT r);
void ResetGdi();
struct DrawCall;
void Record(const DrawCall &call);
void ResetRegistry();

// Text (text.cpp).
std::shared_ptr<FontFace> OpenFontFace(const LOGFONTA &lf);
int DrawTextOn(Bitmap &target, const RECT *clip, FontFace &face,
               const char *text, int count, RECT *rect, UINT format,
               COLORREF colour, int bkMode, COLORREF bkColour);

// Gives the pages of the font files read since the last call back to the
// system (they come again from the files when a glyph not yet drawn is
// needed): called as the loop goes to wait.
void GiveBackFontPages();

// The width in pixels of Shift-JIS text on one line.
int MeasureText(FontFace &face, const std::string &text);

// Picture files (bmp.cpp): false when the bytes are not a bitmap we read.
bool DecodeBmp(const uint8_t *bytes, size_t size, Bitmap *out);
// A one-pixel line from (x0, y0) towards (x1, y1), the end point excluded,
// as GDI's one-pixel pen draws it.
void DrawLinePixels(Bitmap &b, LONG x0, LONG y0, LONG x1, LONG y1,
                    uint32_t rgb);
// Which of `source` pixels each of `target` pixels shows when StretchBlt
// maps one axis (rows take the first of a reduced run, columns the last).
std::vector<int> StretchMap(int source, int target, bool firstOfRun);

} // namespace portable
