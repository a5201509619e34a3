#include "platform/linux/menu_view.h"

#include "platform/portable/internal.h"
#include "platform/resources/context_menu.h"

#include <algorithm>
#include <cstring>

#include "platform/portable/text.h"

namespace linuxhost {

using namespace portable;

namespace {

constexpr int kSeparatorHeight = 8;
constexpr int kTextLeft = 20; // room for the check mark
constexpr int kTextRight = 16;
constexpr int kBorder = 2;

// "ＭＳ ゴシック" in Shift-JIS, the keyboard's own face.
const char kFace[] = "\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e";

// The text without the access-key marks, and where the marked character is.
std::string StripMnemonic(const std::string &text, int *marked) {
  std::string out;
  *marked = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      if (text[i + 1] != '&')
        *marked = int(out.size());
      out += text[++i];
      continue;
    }
    out += text[i];
  }
  return out;
}

} // namespace

MenuView::MenuView(const std::vector<MenuItem> &items, int scale)
    : items_(items), scale_(std::clamp(scale, 1, 8)) {
  LOGFONTA lf;
  std::memset(&lf, 0, sizeof lf);
  lf.lfHeight = 16 * scale_;
  lf.lfWidth = 8 * scale_;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::memcpy(lf.lfFaceName, kFace, sizeof kFace);
  font_ = OpenFontFace(lf);
  Layout();
}

void MenuView::Layout() {
  rowHeight_ = (font_ != nullptr ? 16 : 12) + 6;
  int textWidth = 60;
  int y = kBorder;
  tops_.clear();
  for (const MenuItem &item : items_) {
    tops_.push_back(y);
    if (item.separator) {
      y += kSeparatorHeight;
      continue;
    }
    y += rowHeight_;
    if (font_ != nullptr) {
      int marked;
      const std::string text = StripMnemonic(item.text, &marked);
      const int scaled = MeasureText(*font_, text);
      textWidth = std::max(textWidth, (scaled + scale_ - 1) / scale_);
    }
  }
  width_ = kBorder * 2 + kTextLeft + textWidth + kTextRight;
  height_ = y + kBorder;
}

std::vector<MenuItem> ContextMenuItems() {
  std::vector<MenuItem> items;
  for (const ContextMenuItem &c : kContextMenuItems) {
    MenuItem item;
    item.id = c.id;
    item.separator = c.text == nullptr;
    if (c.text != nullptr)
      item.text = c.text;
    items.push_back(item);
  }
  return items;
}

int MenuView::Bottom(size_t item) const {
  return tops_[item] + (items_[item].separator ? kSeparatorHeight : rowHeight_);
}

int MenuView::ItemAt(int x, int y) const {
  if (x < kBorder || x >= width_ - kBorder)
    return -1;
  for (size_t i = 0; i < items_.size(); ++i) {
    const int bottom =
        tops_[i] + (items_[i].separator ? kSeparatorHeight : rowHeight_);
    if (y >= tops_[i] && y < bottom)
      return int(i);
  }
  return -1;
}

