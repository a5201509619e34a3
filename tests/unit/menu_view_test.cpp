// The popup menu of both Linux hosts: its layout and its choice.
#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/menu_view.h"

namespace {

std::vector<portable::MenuItem> ContextMenu() {
  return linuxhost::ContextMenuItems();
}

TEST(MenuView, RowsSeparatorsAndBorderGiveTheHeightAndTheItemBounds) {
  linuxhost::MenuView menu(ContextMenu());
  // Eight items of 22 pixels, four separators of 8, a border of 2.
  EXPECT_EQ(menu.height(), 2 + 8 * 22 + 4 * 8 + 2);
  EXPECT_EQ(menu.ItemAt(10, 1), -1); // the border
  EXPECT_EQ(menu.ItemAt(10, 2), 0);
  EXPECT_EQ(menu.ItemAt(10, 23), 0);
  EXPECT_EQ(menu.ItemAt(10, 24), 1); // the separator
  EXPECT_EQ(menu.ItemAt(10, 31), 1);
  EXPECT_EQ(menu.ItemAt(10, 32), 2);
  EXPECT_EQ(menu.ItemAt(1, 10), -1);
  EXPECT_EQ(menu.ItemAt(2, 10), 0);
  EXPECT_EQ(menu.ItemAt(menu.width() - 3, 10), 0);
  EXPECT_EQ(menu.ItemAt(menu.width() - 2, 10), -1);
  EXPECT_EQ(menu.ItemAt(10, menu.height() - 3), 11); // Exit
  EXPECT_EQ(menu.ItemAt(10, menu.height() - 2), -1);
}

TEST(MenuView, APressOutsideClosesItChoosingNothing) {
  for (int x : {-1, 0, 1}) {
    linuxhost::MenuView menu(ContextMenu());
    menu.Press(menu.width() - 1 + x, 10);
    EXPECT_EQ(menu.done(), x > 0) << x;
    EXPECT_EQ(menu.chosen(), 0u);
  }
  linuxhost::MenuView above(ContextMenu());
  above.Press(10, -1);
  EXPECT_TRUE(above.done());
}

TEST(MenuView, EitherReleaseChoosesOnceArmedButNotSeparatorsOrGreyItems) {
  // The release of the click that opened the menu chooses nothing.
  linuxhost::MenuView opened(ContextMenu());
  opened.Release(10, 12);
  EXPECT_FALSE(opened.done());
  EXPECT_TRUE(opened.Motion(10, 12));  // the item lights up
  EXPECT_FALSE(opened.Motion(11, 13)); // the same item: no repaint
  opened.Release(10, 12);
  EXPECT_TRUE(opened.done());
  EXPECT_EQ(opened.chosen(), 40004u);

  linuxhost::MenuView separator(ContextMenu());
  separator.Press(10, 28);
  separator.Release(10, 28);
  EXPECT_FALSE(separator.done());

  std::vector<portable::MenuItem> items = ContextMenu();
  items[0].state = MF_GRAYED;
  linuxhost::MenuView grey(items);
  grey.Press(10, 12);
  grey.Release(10, 12);
  EXPECT_FALSE(grey.done());
  grey.Release(10, 34); // the next item
  EXPECT_EQ(grey.chosen(), 40002u);
}

} // namespace
