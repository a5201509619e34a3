// GDI's drawing rules on small primitives: which pixels a line, a polygon,
// a centred text, a stretched picture and every kind of picture file give.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "keyboard/keyboard.h"
#include "platform/portable/internal.h"
#include "platform/portable/text.h"
#include "render/render.h"
#include "sim_fixture.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

Pixels LinePixels(LONG x0, LONG y0, LONG x1, LONG y1) {
  portable::Bitmap b;
  b.Allocate(20, 20, 32, false);
  portable::DrawLinePixels(b, x0, y0, x1, y1, 1);
  Pixels set;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      if (b.Get(x, y) == 1)
        set.insert({x, y});
  return set;
}

TEST(GdiLines, HalfWayTiesKeepTheSmallerMinorCoordinate) {
  // Wine: (2,2)->(6,4) gives (3,2) and (5,3); (4,2)->(2,6) gives (3,3).
  EXPECT_EQ(LinePixels(2, 2, 6, 4), (Pixels{{2, 2}, {3, 2}, {4, 3}, {5, 3}}));
  EXPECT_EQ(LinePixels(4, 2, 2, 6), (Pixels{{4, 2}, {3, 3}, {3, 4}, {2, 5}}));
  // Whatever the direction: back from (6,4) to (2,2) the ties stay low.
  EXPECT_EQ(LinePixels(6, 4, 2, 2), (Pixels{{6, 4}, {5, 3}, {4, 3}, {3, 2}}));
  // The lower edge of ">" at unit 4: (0,5)->(10,10) steps on the odd x.
  const Pixels edge = LinePixels(0, 5, 10, 10);
  for (int x = 1; x < 10; x += 2)
    EXPECT_TRUE(edge.count({x, 5 + x / 2})) << x;
  EXPECT_EQ(edge.size(), 10u);
  // Straight and diagonal lines have no ties; the end point is left out.
  EXPECT_EQ(LinePixels(1, 1, 4, 1), (Pixels{{1, 1}, {2, 1}, {3, 1}}));
  EXPECT_EQ(LinePixels(1, 1, 4, 4), (Pixels{{1, 1}, {2, 2}, {3, 3}}));
  EXPECT_TRUE(LinePixels(3, 3, 3, 3).empty());
}

// A small system button at grid (2, 2), 5 x 5, showing `label`.
KeyEntry Button(uint32_t id, const char *label, int flags = 0) {
  KeyEntry e;
  e.id = id;
  e.kind = SystemButton;
  e.x = 2;
  e.y = 2;
  e.width = 5;
  e.height = 5;
  e.label = label;
  e.flags = flags;
  return e;
}

class GdiTest : public SimTest {
protected:
  GdiTest() {
    memory = CreateCompatibleDC(nullptr);
    bitmap = CreateCompatibleBitmap(memory, 200, 60);
    old = SelectObject(memory, bitmap);
  }
  ~GdiTest() override {
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  uint32_t At(int x, int y) { return portable::BitmapOf(bitmap)->Get(x, y); }
  void Clear() {
    portable::Bitmap *b =
        const_cast<portable::Bitmap *>(portable::BitmapOf(bitmap));
    for (int y = 0; y < b->height; ++y)
      for (int x = 0; x < b->width; ++x)
        b->Set(x, y, 0xFFFFFF);
  }
  HDC memory = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
};

TEST_F(GdiTest, APaintCopiesOnlyInsideItsUpdateRectangle) {
  // The whole picture copied in a paint whose update rectangle is
  // (20, 10)-(30, 15): its left and top edges are in, its right and bottom
  // edges out, and nothing else of the window changes.
  Clear();
  HWND window = MakeTestWindow("PaintClip", "", 0, 0, 200, 60);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  PAINTSTRUCT ps;
  BeginPaint(window, &ps); // the first, whole paint
  EndPaint(window, &ps);
  portable::Bitmap *surface =
      const_cast<portable::Bitmap *>(portable::WindowSurface(window));
  ASSERT_NE(surface, nullptr);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x)
      surface->Set(x, y, 0x123456);
  const RECT update = {20, 10, 30, 15};
  InvalidateRect(window, &update, FALSE);
  HDC dc = BeginPaint(window, &ps);
  BitBlt(dc, 0, 0, 200, 60, memory, 0, 0, SRCCOPY);
  EndPaint(window, &ps);
  int copied = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) {
      const bool inside = x >= 20 && x < 30 && y >= 10 && y < 15;
      const uint32_t want = inside ? 0xFFFFFFu : 0x123456u;
      if (surface->Get(x, y) != want)
        ADD_FAILURE() << x << "," << y;
      copied += inside;
    }
  EXPECT_EQ(copied, 50);
  // Outside a paint the copy is whole.
  HDC whole = GetDC(window);
  BitBlt(whole, 0, 0, 200, 60, memory, 0, 0, SRCCOPY);
  ReleaseDC(window, whole);
  EXPECT_EQ(surface->Get(0, 0), 0xFFFFFFu);
  EXPECT_EQ(surface->Get(199, 59), 0xFFFFFFu);
  DestroyWindow(window);
}

