// A popup menu as the hosts show it: the items laid out in the keyboard's
// font, drawn with the system colours into a picture, and the pointer's
// presses, releases and moves turned into a choice. Either button chooses;
// a press outside closes the menu. The host supplies the window.
#pragma once

#include <memory>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/portable/driver.h"

namespace portable {
struct FontFace;
}

namespace linuxhost {

using portable::Bitmap;
using portable::FontFace;
using portable::MenuItem;

class MenuView {
public:
  // Drawn with `scale` x `scale` pixels for each of its own (a HiDPI
  // output's); everything else is in its own pixels.
  explicit MenuView(const std::vector<MenuItem> &items, int scale = 1);

  int width() const { return width_; }
  int height() const { return height_; }
  int ItemAt(int x, int y) const; // index, or -1
  // Where the item's row is, from its top to below its bottom, in menu
  // pixels.
  int Top(size_t item) const { return tops_[item]; }
  int Bottom(size_t item) const;
  const std::vector<MenuItem> &items() const { return items_; }
  int scale() const { return scale_; }
  // Into a picture of width() x height() times the scale.
  void Draw(Bitmap &target) const;

  // The pointer, in menu pixels (outside the menu too). Each returns
  // whether the picture changed; done() and chosen() tell the outcome.
  bool Motion(int x, int y);
  void Press(int x, int y);
  void Release(int x, int y);
  bool done() const { return done_; }
  UINT chosen() const { return chosen_; }
  void Close() { done_ = true; }

private:
  void Layout();

  std::vector<MenuItem> items_;
  std::vector<int> tops_;          // y of each item
  std::shared_ptr<FontFace> font_; // at the scale
  int scale_ = 1;
  int width_ = 0;
  int height_ = 0;
  int rowHeight_ = 0;
  int hover_ = -1;
  bool armed_ = false; // a release counts only after a press or a move
  bool done_ = false;
  UINT chosen_ = 0;
};

// The context menu's entries as its resource describes them (no item
// greyed or checked).
std::vector<MenuItem> ContextMenuItems();

} // namespace linuxhost
