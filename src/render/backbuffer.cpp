// The BackBuffer: sizing and placing the window, the fonts, the background
// with its rim, the embossed caption, and single-entry redraws.
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "render/render.h"

HFONT LabelFont = nullptr;
HFONT CaptionFont = nullptr;
HBITMAP BackBuffer = nullptr;
int32_t PictureScale = 1;

const char kFontFaceName[14] =
    "\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e";

namespace {

int32_t fontsUnit = 0; // the picture unit the fonts were made for

struct CaptionPass {
  int left;
  int top;
  COLORREF colour;
};
const CaptionPass kCaptionPasses[] = {
    {0, 0, 0x000000}, {1, 0, 0x000000}, {2, 0, 0x000000},
    {0, 1, 0x000000}, {2, 1, 0x000000}, {0, 2, 0x000000},
    {1, 2, 0x000000}, {2, 2, 0x000000}, {1, 1, 0xFFFFFF},
};

HFONT MakeFont(int32_t unit, LONG weight) {
  LOGFONTA lf;
  std::memset(&lf, 0, sizeof lf);
  lf.lfHeight = 4 * unit;
  lf.lfWidth = 2 * unit;
  lf.lfWeight = weight;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::memcpy(lf.lfFaceName, kFontFaceName, sizeof kFontFaceName);
  return CreateFontIndirectA(&lf);
}

void ResizeWindow(HWND window, int32_t unit) {
  RECT rect;
  if (!GetWindowRect(window, &rect))
    SetRectEmpty(&rect);
  const RECT work = MonitorWorkArea(rect);
  const KeyEntry *frame = FindKey(KEY_FRAME);
  if (frame == nullptr)
    return;
  const LONG width = unit * frame->width;
  const LONG height = unit * frame->height;
  POINT pos = AnchoredPosition(rect, work, width, height);
  // Grown from its anchor, the keyboard stays wholly in the work area
  // where it fits.
  if (!IsRectEmpty(&rect) && !IsRectEmpty(&work))
    pos = LeastMoveInside({pos.x, pos.y, pos.x + width, pos.y + height}, work);
  SetWindowPos(window, nullptr, pos.x, pos.y, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  g_x = pos.x;
  g_y = pos.y;
  SetWindowTextA(window, frame->label.c_str());
}

void DrawCaption(HWND window, HDC dc, int32_t unit, LONG w, LONG h) {
  HGDIOBJ oldFont = SelectObject(dc, CaptionFont);
  char title[256] = {0};
  GetWindowTextA(window, title, sizeof title);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColour = GetTextColor(dc);
  for (const CaptionPass &pass : kCaptionPasses) {
    RECT r = {unit + pass.left, unit + pass.top, w - unit, h - unit};
    SetTextColor(dc, pass.colour);
    DrawTextA(dc, title, -1, &r, DT_NOPREFIX | DT_WORDBREAK);
  }
  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
}

} // namespace

POINT AnchoredPosition(const RECT &rect, const RECT &work, LONG width,
                       LONG height) {
  if (rect.left >= rect.right || rect.top >= rect.bottom)
    return {rect.left, rect.top};
  POINT pos;
  pos.x = (rect.left + rect.right) / 2 >= (work.left + work.right) / 2
              ? rect.right - width
              : rect.left;
  pos.y = (rect.top + rect.bottom) / 2 >= (work.top + work.bottom) / 2
              ? rect.bottom - height
              : rect.top;
  return pos;
}

RECT KeyPictureRect(const KeyEntry &entry) {
  return KeyPixelRectAt(entry, g_unit * PictureScale);
}

void DeleteFonts() {
  if (LabelFont != nullptr)
    DeleteObject(LabelFont);
  if (CaptionFont != nullptr)
    DeleteObject(CaptionFont);
  LabelFont = nullptr;
  CaptionFont = nullptr;
}

void RebuildBackBuffer(HWND window, int32_t unit, const char *bitmapFile,
                       uint32_t colourA, uint32_t colourB, bool resizeWindow,
                       bool recreateFonts, bool recreateBackground) {
  if (recreateFonts)
    DeleteFonts();
  if (recreateBackground && BackBuffer != nullptr) {
    DeleteObject(BackBuffer);
    BackBuffer = nullptr;
  }
  g_unit = unit;
  if (resizeWindow)
    ResizeWindow(window, unit);
  // Drawn at the window's pixel density: fonts and picture made for
  // another density are made again.
  const int32_t scale = int32_t(WindowPixelScale(window));
  const int32_t pictureUnit = unit * scale;
  if (scale != PictureScale && BackBuffer != nullptr) {
    DeleteObject(BackBuffer);
    BackBuffer = nullptr;
  }
  PictureScale = scale;
  if (fontsUnit != pictureUnit)
    DeleteFonts();
  fontsUnit = pictureUnit;
  if (LabelFont == nullptr)
    LabelFont = MakeFont(pictureUnit, 0);
  if (CaptionFont == nullptr)
    CaptionFont = MakeFont(pictureUnit, FW_BOLD);

  if (BackBuffer == nullptr) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    const LONG w = scale * (client.right - client.left);
    const LONG h = scale * (client.bottom - client.top);
    HDC windowDc = GetDC(window);
    if (windowDc != nullptr) {
      // The generated background is made in the back buffer itself (a
      // picture of 24-bit pixels); a picture file is stretched into it.
      BYTE *bits = nullptr;
      HBITMAP picture = nullptr;
      const bool generated = bitmapFile == nullptr || bitmapFile[0] == '\0';
      if (!generated)
        picture = static_cast<HBITMAP>(
            LoadImageA(nullptr, bitmapFile, IMAGE_BITMAP, 0, 0,
                       LR_LOADFROMFILE | LR_CREATEDIBSECTION));
      if (generated || picture != nullptr)
        BackBuffer = CreatePicture(windowDc, w, h, &bits);
      HDC memory =
          BackBuffer != nullptr ? CreateCompatibleDC(windowDc) : nullptr;
      if (memory != nullptr) {
        HGDIOBJ oldBuffer = SelectObject(memory, BackBuffer);
        if (generated && bits != nullptr) {
          FillGradient(bits, w, h, pictureUnit, colourA, colourB);
        } else if (picture != nullptr) {
          HDC source = CreateCompatibleDC(windowDc);
          if (source != nullptr) {
            HGDIOBJ oldPicture = SelectObject(source, picture);
            BITMAP info;
            std::memset(&info, 0, sizeof info);
            GetObjectA(picture, sizeof info, &info);
            const int oldMode = SetStretchBltMode(memory, COLORONCOLOR);
            StretchBlt(memory, 0, 0, w, h, source, 0, 0, info.bmWidth,
                       info.bmHeight, SRCCOPY);
            SetStretchBltMode(memory, oldMode);
            SelectObject(source, oldPicture);
            DeleteDC(source);
          }
        }
        if (CaptionFont != nullptr)
          DrawCaption(window, memory, pictureUnit, w, h);
        for (auto it = KeySet.begin(); it != KeySet.end();) {
          const uint32_t id = it->first;
          SendToKey(window, it->second, WM_PAINT, 0,
                    reinterpret_cast<LPARAM>(memory));
          it = KeySet.upper_bound(id);
        }
        SelectObject(memory, oldBuffer);
        DeleteDC(memory);
      }
      if (picture != nullptr)
        DeleteObject(picture);
      ReleaseDC(window, windowDc);
    }
  }
  InvalidateRect(window, nullptr, FALSE);
}

