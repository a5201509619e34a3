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

namespace {

// The rows of the picture, between `top` and `bottom`, that hold a pixel
// of the colour.
int RowsWith(const portable::Bitmap &b, int top, int bottom, uint32_t rgb) {
  int rows = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.Get(x, y) == rgb) {
        ++rows;
        break;
      }
  return rows;
}

uint32_t Rgb(int index) {
  const COLORREF c = GetSysColor(index);
  return (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) |
         GetBValue(c);
}

TEST(MenuView, AtScaleTwoTheLayoutStaysAndThePictureHasTwiceThePixels) {
  const linuxhost::MenuView one(ContextMenu());
  const linuxhost::MenuView two(ContextMenu(), 2);
  // Laid out in its own pixels: the same rows, the pointer read alike.
  EXPECT_EQ(two.height(), one.height());
  EXPECT_NEAR(two.width(), one.width(), 1);
  for (size_t i = 0; i < ContextMenu().size(); ++i) {
    EXPECT_EQ(two.Top(i), one.Top(i));
    EXPECT_EQ(two.Bottom(i), one.Bottom(i));
  }
  EXPECT_EQ(two.ItemAt(10, 23), 0);
  EXPECT_EQ(two.ItemAt(10, 24), 1);
  portable::Bitmap a, b;
  a.Allocate(one.width(), one.height(), 32, false);
  b.Allocate(two.width() * 2, two.height() * 2, 32, false);
  one.Draw(a);
  two.Draw(b);
  // The frame's lines are two pixels wide.
  EXPECT_EQ(a.Get(1, 1), Rgb(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(b.Get(1, 1), Rgb(COLOR_3DLIGHT));
  EXPECT_EQ(b.Get(3, 3), Rgb(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(b.Get(b.width - 1, b.height / 2), Rgb(COLOR_3DDKSHADOW));
  EXPECT_EQ(b.Get(b.width - 2, b.height / 2), Rgb(COLOR_3DDKSHADOW));
  // The text is drawn at the density, not enlarged: the first item's ink
  // spans about twice the rows, and not all of its rows come in pairs.
  const int inkOne =
      RowsWith(a, one.Top(0), one.Bottom(0), Rgb(COLOR_MENUTEXT));
  const int inkTwo =
      RowsWith(b, 2 * two.Top(0), 2 * two.Bottom(0), Rgb(COLOR_MENUTEXT));
  ASSERT_GT(inkOne, 8);
  EXPECT_GE(inkTwo, 2 * inkOne - 4);
  bool unpaired = false;
  for (int y = 2 * two.Top(0); y < 2 * two.Bottom(0); y += 2)
    for (int x = 0; x < b.width; ++x)
      unpaired = unpaired || b.Get(x, y) != b.Get(x, y + 1);
  EXPECT_TRUE(unpaired);
}

} // namespace
