#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
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

class BackBufferTest : public SimTest {
protected:
  BackBufferTest() {
    window = MakeTestWindow("TestWindow", "Flinto", 100, 200, 0, 0);
    g_winKey = 0;
    BuildKeySet(BuiltInFaces[2].keys, BuiltInFaces[2].keyCount);
  }
  uint32_t At(int x, int y) {
    return portable::BitmapOf(BackBuffer)->Get(x, y);
  }

  HWND window = nullptr;
};

TEST_F(BackBufferTest, FirstBuildSizesTitlesAndDrawsEverything) {
  std::vector<DrawCall> texts;
  portable::SetDrawRecorder([&](const DrawCall &c) {
    if (c.kind == DrawCall::Text)
      texts.push_back(c);
  });
  RebuildBackBuffer(window, 3, nullptr, 0x000080FF, 0x0080FFFF, true, false,
                    false);
  portable::SetDrawRecorder(nullptr);
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, 100); // created empty: no anchoring
  EXPECT_EQ(r.top, 200);
  EXPECT_EQ(r.right - r.left, 474);
  EXPECT_EQ(r.bottom - r.top, 156);
  EXPECT_EQ(g_x, 100);
  EXPECT_EQ(g_y, 200);
  char title[64];
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "Flinto\n(Full)");
  ASSERT_NE(LabelFont, nullptr);
  ASSERT_NE(CaptionFont, nullptr);
  ASSERT_NE(BackBuffer, nullptr);
  const portable::Bitmap *b = portable::BitmapOf(BackBuffer);
  EXPECT_EQ(b->width, 474);
  EXPECT_EQ(b->height, 156);

  // The caption: nine passes, black then white, each with the whole title.
  ASSERT_GE(texts.size(), 9u);
  const int offsets[9][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1},
                             {0, 2}, {1, 2}, {2, 2}, {1, 1}};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(texts[i].bytes, "Flinto\n(Full)");
    EXPECT_EQ(texts[i].rect.left, 3 + offsets[i][0]);
    EXPECT_EQ(texts[i].rect.top, 3 + offsets[i][1]);
    EXPECT_EQ(texts[i].rect.right, 474 - 3);
    EXPECT_EQ(texts[i].rect.bottom, 156 - 3);
    EXPECT_EQ(texts[i].format, UINT(DT_NOPREFIX | DT_WORDBREAK));
    EXPECT_EQ(texts[i].colour, i == 8 ? 0x00FFFFFFu : 0u);
    EXPECT_EQ(texts[i].bkMode, TRANSPARENT);
  }
  // Then every entry in id order: the first key label is Back (0x08).
  EXPECT_EQ(texts[9].bytes, "Back");

  // Rim and gradient where no key covers them; keys where they are.
  // (0, 155): n = 155 of D = 629; green 128 + MulDiv(127, 155, 629) = 159,
  // blue MulDiv(128, 155, 629) = 32, then highlighted: c / 2 + 128.
  EXPECT_EQ(At(0, 155), 0xFFCF90u);
  EXPECT_EQ(At(0, 0), 0xFFC080u);
  EXPECT_EQ(At(473, 155) >> 16, 0x7Fu); // shadow
  EXPECT_EQ(At(6, 36), 0xF0F0F0u);      // Esc: light top-left line
  EXPECT_EQ(At(32, 53), 0u);            // Esc: black bottom line
  EXPECT_EQ(At(8, 38), 0xE0E0E0u);      // Esc face (plain label)
  EXPECT_EQ(At(47, 80) & 0xFFFFFF,
            0xFFFFE0u); // q face, pale yellow, 0x00E0FFFF

  // Painting copies the whole BackBuffer onto the window.
  ShowWindow(window, SW_SHOWNOACTIVATE);
  PAINTSTRUCT ps;
  KeyboardWndProc(window, WM_PAINT, 0, 0);
  (void)ps;
  const portable::Bitmap *surface = portable::WindowSurface(window);
  for (int y = 0; y < 156; y += 7)
    for (int x = 0; x < 474; x += 5)
      ASSERT_EQ(surface->Get(x, y), b->Get(x, y)) << x << "," << y;
}

