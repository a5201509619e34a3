#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "platform/portable/internal.h"
#include "platform/portable/trace.h"
#include "render/render.h"
#include "scenario_helpers.h"
#include "sim_fixture.h"

namespace {

using portable::DrawCall;

// Red, green, blue bytes as 0xRRGGBB.
uint32_t Pixel24(const std::vector<BYTE> &bits, int w, int h, int x, int y) {
  const int stride = ((24 * w + 31) / 32) * 4;
  const BYTE *p = bits.data() + size_t(h - 1 - y) * stride + 3 * x;
  return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

std::vector<BYTE> Gradient(int w, int h, int u, uint32_t a, uint32_t b) {
  std::vector<BYTE> bits(size_t(((24 * w + 31) / 32) * 4) * h, 0xEE);
  FillGradient(bits.data(), w, h, u, a, b);
  return bits;
}

TEST(Gradient, EightBySixExample) {
  const uint32_t expected[6][8] = {
      {0xff8080, 0xff8780, 0xff8f80, 0xff9680, 0xff9d80, 0xffa580, 0xffac80,
       0xffb380},
      {0xff8780, 0xff8f80, 0xff9680, 0xff9d80, 0xffa580, 0xffac80, 0xffb380,
       0x7f3b00},
      {0xff8f80, 0xff9680, 0xff3b00, 0xff4a00, 0xff5900, 0xff6700, 0x7f3b00,
       0x7f4200},
      {0xff9680, 0xff9d80, 0xff4a00, 0xff5900, 0xff6700, 0xff7600, 0x7f4200,
       0x7f4a00},
      {0xff9d80, 0xffa580, 0x7f2c00, 0x7f3300, 0x7f3b00, 0x7f4200, 0x7f4a00,
       0x7f5100},
      {0xffa580, 0x7f2c00, 0x7f3300, 0x7f3b00, 0x7f4200, 0x7f4a00, 0x7f5100,
       0x7f5800},
  };
  const auto bits = Gradient(8, 6, 2, 0x000000FF, 0x0000C0FF);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(Pixel24(bits, 8, 6, x, y), expected[y][x])
          << "at " << x << "," << y;
  // Row padding: 8 pixels of 3 bytes fill 24 bytes exactly; 7 need 24 too.
  const auto odd = Gradient(7, 3, 2, 0x000000FF, 0x0000C0FF);
  EXPECT_EQ(odd.size(), 24u * 3);
  EXPECT_EQ(odd[21], 0xEE); // padding untouched
}

TEST(Gradient, FlatColourAndRimCorners) {
  const int w = 474, h = 156;
  for (int u = 2; u <= 6; ++u) {
    const auto bits = Gradient(w, h, u, 0x00405060, 0x00405060);
    // Colour 0x00405060: red 0x60, green 0x50, blue 0x40.
    EXPECT_EQ(Pixel24(bits, w, h, w / 2, h / 2), 0x605040u);
    EXPECT_EQ(Pixel24(bits, w, h, 0, 0), 0xb0a8a0u);     // highlight
    EXPECT_EQ(Pixel24(bits, w, h, w - 1, 0), 0xb0a8a0u); // top band
    EXPECT_EQ(Pixel24(bits, w, h, w - 1, 1), 0x302820u); // shadow
    EXPECT_EQ(Pixel24(bits, w, h, 0, h - 1), 0xb0a8a0u); // left band
    EXPECT_EQ(Pixel24(bits, w, h, 1, h - 1), 0x302820u);
    EXPECT_EQ(Pixel24(bits, w, h, w - 1, h - 1), 0x302820u);
    EXPECT_EQ(Pixel24(bits, w, h, u, u), 0x605040u);
    EXPECT_EQ(Pixel24(bits, w, h, u - 1, u), 0xb0a8a0u);
    EXPECT_EQ(Pixel24(bits, w, h, w - u - 1, h - u - 1), 0x605040u);
    EXPECT_EQ(Pixel24(bits, w, h, w - u, h / 2), 0x302820u);
  }
}

TEST(Arithmetic, MulDivRoundsHalfAwayFromZero) {
  EXPECT_EQ(MulDiv(1, 1, 2), 1);
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(3, 1, 2), 2);
  EXPECT_EQ(MulDiv(1, 1, 3), 0);
  EXPECT_EQ(MulDiv(2, 1, 3), 1);
  EXPECT_EQ(MulDiv(-2, 1, 3), -1);
  EXPECT_EQ(MulDiv(5, 7, -2), -18);
  EXPECT_EQ(MulDiv(65536, 65536, 1), -1);            // does not fit: -1
  EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000); // 64-bit product
  EXPECT_EQ(MulDiv(7, 3, 0), -1);
}

