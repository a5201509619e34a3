// Where the X11 keyboard goes in the stack: over ordinary windows, under
// other programs' menus and candidate lists.
#include <gtest/gtest.h>

#include "platform/x11/x11_stacking.h"

namespace {

using x11::PlaceKeyboard;
using x11::Restack;
using x11::StackedWindow;

StackedWindow Ordinary(uint64_t id) {
  StackedWindow w;
  w.id = id;
  w.viewable = true;
  w.overlaps = true;
  return w;
}

StackedWindow Popup(uint64_t id) {
  StackedWindow w = Ordinary(id);
  w.overrideRedirect = true;
  return w;
}

StackedWindow Keyboard() {
  StackedWindow w = Popup(1);
  w.ours = true;
  return w;
}

TEST(X11Stacking, AnOrdinaryWindowOverTheKeyboardGoesUnderIt) {
  // Bottom to top: the keyboard, a candidate list, the application raised
  // by the window manager: above the application, under nothing else.
  const Restack move = PlaceKeyboard({Keyboard(), Popup(20), Ordinary(30)}, 0);
  EXPECT_EQ(move.mode, Restack::kAbove);
  EXPECT_EQ(move.sibling, 30u);
  // The topmost of several.
  EXPECT_EQ(PlaceKeyboard({Keyboard(), Ordinary(30), Ordinary(31)}, 0).sibling,
            31u);
}

TEST(X11Stacking, OtherProgramsPopupsStayAboveTheKeyboard) {
  // A candidate list over the keyboard: nothing to do.
  EXPECT_EQ(PlaceKeyboard({Ordinary(30), Keyboard(), Popup(20)}, 1).mode,
            Restack::kNone);
  // The keyboard mapped over a candidate list that was over the
  // application: back under the list, still over the application.
  const Restack move =
      PlaceKeyboard({Ordinary(30), Popup(20), Popup(21), Keyboard()}, 3);
  EXPECT_EQ(move.mode, Restack::kBelow);
  EXPECT_EQ(move.sibling, 20u);
  // A popup under the topmost ordinary window is hidden by it anyway.
  EXPECT_EQ(PlaceKeyboard({Popup(20), Ordinary(30), Keyboard()}, 2).mode,
            Restack::kNone);
  // With no ordinary window at all, under the lowest popup.
  EXPECT_EQ(PlaceKeyboard({Popup(20), Keyboard()}, 1).sibling, 20u);
}

TEST(X11Stacking, OnlyViewableOverlappingWindowsOfOthersCount) {
  StackedWindow elsewhere = Ordinary(30);
  elsewhere.overlaps = false;
  StackedWindow unmapped = Ordinary(31);
  unmapped.viewable = false;
  StackedWindow menu = Ordinary(32); // Flinto's own
  menu.ours = true;
  EXPECT_EQ(
      PlaceKeyboard({Keyboard(), elsewhere, unmapped, menu, Popup(20)}, 0).mode,
      Restack::kNone);
  StackedWindow farPopup = Popup(21);
  farPopup.overlaps = false;
  StackedWindow ownPopup = Popup(22);
  ownPopup.ours = true;
  EXPECT_EQ(
      PlaceKeyboard({Ordinary(30), farPopup, ownPopup, Keyboard()}, 3).mode,
      Restack::kNone);
  // Out of range: nothing.
  EXPECT_EQ(PlaceKeyboard({Ordinary(30)}, 1).mode, Restack::kNone);
}

} // namespace