TEST_F(BackBufferTest, RebuildKeepsOrReplacesAsAsked) {
  RebuildBackBuffer(window, 3, nullptr, 0x000080FF, 0x0080FFFF, true, false,
                    false);
  HBITMAP first = BackBuffer;
  HFONT font = LabelFont;
  // A creation keeps what exists.
  RebuildBackBuffer(window, 3, nullptr, 0, 0, true, false, false);
  EXPECT_EQ(BackBuffer, first);
  EXPECT_EQ(LabelFont, font);
  // A change of scale replaces all and keeps the edge nearer the far side:
  // the window sits left and above the work area's centre.
  RebuildBackBuffer(window, 2, nullptr, 0x000080FF, 0x0080FFFF, true, true,
                    true);
  EXPECT_NE(BackBuffer, first);
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.right - r.left, 316);
  EXPECT_EQ(portable::BitmapOf(BackBuffer)->width, 316);
  EXPECT_EQ(g_unit, 2);
  // Moved right and down of the centre, it keeps its right and bottom edges.
  SetWindowPos(window, nullptr, 900, 600, 0, 0, SWP_NOSIZE);
  RebuildBackBuffer(window, 3, nullptr, 0, 0, true, true, true);
  GetWindowRect(window, &r);
  EXPECT_EQ(r.right, 900 + 316);
  EXPECT_EQ(r.bottom, 600 + 104);
  EXPECT_EQ(g_x, 900 + 316 - 474);
  EXPECT_EQ(g_y, 600 + 104 - 156);
}

TEST_F(BackBufferTest, PictureFiles) {
  const auto dir = FreshDir("pictures");
  // An unreadable picture leaves no BackBuffer; the window still sizes.
  RebuildBackBuffer(window, 3, (dir / "missing.bmp").c_str(), 0, 0, true, true,
                    true);
  EXPECT_EQ(BackBuffer, nullptr);
  ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0600), 0);
  RebuildBackBuffer(window, 3, (dir / "pipe.bmp").c_str(), 0, 0, true, true,
                    true);
  EXPECT_EQ(BackBuffer, nullptr); // not read, and no wait for a writer
  WriteFile(dir / "broken.bmp", "BM this is not a bitmap");
  RebuildBackBuffer(window, 3, (dir / "broken.bmp").c_str(), 0, 0, true, true,
                    true);
  EXPECT_EQ(BackBuffer, nullptr);
  // The paint then draws nothing and RedrawKey only invalidates.
  KeyEntry &q = *FindKey(0x51);
  EXPECT_TRUE(RedrawKey(window, q, false));

  // A 2 x 1 picture is stretched over the whole keyboard without a rim.
  std::string bmp = "BM";
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bmp.push_back(char(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    bmp.push_back(char(v));
    bmp.push_back(char(v >> 8));
  };
  u32(14 + 40 + 8);
  u32(0);
  u32(14 + 40);
  u32(40);
  u32(2);
  u32(1);
  u16(1);
  u16(24);
  for (int i = 0; i < 6; ++i)
    u32(0);
  bmp += std::string("\x10\x20\x30\x40\x50\x60\0\0", 8);
  WriteFile(dir / "two.bmp", bmp);
  // An empty name means no picture: the gradient.
  RebuildBackBuffer(window, 3, "", 0x000080FF, 0x0080FFFF, true, true, true);
  ASSERT_NE(BackBuffer, nullptr);
  EXPECT_EQ(At(0, 155), 0xFFCF90u);
  RebuildBackBuffer(window, 3, (dir / "two.bmp").c_str(), 0, 0, true, true,
                    true);
  ASSERT_NE(BackBuffer, nullptr);
  EXPECT_EQ(At(0, 155), 0x302010u);
  EXPECT_EQ(At(236, 0), 0x302010u);
  EXPECT_EQ(At(237, 0), 0x605040u);
  EXPECT_EQ(At(473, 155), 0x605040u);
  std::filesystem::remove_all(dir);
}

TEST_F(BackBufferTest, MissingFontsDrawNoText) {
  portable::SetFontsEnabled(false);
  std::vector<DrawCall> texts;
  portable::SetDrawRecorder([&](const DrawCall &c) {
    if (c.kind == DrawCall::Text)
      texts.push_back(c);
  });
  RebuildBackBuffer(window, 3, nullptr, 0x000080FF, 0x0080FFFF, true, true,
                    true);
  portable::SetDrawRecorder(nullptr);
  EXPECT_EQ(LabelFont, nullptr);
  EXPECT_EQ(CaptionFont, nullptr);
  ASSERT_NE(BackBuffer, nullptr);
  EXPECT_TRUE(texts.empty());
  EXPECT_EQ(At(8, 38), 0xE0E0E0u); // keys are drawn all the same
  // The next rebuild tries again.
  portable::SetFontsEnabled(true);
  RebuildBackBuffer(window, 3, nullptr, 0, 0, true, true, true);
  EXPECT_NE(LabelFont, nullptr);
}