TEST(Sizing, AnchoredPosition) {
  const RECT work = {0, 0, 1280, 760};
  // Centre exactly on the work area's centre: right and bottom edges stay.
  RECT r = {640 - 100, 380 - 50, 640 + 100, 380 + 50};
  POINT p = AnchoredPosition(r, work, 300, 60);
  EXPECT_EQ(p.x, 740 - 300);
  EXPECT_EQ(p.y, 430 - 60);
  // One pixel left of and above it: left and top edges stay.
  r = {539, 329, 739, 429};
  p = AnchoredPosition(r, work, 300, 60);
  EXPECT_EQ(p.x, 539);
  EXPECT_EQ(p.y, 329);
  // A window just created (0 x 0) is sized where it is.
  r = {806, 604, 806, 604};
  p = AnchoredPosition(r, work, 474, 156);
  EXPECT_EQ(p.x, 806);
  EXPECT_EQ(p.y, 604);
  // Negative coordinates halve toward zero: (-301 + -100) / 2 = -200.
  const RECT left = {-700, 0, 100, 10};
  r = {-301, 0, -100, 10}; // centre -200 against -300: keep the right edge
  p = AnchoredPosition(r, left, 50, 10);
  EXPECT_EQ(p.x, -150);
  const RECT left2 = {-399, 0, 0, 10}; // centre -199: keep the left edge
  p = AnchoredPosition(r, left2, 50, 10);
  EXPECT_EQ(p.x, -301);
}

TEST(Labels, LineChoice) {
  const std::string q = "\t2\nq\nQ\n\x83\x5e\n\x83\x5e";
  const std::string three = "\t1\n3\n#\n\x83\x41\n\x83\x40";
  auto line = [](const std::string &label, bool shift, bool caps, bool kana) {
    ModifierState s;
    s.shift = shift;
    s.caps = caps;
    s.kana = kana;
    return std::string(LabelLineFor(label, s));
  };
  EXPECT_EQ(line(q, false, false, false), "q");
  EXPECT_EQ(line(q, true, false, false), "Q");
  EXPECT_EQ(line(q, false, true, false), "Q");
  EXPECT_EQ(line(q, true, true, false), "q");
  EXPECT_EQ(line(q, false, true, true), "\x83\x5e");
  EXPECT_EQ(line(q, true, true, true), "\x83\x5e");
  EXPECT_EQ(line(three, true, false, false), "#");
  EXPECT_EQ(line(three, true, true, false), "#");
  EXPECT_EQ(line(three, false, true, false), "3");
  EXPECT_EQ(line(three, false, false, true), "\x83\x41");
  EXPECT_EQ(line(three, true, false, true), "\x83\x40");
  const std::string comma = "\t1\n,\n<\n\xc8\n\xa4";
  EXPECT_EQ(line(comma, false, false, false), ",");
  EXPECT_EQ(line(comma, true, false, false), "<");
  EXPECT_EQ(line(comma, false, false, true), "\xc8");
  EXPECT_EQ(line(comma, true, false, true), "\xa4");
  // Missing lines are empty; an unknown class shows line 1.
  EXPECT_EQ(line("\t1\nA", true, false, false), "");
  EXPECT_EQ(line("\t1\nA", false, false, true), "");
  EXPECT_EQ(line("\t1\nA", false, false, false), "A");
  EXPECT_EQ(line("\t9\nA\nB", true, true, false), "A");
  EXPECT_TRUE(IsFourLineLabel("\t1\nA"));
  EXPECT_FALSE(IsFourLineLabel("\t1\n"));
  EXPECT_FALSE(IsFourLineLabel("\tAB"));
  EXPECT_FALSE(IsFourLineLabel("Shift"));
}

