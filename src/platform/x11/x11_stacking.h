// Where the keyboard window belongs among the screen's top-level windows:
// above every ordinary window that overlaps it, below other programs'
// menus, tooltips and input method candidate lists (their override-redirect
// windows), so that a list the user must click is never hidden under a key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace x11 {

// One of the root window's children, as the stacking sees it.
struct StackedWindow {
  uint64_t id = 0;
  bool viewable = false; // mapped, with every ancestor mapped
  // Placed by its program, not managed (a window manager's frame that
  // holds a managed window does not count as such).
  bool overrideRedirect = false;
  bool ours = false;     // one of Flinto's windows
  bool overlaps = false; // shares at least one pixel with the keyboard
};

struct Restack {
  enum Mode : uint8_t { kNone, kAbove, kBelow } mode = kNone;
  uint64_t sibling = 0; // the window to go directly above or below
};

// The move that puts the keyboard (the window at index `keyboard` of
// `stack`, ordered bottom to top, as XQueryTree lists them) in its place:
// - directly above the topmost viewable ordinary window of another program
//   that overlaps it, when that window lies above it;
// - else directly below the lowest viewable override-redirect window of
//   another program that overlaps it and lies above that ordinary window
//   but below the keyboard (the keyboard was mapped or raised over it);
// - else nothing.
Restack PlaceKeyboard(const std::vector<StackedWindow> &stack, size_t keyboard);

} // namespace x11
