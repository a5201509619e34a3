// The popup menu on X11: an override-redirect window showing the portable
// menu picture, with the whole pointer grabbed so that a click outside closes
// it. While it is open the program's timers keep ticking.
#pragma once

#include <X11/Xlib.h>

#include <vector>

#include "platform/linux/menu_view.h"

namespace x11 {

class X11Driver;

class PopupMenu {
public:
  PopupMenu(X11Driver &driver, const std::vector<portable::MenuItem> &items);
  // Shows the menu with its top-left corner at (x, y), kept on the screen,
  // and returns the chosen command id, or 0.
  UINT Run(int x, int y);

private:
  void OnEvent(XEvent &event);
  void Paint();

  X11Driver &driver_;
  linuxhost::MenuView view_;
  ::Window window_ = 0;
  portable::Bitmap pixels_;
};

} // namespace x11