TEST_F(GdiTest, PolygonFillsPixelPositionsLeftAndTopEdgesIncluded) {
  Clear();
  HPEN pen = CreatePen(PS_SOLID, 0, RGB(255, 0, 0));
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
  HGDIOBJ op = SelectObject(memory, pen);
  HGDIOBJ ob = SelectObject(memory, brush);
  const POINT tri[] = {{2, 2}, {12, 2}, {2, 12}};
  ASSERT_TRUE(Polygon(memory, tri, 3));
  // Row y is filled from x = 2 up to, not including, the hypotenuse at
  // 14 - y, which the pen draws: the brush shows on x = 3 .. 13 - y.
  for (int y = 3; y < 12; ++y) {
    int brushed = 0;
    for (int x = 0; x < 20; ++x)
      brushed += At(x, y) == 0x0000FFu;
    EXPECT_EQ(brushed, 11 - y) << "row " << y;
    if (y < 11) {
      EXPECT_EQ(At(13 - y, y), 0x0000FFu) << "row " << y;
    }
    EXPECT_EQ(At(14 - y, y), 0xFF0000u) << "row " << y;
  }
  // The last row of the fill is row 11; row 12 has only the outline's
  // corner.
  EXPECT_EQ(At(3, 12), 0xFFFFFFu);
  EXPECT_EQ(At(2, 12), 0xFF0000u);
  SelectObject(memory, op);
  SelectObject(memory, ob);
  DeleteObject(pen);
  DeleteObject(brush);
}

// The glyphs of the small buttons, up and pressed, at every unit, as GDI
// draws them: the rows of the "X" at unit 3 as Wine draws them, the "X"
// symmetric both ways and the "_" left to right at every unit, and "<" the
// mirror image of ">".
TEST_F(GdiTest, ButtonGlyphsAreDrawnAsGdiDrawsThem) {
  auto rows = [&](const GlyphBox &box) {
    std::vector<std::string> out;
    for (int y = box.top; y < box.top + box.bh; ++y) {
      std::string row;
      for (int x = box.left; x < box.left + box.bw; ++x)
        row += At(x, y) == 0 ? '#' : '.';
      out.push_back(row);
    }
    return out;
  };
  g_unit = 3;
  KeyEntry close = Button(KEY_CLOSE, "X");
  Clear();
  PaintSystemButton(memory, close);
  EXPECT_EQ(rows(SystemButtonGlyphBox(close)),
            (std::vector<std::string>{"##..##", "######", ".####.", ".####.",
                                      "######", "##..##"}));
  for (int unit = 2; unit <= 6; ++unit) {
    g_unit = unit;
    for (int flags : {0, int(Down)}) {
      for (const char *label : {"X", "<", ">", "_"}) {
        KeyEntry e = Button(KEY_CLOSE, label);
        e.flags = flags;
        Clear();
        PaintSystemButton(memory, e);
        const std::vector<std::string> r = rows(SystemButtonGlyphBox(e));
        SCOPED_TRACE(testing::Message() << "unit " << unit << " flags " << flags
                                        << " glyph " << label);
        const size_t n = r.size();
        for (size_t y = 0; y < n; ++y) {
          const std::string mirrored(r[y].rbegin(), r[y].rend());
          if (*label == 'X' || *label == '_') {
            EXPECT_EQ(r[y], mirrored) << "row " << y; // left-right
          }
          if (*label == 'X') {
            EXPECT_EQ(r[y], r[n - 1 - y]) << "row " << y; // top-bottom
          }
        }
        // "<" and ">" mirror each other.
        if (*label == '<') {
          KeyEntry other = Button(KEY_CLOSE, ">");
          other.flags = flags;
          Clear();
          PaintSystemButton(memory, other);
          const std::vector<std::string> o = rows(SystemButtonGlyphBox(other));
          for (size_t y = 0; y < n; ++y)
            EXPECT_EQ(std::string(r[y].rbegin(), r[y].rend()), o[y]);
        }
      }
    }
  }
}