TEST_F(BackBufferTest, RedrawKeyInvalidatesOnlyItsRectangle) {
  RebuildBackBuffer(window, 3, nullptr, 0x000080FF, 0x0080FFFF, true, false,
                    false);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  PAINTSTRUCT ps;
  BeginPaint(window, &ps);
  EndPaint(window, &ps);
  KeyEntry &q = *FindKey(0x51);
  q.flags = Down;
  RedrawKey(window, q, false);
  EXPECT_EQ(At(45, 78), 0u); // pressed: black outer top-left
  BeginPaint(window, &ps);
  EXPECT_EQ(ps.rcPaint.left, 45);
  EXPECT_EQ(ps.rcPaint.top, 78);
  EXPECT_EQ(ps.rcPaint.right, 69);
  EXPECT_EQ(ps.rcPaint.bottom, 96);
  EndPaint(window, &ps);
}

} // namespace

// A HiDPI output's scale: the picture is the one of the multiplied unit,
// pixel for pixel, while the window, its hit testing and the saved unit
// stay in the window's own coordinates.
namespace {

struct Pictures {
  std::string buffer, window, out;
};

Pictures PicturesOf(const std::string &before, int face, int unit,
                    const std::string &after = "") {
  const auto dir = FreshDir("scale");
  const std::string script =
      before + "setting Face dword " + std::to_string(face) +
      "\nsetting Unit dword " + std::to_string(unit) + "\nstart\ntray left\n" +
      after +
      "click right key 0x10\npointer key 0x20\npress left\n"
      "print state\ndump " +
      (dir / "b.png").string() + "\ndump window " + (dir / "w.png").string() +
      "\nrelease left\nend\n";
  const ScenarioResult r = RunScript(script);
  EXPECT_EQ(r.status, 0) << r.err;
  return {ReadFile(dir / "b.png"), ReadFile(dir / "w.png"), r.out};
}

std::string Line(const std::string &out, const std::string &start) {
  const size_t at = out.find(start);
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

} // namespace

TEST(PixelScale, EachFaceDrawsAsTheMultipliedUnit) {
  for (int face = 0; face <= 2; ++face) {
    const Pictures six = PicturesOf("", face, 6);
    const Pictures three = PicturesOf("scale 2\n", face, 3);
    const Pictures two = PicturesOf("scale 3\n", face, 2);
    ASSERT_FALSE(six.buffer.empty());
    ASSERT_FALSE(six.window.empty());
    EXPECT_EQ(three.buffer, six.buffer) << "face " << face;
    EXPECT_EQ(three.window, six.window) << "face " << face;
    EXPECT_EQ(two.window, six.window) << "face " << face;
    // The key under the pointer was found in window coordinates: Space is
    // down and Shift latched in both.
    EXPECT_TRUE(Contains(three.out, "down=0x10,0x20")) << three.out;
    EXPECT_TRUE(Contains(three.out, "latched=0x10")) << three.out;
    // The window keeps unit 3's size and unit 3 is saved.
    const Pictures plain = PicturesOf("", face, 3);
    EXPECT_EQ(Line(three.out, "state "), Line(plain.out, "state "));
    EXPECT_EQ(Line(three.out, "saved "), Line(plain.out, "saved "));
    EXPECT_NE(plain.window, six.window);
  }
}

TEST(PixelScale, AScaleChangeWhileShownDrawsAgain) {
  const Pictures six = PicturesOf("", 2, 6);
  const Pictures three = PicturesOf("", 2, 3);
  EXPECT_EQ(PicturesOf("", 2, 3, "scale 2\n").window, six.window);
  EXPECT_EQ(PicturesOf("scale 2\n", 2, 3, "scale 1\n").window, three.window);
}

TEST_F(BackBufferTest, PaintAtScaleTwoCoversTheKeysPixels) {
  portable::SetWindowScale(window, 2);
  RebuildBackBuffer(window, 3, nullptr, 0x000080FF, 0x0080FFFF, true, false,
                    false);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  EXPECT_EQ(portable::WindowSurface(window)->width, 948);
  EXPECT_EQ(portable::WindowSurface(window)->height, 312);
  PAINTSTRUCT ps;
  BeginPaint(window, &ps);
  EndPaint(window, &ps);
  KeyEntry &q = *FindKey(0x51);
  q.flags = Down;
  RedrawKey(window, q, false);
  EXPECT_EQ(At(90, 156), 0u); // pressed: black outer top-left
  // One pixel in is already the second, grey line: drawn at unit 6, not
  // unit 3's pixels doubled.
  EXPECT_EQ(At(91, 157), 0x7F7F7Fu);
  BeginPaint(window, &ps);
  EXPECT_EQ(ps.rcPaint.left, 90);
  EXPECT_EQ(ps.rcPaint.top, 156);
  EXPECT_EQ(ps.rcPaint.right, 138);
  EXPECT_EQ(ps.rcPaint.bottom, 192);
  EndPaint(window, &ps);
}