HBITMAP CreatePicture(HDC dc, int width, int height, BYTE **bits) {
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *data = nullptr;
  HBITMAP picture =
      CreateDIBSection(dc, &info, DIB_RGB_COLORS, &data, nullptr, 0);
  *bits = static_cast<BYTE *>(data);
  return picture;
}

void FillGradient(BYTE *bits, int width, int height, int unit, uint32_t colourA,
                  uint32_t colourB) {
  if (width <= 0 || height <= 0)
    return;
  const int stride = ((24 * width + 31) / 32) * 4;
  const int denominator = width + height - 1;
  const int a[3] = {static_cast<int>(colourA & 0xFF),
                    static_cast<int>((colourA >> 8) & 0xFF),
                    static_cast<int>((colourA >> 16) & 0xFF)};
  const int b[3] = {static_cast<int>(colourB & 0xFF),
                    static_cast<int>((colourB >> 8) & 0xFF),
                    static_cast<int>((colourB >> 16) & 0xFF)};
  // A pixel's colour depends only on n = x + y and on the band it lies in:
  // each channel's MulDiv is made once per diagonal, in its three looks.
  std::vector<BYTE> plain(static_cast<size_t>(denominator) * 3);
  std::vector<BYTE> lit(plain.size()), shaded(plain.size());
  auto clamp = [](int v) {
    return static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v);
  };
  for (int n = 0; n < denominator; ++n)
    for (int c = 0; c < 3; ++c) {
      const int v = a[c] + MulDiv(b[c] - a[c], n, denominator);
      const size_t at = size_t(n) * 3 + (2 - c); // blue, green, red
      plain[at] = clamp(v);
      lit[at] = clamp(v / 2 + 128);
      shaded[at] = clamp(v / 2);
    }
  for (int y = 0; y < height; ++y) {
    BYTE *row = bits + static_cast<size_t>(height - 1 - y) * stride;
    // Highlight: x < unit with n < height, or y < unit with n < width.
    int litEnd = std::min(unit, height - y);
    if (y < unit)
      litEnd = std::max(litEnd, width - y);
    litEnd = std::clamp(litEnd, 0, width);
    // Shadow: the rest of the right and bottom bands.
    const int shadeStart =
        y >= height - unit ? litEnd : std::clamp(width - unit, litEnd, width);
    auto copy = [&](const std::vector<BYTE> &look, int from, int to) {
      if (to > from)
        std::memcpy(row + 3 * from, &look[size_t(from + y) * 3],
                    size_t(to - from) * 3);
    };
    copy(lit, 0, litEnd);
    copy(plain, litEnd, shadeStart);
    copy(shaded, shadeStart, width);
  }
}

BOOL RedrawKey(HWND window, KeyEntry &entry, bool erase) {
  if (BackBuffer != nullptr) {
    HDC windowDc = GetDC(window);
    if (windowDc != nullptr) {
      HDC memory = CreateCompatibleDC(windowDc);
      ReleaseDC(window, windowDc);
      if (memory != nullptr) {
        HGDIOBJ old = SelectObject(memory, BackBuffer);
        SendToKey(window, entry, WM_PAINT, 0, reinterpret_cast<LPARAM>(memory));
        SelectObject(memory, old);
        DeleteDC(memory);
      }
    }
  }
  const RECT r = KeyPixelRect(entry);
  return InvalidateRect(window, &r, erase ? TRUE : FALSE);
}

BOOL FillSolid(HDC dc, int x, int y, int width, int height, COLORREF colour) {
  if (width <= 0 || height <= 0)
    return FALSE;
  const COLORREF old = SetBkColor(dc, colour);
  const RECT r = {x, y, x + width, y + height};
  const BOOL ok = ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
  SetBkColor(dc, old);
  return ok;
}

void ResetRenderState() {
  DeleteFonts();
  fontsUnit = 0;
  PictureScale = 1;
  if (BackBuffer != nullptr)
    DeleteObject(BackBuffer);
  BackBuffer = nullptr;
}