// Every glyph at every unit, up and pressed, pixel by pixel, against the
// table in tests/data/glyphs.txt. The table was written from this drawing
// (FLINTO_WRITE_GLYPHS=FILE) once the Windows comparison under Wine showed
// no pixel of the buttons differing at units 2 to 6.
TEST_F(GdiTest, GlyphTableOfEveryUnit) {
  std::ostringstream drawn;
  for (int unit = 2; unit <= 6; ++unit) {
    g_unit = unit;
    for (int flags : {0, int(Down)}) {
      for (const char *label : {"X", "<", ">", "_"}) {
        const KeyEntry e = Button(KEY_CLOSE, label, flags);
        Clear();
        PaintSystemButton(memory, e);
        const GlyphBox box = SystemButtonGlyphBox(e);
        drawn << "unit " << unit << " glyph " << label << " "
              << (flags ? "down" : "up") << "\n";
        for (int y = box.top; y < box.top + box.bh; ++y) {
          for (int x = box.left; x < box.left + box.bw; ++x)
            drawn << (At(x, y) == 0 ? '#' : '.');
          drawn << "\n";
        }
      }
    }
  }
  const std::string path = std::string(FLINTO_TEST_DATA) + "/glyphs.txt";
  if (const char *out = std::getenv("FLINTO_WRITE_GLYPHS")) {
    std::ofstream(out) << drawn.str();
    GTEST_SKIP() << "written to " << out;
  }
  std::ifstream in(path);
  ASSERT_TRUE(in.good()) << path;
  std::stringstream expected;
  expected << in.rdbuf();
  // Line by line, so that a difference names its glyph.
  std::istringstream a(drawn.str()), b(expected.str());
  std::string got, want, heading;
  int line = 0;
  while (std::getline(b, want)) {
    ++line;
    ASSERT_TRUE(std::getline(a, got)) << "drawing ends before line " << line;
    if (want.rfind("unit ", 0) == 0)
      heading = want;
    EXPECT_EQ(got, want) << heading << ", line " << line;
  }
  EXPECT_FALSE(std::getline(a, got)) << "more drawn than in the table";
}

