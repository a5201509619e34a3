// The frame's push buttons: close, hide, previous and next face, cut, copy
// and paste.
#include "keyboard/keyboard.h"
#include "render/render.h"

namespace {

void DrawGlyph(HDC dc, const POINT *points, int count, LONG l, LONG t) {
  POINT closed[8];
  for (int i = 0; i < count; ++i)
    closed[i] = {l + points[i].x, t + points[i].y};
  closed[count] = closed[0];
  Polygon(dc, closed, count + 1);
}

bool PointInside(const KeyEntry &entry, LPARAM lParam) {
  const int x = static_cast<SHORT>(LOWORD(lParam));
  const int y = static_cast<SHORT>(HIWORD(lParam));
  const RECT r = KeyPixelRect(entry);
  return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
}

} // namespace

GlyphBox SystemButtonGlyphBox(const KeyEntry &entry) {
  RECT box = KeyPictureRect(entry);
  InflateRect(&box, -4, -4);
  LONG w = box.right - box.left;
  LONG h = box.bottom - box.top;
  if (w >= h) {
    const LONG d = w - h;
    box.left += d / 2;
    box.right -= (d + 1) / 2;
  } else {
    const LONG d = h - w;
    box.top += d / 2;
    box.bottom -= (d + 1) / 2;
  }
  if (entry.flags & Down) {
    box.left += 1;
    box.top += 1;
  } else {
    box.right -= 1;
    box.bottom -= 1;
  }
  return {box.left, box.top, box.right - box.left, box.bottom - box.top};
}

int SystemButtonGlyph(char kind, LONG bw, LONG bh, POINT *out,
                      int *secondStart) {
  *secondStart = -1;
  const bool odd = (bh % 2) != 0;
  int n = 0;
  switch (kind) {
  case '<':
    out[n++] = {bw - 1, 0};
    if (odd)
      out[n++] = {0, bh / 2 - 1};
    out[n++] = {0, bh / 2};
    out[n++] = {bw - 1, bh - 1};
    return n;
  case '>':
    out[n++] = {0, 0};
    if (odd)
      out[n++] = {bw - 1, bh / 2 - 1};
    out[n++] = {bw - 1, bh / 2};
    out[n++] = {0, bh - 1};
    return n;
  case '_':
    out[n++] = {0, bh - 2};
    out[n++] = {bw - 1, bh - 2};
    out[n++] = {bw - 1, bh - 1};
    out[n++] = {0, bh - 1};
    return n;
  case 'X':
    out[n++] = {0, 0};
    out[n++] = {1, 0};
    out[n++] = {bw - 1, bh - 2};
    out[n++] = {bw - 1, bh - 1};
    out[n++] = {bw - 2, bh - 1};
    out[n++] = {0, 1};
    *secondStart = n;
    out[n++] = {bw - 1, 0};
    out[n++] = {bw - 2, 0};
    out[n++] = {0, bh - 2};
    out[n++] = {0, bh - 1};
    out[n++] = {1, bh - 1};
    out[n++] = {bw - 1, 1};
    return n;
  default:
    return 0;
  }
}

void PaintSystemButton(HDC dc, const KeyEntry &entry) {
  RECT text = KeyPictureRect(entry);
  const bool down = (entry.flags & Down) != 0;
  DrawEdge(dc, &text, down ? EDGE_SUNKEN : EDGE_RAISED,
           BF_RECT | BF_MIDDLE | BF_ADJUST);
  const GlyphBox box = SystemButtonGlyphBox(entry);

  const COLORREF colour = GetSysColor(COLOR_BTNTEXT);
  HPEN pen = CreatePen(PS_SOLID, 0, colour);
  HBRUSH brush = CreateSolidBrush(colour);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, brush);

  const char first = entry.label.empty() ? '\0' : entry.label[0];
  if (first == '\t') {
    if (LabelFont != nullptr) {
      HGDIOBJ oldFont = SelectObject(dc, LabelFont);
      const COLORREF oldColour = SetTextColor(dc, colour);
      const int oldMode = SetBkMode(dc, TRANSPARENT);
      DrawTextA(dc, entry.label.c_str() + 1,
                static_cast<int>(entry.label.size() - 1), &text,
                DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
      SetBkMode(dc, oldMode);
      SetTextColor(dc, oldColour);
      SelectObject(dc, oldFont);
    }
  } else {
    POINT points[12];
    int second = -1;
    const int n = SystemButtonGlyph(first, box.bw, box.bh, points, &second);
    if (second < 0) {
      if (n > 0)
        DrawGlyph(dc, points, n, box.left, box.top);
    } else {
      DrawGlyph(dc, points, second, box.left, box.top);
      DrawGlyph(dc, points + second, n - second, box.left, box.top);
    }
  }

  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(pen);
  DeleteObject(brush);
}

BYTE SystemButtonHandler(HWND window, KeyEntry &entry, UINT message,
                         WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  switch (message) {
  case WM_PAINT:
    PaintSystemButton(reinterpret_cast<HDC>(lParam), entry);
    return 1;
  case WM_LBUTTONDOWN:
    if (!IsAnyKeyCaptured()) {
      SetCapturedKey(entry);
      entry.flags |= Down;
      RedrawKey(window, entry, false);
    }
    return 1;
  case WM_MOUSEMOVE:
    if (IsCapturedKey(entry)) {
      const bool inside = PointInside(entry, lParam);
      if (inside != ((entry.flags & Down) != 0)) {
        entry.flags = inside ? (entry.flags | Down) : (entry.flags & ~Down);
        RedrawKey(window, entry, false);
      }
    }
    return 1;
  case WM_LBUTTONUP:
    if (IsCapturedKey(entry)) {
      ClearCapturedKey();
      if (entry.flags & Down) {
        entry.flags &= ~Down;
        RedrawKey(window, entry, false);
      }
      if (PointInside(entry, lParam)) {
        const WPARAM command = entry.id & 0xFFFF;
        // The command may rebuild the key set or end the program: the entry
        // is not touched after it.
        KeyboardWndProc(window, WM_COMMAND, command, 0);
      }
    }
    return 1;
  default:
    return 0;
  }
}