// Draws on a memory context over a bitmap of its own, recording the calls.
class PaintTest : public SimTest {
protected:
  PaintTest() {
    screen = GetDC(nullptr);
    memory = CreateCompatibleDC(nullptr);
    bitmap = CreateCompatibleBitmap(memory, 200, 120);
    old = SelectObject(memory, bitmap);
    portable::SetDrawRecorder(
        [this](const DrawCall &c) { calls.push_back(c); });
  }
  ~PaintTest() override {
    portable::SetDrawRecorder(nullptr);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  uint32_t At(int x, int y) { return portable::BitmapOf(bitmap)->Get(x, y); }
  std::vector<DrawCall> Fills() {
    std::vector<DrawCall> out;
    for (const DrawCall &c : calls)
      if (c.kind == DrawCall::Fill)
        out.push_back(c);
    return out;
  }
  std::vector<DrawCall> Texts() {
    std::vector<DrawCall> out;
    for (const DrawCall &c : calls)
      if (c.kind == DrawCall::Text)
        out.push_back(c);
    return out;
  }
  KeyEntry Entry(uint32_t id, int x, int y, int w, int h, std::string label) {
    KeyEntry e;
    e.id = id;
    e.kind = KindOfId(id);
    e.x = x;
    e.y = y;
    e.width = w;
    e.height = h;
    e.label = std::move(label);
    return e;
  }

  HDC screen = nullptr;
  HDC memory = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  std::vector<DrawCall> calls;
};

void ExpectFills(const std::vector<DrawCall> &fills,
                 const std::vector<std::array<int, 5>> &lines) {
  ASSERT_EQ(fills.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto &[x, y, w, h, c] = lines[i];
    EXPECT_EQ(fills[i].rect.left, x) << "line " << i + 1;
    EXPECT_EQ(fills[i].rect.top, y) << "line " << i + 1;
    EXPECT_EQ(fills[i].rect.right - fills[i].rect.left, w) << "line " << i + 1;
    EXPECT_EQ(fills[i].rect.bottom - fills[i].rect.top, h) << "line " << i + 1;
    EXPECT_EQ(fills[i].colour, COLORREF(c)) << "line " << i + 1;
  }
}

TEST_F(PaintTest, PressedKeyLinesAtUnitThree) {
  g_unit = 3;
  LabelFont = nullptr;
  KeyEntry key = Entry(0x41, 10, 20, 8, 6, "\t2\na\nA\n\x83\x60\n\x83\x60");
  key.flags = Down | Latched;
  calls.clear();
  PaintKey(memory, key);
  const int dark = 0x7F7F7F, light = 0xFFFFFF, black = 0;
  ExpectFills(Fills(), {{30, 60, 24, 1, black},
                        {30, 61, 1, 16, black},
                        {31, 61, 22, 1, dark},
                        {31, 62, 1, 14, dark},
                        {32, 62, 21, 1, dark},
                        {31, 63, 1, 13, dark},
                        {30, 77, 24, 1, light},
                        {53, 61, 1, 16, light},
                        {33, 63, 20, 14, 0x00E0FFFF}});
  EXPECT_TRUE(Texts().empty()); // no label font, no text
}

TEST_F(PaintTest, RaisedKeyLinesAndPlainFace) {
  g_unit = 2;
  KeyEntry key = Entry(0x10, 2, 12, 18, 6, "Shift");
  calls.clear();
  PaintKey(memory, key);
  const int dark = 0x707070, light = 0xF0F0F0, black = 0;
  // left 4, top 24, w 36, h 12
  ExpectFills(Fills(), {{4, 24, 36, 1, light},
                        {4, 25, 1, 10, light},
                        {5, 25, 34, 1, light},
                        {5, 26, 1, 8, light},
                        {4, 35, 36, 1, black},
                        {39, 25, 1, 10, black},
                        {5, 34, 34, 1, dark},
                        {38, 26, 1, 8, dark},
                        {6, 26, 32, 8, 0x00E0E0E0}});
}

TEST_F(PaintTest, DownLookLeavesTwoPlacesUnpainted) {
  g_unit = 3;
  KeyEntry key = Entry(0x41, 10, 20, 8, 6, "A");
  PaintKey(memory, key); // up: face at (32, 62)..(52, 76), dark inner lines
  key.flags = Down;
  PaintKey(memory, key);
  const int left = 30, top = 60, bottom = 78;
  for (int y = top + 3; y <= bottom - 2; ++y) {
    const uint32_t expected = y == bottom - 2 ? 0x707070u : 0xE0E0E0u;
    EXPECT_EQ(At(left + 2, y), expected) << "row " << y;
  }
  EXPECT_EQ(At(left + 1, bottom - 2), 0x707070u);
  EXPECT_EQ(At(left + 3, top + 3), 0xE0E0E0u); // the new face
  EXPECT_EQ(At(left + 1, top + 3), 0x707070u); // left, third line
}

TEST_F(PaintTest, LabelTextCallsFollowTheModifiers) {
  g_unit = 3;
  LabelFont = CreateFontIndirectA([] {
    static LOGFONTA lf;
    std::memset(&lf, 0, sizeof lf);
    lf.lfHeight = 12;
    lf.lfWidth = 6;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    std::memcpy(lf.lfFaceName, kFontFaceName, sizeof kFontFaceName);
    return &lf;
  }());
  ASSERT_NE(LabelFont, nullptr);
  KeyEntry q = Entry(0x51, 15, 26, 8, 6, "\t2\nq\nQ\n\x83\x5e\n\x83\x5e");
  struct Case {
    bool shift, caps, kana;
    std::string text;
  } cases[] = {{false, false, false, "q"},
               {true, false, false, "Q"},
               {true, true, false, "q"},
               {false, true, true, "\x83\x5e"}};
  for (const Case &c : cases) {
    g_modifiers = {c.shift, c.caps, c.kana};
    calls.clear();
    PaintKey(memory, q);
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].bytes, c.text);
    EXPECT_EQ(texts[0].rect.left, 47);
    EXPECT_EQ(texts[0].rect.top, 80);
    EXPECT_EQ(texts[0].rect.right, 67);
    EXPECT_EQ(texts[0].rect.bottom, 94);
    EXPECT_EQ(texts[0].format,
              UINT(DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER));
    EXPECT_EQ(texts[0].colour, 0u);
    EXPECT_EQ(texts[0].bkMode, TRANSPARENT);
    EXPECT_TRUE(texts[0].hasFont);
  }
  // Pressed, the text rectangle moves with the face.
  q.flags = Down;
  calls.clear();
  PaintKey(memory, q);
  EXPECT_EQ(Texts()[0].rect.left, 48);
  EXPECT_EQ(Texts()[0].rect.top, 81);
  // The context is left as it was found.
  EXPECT_EQ(GetTextColor(memory), 0u);
  EXPECT_EQ(SetBkMode(memory, OPAQUE), OPAQUE);
  // A plain label is drawn whole, "&" and 0x5C included.
  KeyEntry amp = Entry(0x42, 15, 26, 8, 6, "&\\");
  calls.clear();
  PaintKey(memory, amp);
  EXPECT_EQ(Texts()[0].bytes, "&\\");
  DeleteObject(LabelFont);
  LabelFont = nullptr;
}