TEST_F(GdiTest, CentredTextAsWinePlacesIt) {
  LOGFONTA lf = {};
  lf.lfHeight = 12;
  lf.lfWidth = 6;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::memcpy(lf.lfFaceName, kFontFaceName, sizeof kFontFaceName);
  HFONT font = CreateFontIndirectA(&lf);
  HGDIOBJ of = SelectObject(memory, font);
  SetBkMode(memory, TRANSPARENT);
  SetTextColor(memory, 0);
  // The first inked row and column of "CUT" drawn centred in a rectangle.
  auto ink = [&](RECT r) {
    Clear();
    DrawTextA(memory, "CUT", 3, &r,
              DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    int top = 1000, left = 1000;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 200; ++x)
        if (At(x, y) != 0xFFFFFFu) {
          top = std::min(top, y);
          left = std::min(left, x);
        }
    return std::make_pair(left, top);
  };
  // A 12-pixel cell in a rectangle 11 high sits at top + 11/2 - 12/2, one
  // pixel above where it sits in one 12 high.
  const auto low = ink(RECT{40, 20, 140, 31});
  const auto high = ink(RECT{40, 20, 140, 32});
  EXPECT_EQ(low.second + 1, high.second);
  // "CUT" is 18 wide. Centred in [4, 17) it starts at (4 + 17 - 18) / 2 =
  // 1 and is clipped to the rectangle: what shows is the text drawn at 0
  // (in [0, 18)) shifted one column right.
  auto columns = [&](RECT r) {
    Clear();
    DrawTextA(memory, "CUT", 3, &r,
              DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    std::vector<std::string> out;
    for (int x = 0; x < 24; ++x) {
      std::string column;
      for (int y = 20; y < 40; ++y)
        column += At(x, y) != 0xFFFFFFu ? '#' : '.';
      out.push_back(column);
    }
    return out;
  };
  const std::vector<std::string> atZero = columns(RECT{0, 20, 18, 40});
  const std::vector<std::string> clipped = columns(RECT{4, 20, 17, 40});
  for (int x = 4; x < 17; ++x)
    EXPECT_EQ(clipped[size_t(x)], atZero[size_t(x - 1)]) << "column " << x;
  SelectObject(memory, of);
  DeleteObject(font);
}

TEST(GdiStretch, ColumnsAndRowsAsWineMapsThem) {
  EXPECT_EQ(portable::StretchMap(7, 10, false),
            (std::vector<int>{0, 1, 1, 2, 3, 3, 4, 5, 5, 6}));
  EXPECT_EQ(portable::StretchMap(7, 3, false), (std::vector<int>{1, 4, 6}));
  // Rows reduced in COLORONCOLOR keep the first row of each run.
  EXPECT_EQ(portable::StretchMap(7, 3, true), (std::vector<int>{0, 2, 5}));
  EXPECT_EQ(portable::StretchMap(4, 4, false), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(portable::StretchMap(1, 3, false), (std::vector<int>{0, 0, 0}));
}

// Picture files: a little-endian writer for the headers.
struct Bmp {
  std::string bytes = "BM";
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(char(v >> (8 * i)));
  }
  void U16(uint16_t v) {
    bytes.push_back(char(v));
    bytes.push_back(char(v >> 8));
  }
  // File header and a 40-byte info header; `extra` bytes (palette, masks)
  // come before the pixels.
  Bmp(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t extra,
      uint32_t colours = 0) {
    U32(0); // file size, not read
    U32(0);
    U32(14 + 40 + extra);
    U32(40);
    U32(uint32_t(w));
    U32(uint32_t(h));
    U16(1);
    U16(bits);
    U32(compression);
    U32(0);
    U32(0);
    U32(0);
    U32(colours);
    U32(0);
  }
  bool Decode(portable::Bitmap *out) const {
    return portable::DecodeBmp(reinterpret_cast<const uint8_t *>(bytes.data()),
                               bytes.size(), out);
  }
};

TEST(PictureFiles, SixteenBitsWidenAsGdiDoes) {
  Bmp b(2, 1, 16, BI_RGB, 0);
  b.U16(uint16_t(16 << 10 | 30 << 5 | 31)); // 5-5-5
  b.U16(0);
  portable::Bitmap out;
  ASSERT_TRUE(b.Decode(&out));
  EXPECT_EQ(out.Get(0, 0), 0x84F7FFu); // 16 -> 132, 30 -> 247, 31 -> 255
  // Masks: 5-6-5 in 16 bits (green 63 -> 255, 32 -> 130).
  Bmp m(2, 1, 16, 3 /* BI_BITFIELDS */, 12);
  m.U32(0xF800);
  m.U32(0x07E0);
  m.U32(0x001F);
  m.U16(uint16_t(1 << 11 | 32 << 5 | 0));
  m.U16(uint16_t(63 << 5));
  ASSERT_TRUE(m.Decode(&out));
  EXPECT_EQ(out.Get(0, 0), 0x088200u);
  EXPECT_EQ(out.Get(1, 0), 0x00FF00u);
  // Masks in 32 bits, blue and red swapped, top-down.
  Bmp t(1, -2, 32, 3, 12);
  t.U32(0x000000FF);
  t.U32(0x0000FF00);
  t.U32(0x00FF0000);
  t.U32(0x00332211); // row 0
  t.U32(0x00665544); // row 1
  ASSERT_TRUE(t.Decode(&out));
  EXPECT_EQ(out.Get(0, 0), 0x112233u);
  EXPECT_EQ(out.Get(0, 1), 0x445566u);
  // Masks on 24 bits are not a picture Windows reads.
  Bmp bad(1, 1, 24, 3, 12);
  bad.U32(0xFF);
  bad.U32(0xFF00);
  bad.U32(0xFF0000);
  bad.U32(0);
  EXPECT_FALSE(bad.Decode(&out));
}

TEST(PictureFiles, RunLengthEncoded) {
  // RLE8, 4 x 3, bottom-up: the bottom row a run of 4 of index 1 and an
  // end of line; the next an absolute run of 3 (padded to an even count of
  // bytes); a delta of (0, 1) to the top row and one pixel of index 2 at
  // x = 3; the end.
  Bmp b(4, 3, 8, 1 /* BI_RLE8 */, 3 * 4, 3);
  for (uint32_t c : {0x000000u, 0x0000FFu, 0x00FF00u})
    b.U32(c);
  const uint8_t rle8[] = {4, 1, 0, 0, 0, 3, 2, 1, 2, 0, 0, 2, 0, 1, 1, 2, 0, 1};
  b.bytes.append(reinterpret_cast<const char *>(rle8), sizeof rle8);
  portable::Bitmap out;
  ASSERT_TRUE(b.Decode(&out));
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(out.Get(x, 2), 0x0000FFu) << x; // bottom row
  EXPECT_EQ(out.Get(0, 1), 0x00FF00u);
  EXPECT_EQ(out.Get(1, 1), 0x0000FFu);
  EXPECT_EQ(out.Get(2, 1), 0x00FF00u);
  EXPECT_EQ(out.Get(3, 1), 0u); // not reached: index 0
  EXPECT_EQ(out.Get(2, 0), 0u);
  EXPECT_EQ(out.Get(3, 0), 0x00FF00u); // after the delta
  // RLE4: a run of 5 alternating indices 1 and 2, an absolute run of 3
  // nibbles (2, 1, 2; two bytes, padded to even), the end.
  Bmp f(8, 1, 4, 2 /* BI_RLE4 */, 3 * 4, 3);
  for (uint32_t c : {0x000000u, 0x0000FFu, 0x00FF00u})
    f.U32(c);
  const uint8_t rle4[] = {5, 0x12, 0, 3, 0x21, 0x20, 0, 1};
  f.bytes.append(reinterpret_cast<const char *>(rle4), sizeof rle4);
  ASSERT_TRUE(f.Decode(&out));
  const uint32_t expected[8] = {0xFF, 0xFF00, 0xFF, 0xFF00,
                                0xFF, 0xFF00, 0xFF, 0xFF00};
  for (int x = 0; x < 8; ++x)
    EXPECT_EQ(out.Get(x, 0), expected[x]) << x;
  // Cut short in an absolute run, or stored top-down: refused.
  Bmp cut(4, 1, 8, 1, 0);
  const uint8_t shortRun[] = {0, 5, 1, 2};
  cut.bytes.append(reinterpret_cast<const char *>(shortRun), sizeof shortRun);
  EXPECT_FALSE(cut.Decode(&out));
  Bmp down(4, -1, 8, 1, 0);
  down.bytes.append(reinterpret_cast<const char *>(rle8), sizeof rle8);
  EXPECT_FALSE(down.Decode(&out));
  // A few bytes that say "end of picture" at any size: decoded up to
  // 2048 x 2048 pixels in area, refused one row beyond.
  const uint8_t end[] = {0, 1};
  for (const auto &[w, h, ok] :
       {std::tuple{2048, 2048, true}, std::tuple{4096, 1024, true},
        std::tuple{2048, 2049, false}, std::tuple{16384, 16384, false}}) {
    Bmp big(w, h, 8, 1, 3 * 4, 3);
    for (uint32_t c : {0x000000u, 0x0000FFu, 0x00FF00u})
      big.U32(c);
    big.bytes.append(reinterpret_cast<const char *>(end), sizeof end);
    EXPECT_EQ(big.Decode(&out), ok) << w << " x " << h;
  }
}

} // namespace
