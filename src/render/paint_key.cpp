// Painting an ordinary key: bevel, face and the label line for the current
// Shift, Caps Lock and Kana state.
#include "render/render.h"

namespace {

constexpr COLORREF kFourLineFace = 0x00E0FFFF;
constexpr COLORREF kPlainFace = 0x00E0E0E0;
constexpr COLORREF kBlack = 0x00000000;

COLORREF Grey(BYTE level) { return RGB(level, level, level); }

struct Line {
  int x, y, w, h;
  COLORREF colour;
};

} // namespace

bool IsFourLineLabel(std::string_view label) {
  return label.size() > 3 && label[0] == '\t';
}

std::string_view LabelLineFor(std::string_view label,
                              const ModifierState &state) {
  int index = 0;
  const char cls = label.size() > 1 ? label[1] : '\0';
  if (state.kana)
    index = state.shift ? 3 : 2;
  else if (cls == '1')
    index = state.shift ? 1 : 0;
  else if (cls == '2')
    index = (state.shift != state.caps) ? 1 : 0;
  size_t pos = 3;
  while (index > 0 && pos < label.size()) {
    if (label[pos] == '\n')
      --index;
    ++pos;
  }
  if (pos > label.size())
    pos = label.size();
  if (index > 0)
    return label.substr(label.size(), 0);
  const size_t end = label.find('\n', pos);
  return label.substr(
      pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

void PaintKey(HDC dc, const KeyEntry &entry) {
  const std::string_view label = entry.label;
  const bool fourLine = IsFourLineLabel(label);
  const std::string_view text =
      fourLine ? LabelLineFor(label, g_modifiers) : label;
  const COLORREF face = fourLine ? kFourLineFace : kPlainFace;
  const BYTE red = GetRValue(face);
  const COLORREF dark = Grey(red / 2);
  const COLORREF light = Grey(red / 2 + 128);

  const RECT r = KeyPictureRect(entry);
  const int left = r.left, top = r.top;
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int right = left + w, bottom = top + h;
  RECT faceRect;
  if (!(entry.flags & Down)) {
    const Line lines[] = {
        {left, top, w, 1, light},
        {left, top + 1, 1, h - 2, light},
        {left + 1, top + 1, w - 2, 1, light},
        {left + 1, top + 2, 1, h - 4, light},
        {left, bottom - 1, w, 1, kBlack},
        {right - 1, top + 1, 1, h - 2, kBlack},
        {left + 1, bottom - 2, w - 2, 1, dark},
        {right - 2, top + 2, 1, h - 4, dark},
    };
    for (const Line &l : lines)
      FillSolid(dc, l.x, l.y, l.w, l.h, l.colour);
    faceRect = {left + 2, top + 2, right - 2, bottom - 2};
  } else {
    const Line lines[] = {
        {left, top, w, 1, kBlack},
        {left, top + 1, 1, h - 2, kBlack},
        {left + 1, top + 1, w - 2, 1, dark},
        {left + 1, top + 2, 1, h - 4, dark},
        {left + 2, top + 2, w - 3, 1, dark},
        {left + 1, top + 3, 1, h - 5, dark},
        {left, bottom - 1, w, 1, light},
        {right - 1, top + 1, 1, h - 2, light},
    };
    for (const Line &l : lines)
      FillSolid(dc, l.x, l.y, l.w, l.h, l.colour);
    faceRect = {left + 3, top + 3, right - 1, bottom - 1};
  }
  FillSolid(dc, faceRect.left, faceRect.top, faceRect.right - faceRect.left,
            faceRect.bottom - faceRect.top, face);

  if (LabelFont != nullptr) {
    HGDIOBJ oldFont = SelectObject(dc, LabelFont);
    const COLORREF oldColour = SetTextColor(dc, kBlack);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.data(), static_cast<int>(text.size()), &faceRect,
              DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SetBkMode(dc, oldMode);
    SetTextColor(dc, oldColour);
    SelectObject(dc, oldFont);
  }
}