TEST_F(PaintTest, GlyphBoxes) {
  const int button[] = {0, 0, 10, 15, 20, 25, 30};
  const int side[] = {0, 0, 1, 6, 11, 16, 21};
  for (int u = 2; u <= 6; ++u) {
    g_unit = u;
    KeyEntry b = Entry(KEY_CLOSE, 41, 2, 5, 5, "X");
    const RECT r = KeyPixelRect(b);
    EXPECT_EQ(r.right - r.left, button[u]);
    const GlyphBox up = SystemButtonGlyphBox(b);
    EXPECT_EQ(up.bw, side[u]) << "unit " << u;
    EXPECT_EQ(up.bh, side[u]);
    b.flags = Down;
    const GlyphBox down = SystemButtonGlyphBox(b);
    EXPECT_EQ(down.left, up.left + 1);
    EXPECT_EQ(down.top, up.top + 1);
    EXPECT_EQ(down.bw, side[u]);
    POINT pts[12];
    int second;
    const int n = SystemButtonGlyph('<', up.bw, up.bh, pts, &second);
    EXPECT_EQ(n, (up.bh % 2) ? 4 : 3) << "unit " << u;
  }
}

TEST_F(PaintTest, CloseButtonPolygonsAtUnitThree) {
  g_unit = 3;
  KeyEntry b = Entry(KEY_CLOSE, 41, 2, 5, 5, "X");
  const GlyphBox box = SystemButtonGlyphBox(b);
  EXPECT_EQ(box.left, 127);
  EXPECT_EQ(box.top, 10);
  POINT pts[12];
  int second = 0;
  ASSERT_EQ(SystemButtonGlyph('X', box.bw, box.bh, pts, &second), 12);
  ASSERT_EQ(second, 6);
  const POINT expected[12] = {{127, 10}, {128, 10}, {132, 14}, {132, 15},
                              {131, 15}, {127, 11}, {132, 10}, {131, 10},
                              {127, 14}, {127, 15}, {128, 15}, {132, 11}};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(box.left + pts[i].x, expected[i].x) << i;
    EXPECT_EQ(box.top + pts[i].y, expected[i].y) << i;
  }
  // Drawn: the button's face, the edges and the cross in button-text black.
  PaintSystemButton(memory, b);
  EXPECT_EQ(At(123, 6), 0xDFDFDFu);  // raised: light outer top-left
  EXPECT_EQ(At(124, 7), 0xFFFFFFu);  // highlight inner
  EXPECT_EQ(At(137, 20), 0x000000u); // dark outer bottom-right
  EXPECT_EQ(At(136, 19), 0x808080u); // shadow inner
  EXPECT_EQ(At(125, 8), 0xC0C0C0u);  // face
  for (const POINT &p : expected)
    EXPECT_EQ(At(p.x, p.y), 0u) << p.x << "," << p.y;
  EXPECT_EQ(At(129, 10), 0xC0C0C0u); // between the arms
  b.flags = Down;
  PaintSystemButton(memory, b);
  EXPECT_EQ(At(123, 6), 0x808080u); // sunken
  EXPECT_EQ(At(128, 11), 0u);
  EXPECT_EQ(At(127, 10), 0xC0C0C0u);
}

