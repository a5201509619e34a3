// The popup menu on X11: an override-redirect window drawn with the portable
// GDI and the keyboard's font, chosen with either button, closed by a click
// outside. While it is open the program's timers keep ticking.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <vector>

#include "platform/portable/driver.h"
#include "platform/portable/internal.h"

namespace x11 {

class X11Driver;

class PopupMenu {
public:
  PopupMenu(X11Driver &driver, const std::vector<portable::MenuItem> &items);
  // Shows the menu with its top-left corner at (x, y), kept on the screen,
  // and returns the chosen command id, or 0.
  UINT Run(int x, int y);

  // Layout, in menu pixels (exposed for tests).
  int width() const { return width_; }
  int height() const { return height_; }
  int ItemAt(int x, int y) const; // index, or -1
  void Draw(portable::Bitmap &target, int hover) const;

private:
  void Layout();
  void OnEvent(XEvent &event);
  void Paint();

  X11Driver &driver_;
  std::vector<portable::MenuItem> items_;
  std::vector<int> tops_; // y of each item
  std::shared_ptr<portable::FontFace> font_;
  int width_ = 0;
  int height_ = 0;
  int rowHeight_ = 0;
  ::Window window_ = 0;
  int hover_ = -1;
  bool armed_ = false; // a release counts only after a press or a move
  bool done_ = false;
  UINT chosen_ = 0;
  portable::Bitmap pixels_;
};

} // namespace x11
