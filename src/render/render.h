// The off-screen BackBuffer, the fonts, the window's size, and key painting.
#pragma once

#include <cstdint>
#include <string_view>

#include "keyboard/keyboard.h"
#include "model/keyset.h"
#include "platform/platform.h"

extern HFONT LabelFont;
extern HFONT CaptionFont;
extern HBITMAP BackBuffer;
// The BackBuffer's pixels per window coordinate (a HiDPI output's scale):
// the picture is drawn at the unit times this, exactly as that unit draws.
extern int32_t PictureScale;

// Where a key lies in the BackBuffer.
RECT KeyPictureRect(const KeyEntry &entry);

// Face name "ＭＳ ゴシック" in Shift-JIS.
extern const char kFontFaceName[14];

void RebuildBackBuffer(HWND window, int32_t unit, const char *bitmapFile,
                       uint32_t colourA, uint32_t colourB, bool resizeWindow,
                       bool recreateFonts, bool recreateBackground);
BOOL RedrawKey(HWND window, KeyEntry &entry, bool erase);
BOOL FillSolid(HDC dc, int x, int y, int width, int height, COLORREF colour);
void DeleteFonts();

// The new top-left corner when a window of `rect` is resized to width x
// height: the right (bottom) edge stays when the window's centre is at or
// right of (below) the work area's centre.
POINT AnchoredPosition(const RECT &rect, const RECT &work, LONG width,
                       LONG height);

// The generated background: 24-bit pixels, bottom-up rows padded to 4 bytes.
void FillGradient(BYTE *bits, int width, int height, int unit, uint32_t colourA,
                  uint32_t colourB);
// A picture of 24-bit pixels, bottom-up rows padded to 4 bytes; `bits`
// points at them.
HBITMAP CreatePicture(HDC dc, int width, int height, BYTE **bits);

// Key painting.
void PaintKey(HDC dc, const KeyEntry &entry);
bool IsFourLineLabel(std::string_view label);
std::string_view LabelLineFor(std::string_view label,
                              const ModifierState &state);

void ResetRenderState();