TEST_F(PaintTest, TrianglesAndBar) {
  POINT pts[12];
  int second;
  // Unit 2: bw = bh = 1, two-pixel tip rows bh / 2 - 1 and bh / 2.
  ASSERT_EQ(SystemButtonGlyph('<', 11, 11, pts, &second), 4);
  EXPECT_EQ(pts[0].x, 10);
  EXPECT_EQ(pts[1].y, 4);
  EXPECT_EQ(pts[2].y, 5);
  EXPECT_EQ(pts[3].y, 10);
  ASSERT_EQ(SystemButtonGlyph('>', 6, 6, pts, &second), 3);
  EXPECT_EQ(pts[1].x, 5);
  EXPECT_EQ(pts[1].y, 3);
  ASSERT_EQ(SystemButtonGlyph('_', 6, 6, pts, &second), 4);
  EXPECT_EQ(pts[0].y, 4);
  EXPECT_EQ(pts[3].y, 5);
  EXPECT_EQ(SystemButtonGlyph('?', 6, 6, pts, &second), 0);
}

TEST_F(PaintTest, TextButtonsDoNotMoveWhenPressed) {
  g_unit = 3;
  LOGFONTA lf = {};
  lf.lfHeight = 12;
  lf.lfWidth = 6;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::memcpy(lf.lfFaceName, kFontFaceName, sizeof kFontFaceName);
  LabelFont = CreateFontIndirectA(&lf);
  KeyEntry cut = Entry(KEY_CUT, 34, 33, 12, 5, "\tCUT");
  for (int flags : {0, int(Down)}) {
    cut.flags = flags;
    calls.clear();
    PaintSystemButton(memory, cut);
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].bytes, "CUT");
    EXPECT_EQ(texts[0].rect.left, 104);
    EXPECT_EQ(texts[0].rect.top, 101);
    EXPECT_EQ(texts[0].rect.right, 136);
    EXPECT_EQ(texts[0].rect.bottom, 112);
    EXPECT_EQ(texts[0].colour, GetSysColor(COLOR_BTNTEXT));
  }
  DeleteObject(LabelFont);
  LabelFont = nullptr;
}

TEST_F(PaintTest, StretchIsNearestPixel) {
  HDC src = CreateCompatibleDC(nullptr);
  HBITMAP pic = CreateCompatibleBitmap(src, 2, 2);
  HGDIOBJ o = SelectObject(src, pic);
  portable::Bitmap *b = const_cast<portable::Bitmap *>(portable::BitmapOf(pic));
  b->Set(0, 0, 0x112233);
  b->Set(1, 0, 0x445566);
  b->Set(0, 1, 0x778899);
  b->Set(1, 1, 0xAABBCC);
  EXPECT_TRUE(StretchBlt(memory, 0, 0, 5, 4, src, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(At(0, 0), 0x112233u);
  EXPECT_EQ(At(2, 0), 0x112233u);
  EXPECT_EQ(At(3, 0), 0x445566u);
  EXPECT_EQ(At(4, 3), 0xAABBCCu);
  EXPECT_EQ(At(0, 2), 0x778899u);
  SelectObject(src, o);
  DeleteObject(pic);
  DeleteDC(src);
}

} // namespace