void MenuView::Draw(Bitmap &b) const {
  const int hover = hover_;
  const int s = scale_;
  // Lines and marks in the menu's own pixels, each s x s on the picture;
  // the text is drawn at the picture's own density.
  auto fill = [&](int x0, int y0, int x1, int y1, uint32_t rgb) {
    for (int y = std::max(0, y0 * s); y < std::min(b.height, y1 * s); ++y)
      for (int x = std::max(0, x0 * s); x < std::min(b.width, x1 * s); ++x)
        b.Set(x, y, rgb);
  };
  auto rgb = [](int index) { return ColorrefToRgb(GetSysColor(index)); };
  fill(0, 0, width_, height_, rgb(COLOR_MENU));
  // A raised frame, as the classic menus have.
  fill(0, 0, width_, 1, rgb(COLOR_3DLIGHT));
  fill(0, 0, 1, height_, rgb(COLOR_3DLIGHT));
  fill(1, 1, width_ - 1, 2, rgb(COLOR_BTNHIGHLIGHT));
  fill(1, 1, 2, height_ - 1, rgb(COLOR_BTNHIGHLIGHT));
  fill(0, height_ - 1, width_, height_, rgb(COLOR_3DDKSHADOW));
  fill(width_ - 1, 0, width_, height_, rgb(COLOR_3DDKSHADOW));
  fill(1, height_ - 2, width_ - 1, height_ - 1, rgb(COLOR_BTNSHADOW));
  fill(width_ - 2, 1, width_ - 1, height_ - 1, rgb(COLOR_BTNSHADOW));
  for (size_t i = 0; i < items_.size(); ++i) {
    const MenuItem &item = items_[i];
    const int top = tops_[i];
    if (item.separator) {
      const int mid = top + kSeparatorHeight / 2 - 1;
      fill(kBorder + 1, mid, width_ - kBorder - 1, mid + 1,
           rgb(COLOR_BTNSHADOW));
      fill(kBorder + 1, mid + 1, width_ - kBorder - 1, mid + 2,
           rgb(COLOR_BTNHIGHLIGHT));
      continue;
    }
    const bool grey = (item.state & (MF_GRAYED | MF_DISABLED)) != 0;
    const bool lit = int(i) == hover && !grey;
    uint32_t ink = rgb(lit ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
    if (lit)
      fill(kBorder, top, width_ - kBorder, top + rowHeight_,
           rgb(COLOR_HIGHLIGHT));
    if (item.state & MF_CHECKED) {
      // A check mark: two strokes, three pixels thick.
      const int cx = kBorder + 5, cy = top + rowHeight_ / 2;
      for (int t = 0; t < 3; ++t) {
        for (int k = 0; k < 3; ++k)
          fill(cx + k, cy + k + t - 1, cx + k + 1, cy + k + t,
               grey ? rgb(COLOR_GRAYTEXT) : ink);
        for (int k = 0; k < 5; ++k)
          fill(cx + 3 + k, cy + 1 - k + t, cx + 4 + k, cy + 2 - k + t,
               grey ? rgb(COLOR_GRAYTEXT) : ink);
      }
    }
    if (font_ == nullptr)
      continue;
    int marked;
    const std::string text = StripMnemonic(item.text, &marked);
    auto drawText = [&](int dx, int dy, uint32_t colour) {
      RECT r = {(kBorder + kTextLeft + dx) * s, (top + dy) * s,
                (width_ - kBorder + dx) * s, (top + rowHeight_ + dy) * s};
      const COLORREF c =
          ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
      DrawTextOn(b, nullptr, *font_, text.data(), int(text.size()), &r,
                 DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, c, TRANSPARENT, 0);
      if (marked >= 0) {
        // The access key's character is underlined (measured on the
        // picture, so the line is as long as the character is wide).
        const int x0 =
            r.left + MeasureText(*font_, text.substr(0, size_t(marked)));
        const int x1 =
            r.left + MeasureText(*font_, text.substr(0, size_t(marked) + 1));
        const int y = (top + dy + (rowHeight_ + 16) / 2) * s;
        for (int py = std::max(0, y); py < std::min(b.height, y + s); ++py)
          for (int px = std::max(0, x0); px < std::min(b.width, x1); ++px)
            b.Set(px, py, colour);
      }
    };
    if (grey) {
      drawText(1, 1, rgb(COLOR_BTNHIGHLIGHT));
      drawText(0, 0, rgb(COLOR_GRAYTEXT));
    } else {
      drawText(0, 0, ink);
    }
  }
}

bool MenuView::Motion(int x, int y) {
  const int item = ItemAt(x, y);
  if (item == hover_)
    return false;
  hover_ = item;
  armed_ = true;
  return true;
}

void MenuView::Press(int x, int y) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) {
    done_ = true; // a click outside closes the menu
    chosen_ = 0;
  } else {
    armed_ = true;
  }
}

void MenuView::Release(int x, int y) {
  if (!armed_)
    return; // the release of the click that opened the menu
  const int item = ItemAt(x, y);
  if (item < 0)
    return;
  const MenuItem &m = items_[size_t(item)];
  if (m.separator || (m.state & (MF_GRAYED | MF_DISABLED)))
    return;
  chosen_ = m.id;
  done_ = true;
}

} // namespace linuxhost
