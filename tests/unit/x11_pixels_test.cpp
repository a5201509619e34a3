// A paint's pixels as the X11 host puts them: made from the back buffer
// (24 bits, rows bottom-up) or a 32-bit picture, a strip of rows at a
// time, greyed while the keyboard's keys type nothing yet.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/x11/x11_pixels.h"

namespace {

// Pixel (x, y) is red x, green y, blue x + y.
uint32_t Colour(int x, int y) {
  return (uint32_t(x & 0xFF) << 16) | (uint32_t(y & 0xFF) << 8) |
         uint32_t((x + y) & 0xFF);
}

portable::Bitmap Picture(int width, int height, int bpp, bool bottomUp) {
  portable::Bitmap b;
  b.Allocate(width, height, bpp, bottomUp);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      b.Set(x, y, Colour(x, y));
  return b;
}

TEST(X11Strips, RowsAreTakenFromWhereThePaintStartsInEitherPicture) {
  for (const int bpp : {24, 32}) {
    const portable::Bitmap source = Picture(30, 12, bpp, bpp == 24);
    // Three rows of five from (7, 4): the rows as seen, top first, whatever
    // order the picture stores them in.
    std::vector<uint32_t> strip(15, 0xDEADBEEF);
    x11::MakeStrip(source, 7, 4, 5, 3, false, strip.data());
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 5; ++i)
        ASSERT_EQ(strip[size_t(j) * 5 + size_t(i)] & 0xFFFFFFu,
                  Colour(7 + i, 4 + j))
            << bpp << " bits, " << i << "," << j;
    // A 24-bit picture has no fourth byte: the server's pixel has none.
    if (bpp == 24) {
      EXPECT_EQ(strip[0] >> 24, 0u);
    }
  }
  // The last column and row of the picture are reached, and nothing past.
  const portable::Bitmap source = Picture(30, 12, 24, true);
  std::vector<uint32_t> strip(2);
  x11::MakeStrip(source, 29, 10, 1, 2, false, strip.data());
  EXPECT_EQ(strip[0], Colour(29, 10));
  EXPECT_EQ(strip[1], Colour(29, 11));
}

TEST(X11Strips, GreyedIsHalfTheColourLiftedByAQuarter) {
  portable::Bitmap source;
  source.Allocate(3, 1, 24, true);
  source.Set(0, 0, 0x000000);
  source.Set(1, 0, 0xFFFFFF);
  source.Set(2, 0, 0x804020);
  std::vector<uint32_t> strip(3);
  x11::MakeStrip(source, 0, 0, 3, 1, true, strip.data());
  EXPECT_EQ(strip[0], 0x404040u);
  EXPECT_EQ(strip[1], 0xBFBFBFu);
  EXPECT_EQ(strip[2], 0x806050u);
}

TEST(X11Strips, AStripHoldsWhatFitsInItsBytesAtLeastOneRow) {
  // 64 KiB: 16384 pixels.
  EXPECT_EQ(x11::StripRows(16384, 100), 1);
  EXPECT_EQ(x11::StripRows(16385, 100), 1); // wider than a strip: one row
  EXPECT_EQ(x11::StripRows(8192, 100), 2);
  EXPECT_EQ(x11::StripRows(8193, 100), 1);
  EXPECT_EQ(x11::StripRows(948, 312), 17); // the Full face at unit 6
  EXPECT_EQ(x11::StripRows(10, 5), 5);     // no more rows than there are
  EXPECT_EQ(x11::StripRows(0, 5), 0);
  EXPECT_EQ(x11::StripRows(10, 0), 0);
  for (const int w : {1, 100, 948, 4096, 16384})
    EXPECT_LE(size_t(x11::StripRows(w, 100000)) * size_t(w) * 4,
              x11::kStripBytes);
}

} // namespace
