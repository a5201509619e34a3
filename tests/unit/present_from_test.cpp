// A host that keeps what its windows show (an X server) takes a paint's
// copy of the back buffer straight from it: the window's own picture is
// then never made, and what the host is given (the rectangle, where in the
// source it starts) is exactly what the paint copies.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "sim_fixture.h"

namespace {

constexpr int kWidth = 40, kHeight = 20;

struct Taken {
  RECT to;
  int sx, sy;
  int sourceWidth, sourceBpp;
  uint32_t first; // the source's pixel at (sx, sy)
};

class DirectDriver : public sim::SimDriver {
public:
  explicit DirectDriver(std::ostream &log) : SimDriver(log) {}
  bool PicturesOnDemand() override { return onDemand; }
  bool PresentFrom(HWND, const portable::Bitmap &source, int sx, int sy,
                   const RECT &to) override {
    if (!takes)
      return false;
    taken.push_back({to, sx, sy, source.width, source.bpp, source.Get(sx, sy)});
    return true;
  }
  void Present(HWND hwnd, const portable::Bitmap &surface,
               const RECT &dirty) override {
    presented.push_back(dirty);
    SimDriver::Present(hwnd, surface, dirty);
  }
  bool onDemand = true;
  bool takes = true;
  std::vector<Taken> taken;
  std::vector<RECT> presented;
};

// What the window's paint copies: the back buffer's (blitSx, blitSy) on
// at (blitX, blitY) in the window, blitW x blitH pixels.
HBITMAP backBuffer = nullptr;
int blitX = 0, blitY = 0, blitW = kWidth, blitH = kHeight;
int blitSx = 0, blitSy = 0;

LRESULT CALLBACK PaintProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, backBuffer);
  BitBlt(dc, blitX, blitY, blitW, blitH, memory, blitSx, blitSy, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  EndPaint(hwnd, &ps);
  return 0;
}

class PresentFromTest : public ::testing::Test {
protected:
  PresentFromTest() : driver(log) {
    ResetProcessState();
    portable::ResetAll();
    driver.Install();
    blitX = blitY = blitSx = blitSy = 0;
    blitW = kWidth;
    blitH = kHeight;
  }
  ~PresentFromTest() override {
    if (backBuffer != nullptr)
      DeleteObject(backBuffer);
    backBuffer = nullptr;
    ResetProcessState();
    portable::SetDriver(nullptr);
    portable::ResetAll();
  }
  // A 24-bit picture, rows bottom-up as the program makes it, whose pixel
  // (x, y) is 0x00YYXX (blue x, green y).
  void MakeBackBuffer(int width, int height) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    backBuffer =
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(backBuffer, nullptr);
    const int stride = ((24 * width + 31) / 32) * 4;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t *p = static_cast<uint8_t *>(bits) +
                     size_t(height - 1 - y) * size_t(stride) + size_t(x) * 3;
        p[0] = uint8_t(x);
        p[1] = uint8_t(y);
        p[2] = 0;
      }
  }
  void MakeWindow() {
    window =
        MakeTestWindow("PresentFrom", "", 10, 10, kWidth, kHeight, PaintProc);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    RunUntilIdle();
    driver.taken.clear();
    driver.presented.clear();
  }
  void RunUntilIdle() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
      DispatchMessageA(&msg);
  }
  void Paint(const RECT &invalid) {
    InvalidateRect(window, &invalid, FALSE);
    RunUntilIdle();
  }
  const portable::Bitmap &Picture() { return *portable::WindowSurface(window); }
  std::ostringstream log;
  DirectDriver driver;
  HWND window = nullptr;
};

TEST_F(PresentFromTest, APaintGoesOutFromTheBackBufferAndNoPictureIsMade) {
  MakeBackBuffer(kWidth, kHeight);
  MakeWindow();
  EXPECT_EQ(Picture().width, kWidth);
  EXPECT_FALSE(Picture().HasPixels());
  // A key's rectangle: that rectangle, from the same place in the source.
  Paint({5, 6, 12, 9});
  ASSERT_EQ(driver.taken.size(), 1u);
  const Taken &t = driver.taken[0];
  EXPECT_EQ(t.to.left, 5);
  EXPECT_EQ(t.to.top, 6);
  EXPECT_EQ(t.to.right, 12);
  EXPECT_EQ(t.to.bottom, 9);
  EXPECT_EQ(t.sx, 5);
  EXPECT_EQ(t.sy, 6);
  EXPECT_EQ(t.sourceBpp, 24);
  EXPECT_EQ(t.first, 0x000605u);
  // Nothing drawn on the window, nothing presented from it.
  EXPECT_TRUE(driver.presented.empty());
  EXPECT_FALSE(Picture().HasPixels());
}

TEST_F(PresentFromTest, AWholePaintFromAPictureOfTheWindowsSizeIsTaken) {
  // The keyboard's paint: the back buffer, as large as the window, whole.
  MakeBackBuffer(kWidth, kHeight);
  MakeWindow();
  Paint({0, 0, kWidth, kHeight});
  ASSERT_EQ(driver.taken.size(), 1u);
  EXPECT_EQ(driver.taken[0].to.right, kWidth);
  EXPECT_EQ(driver.taken[0].to.bottom, kHeight);
  EXPECT_EQ(driver.taken[0].sx, 0);
  EXPECT_EQ(driver.taken[0].sy, 0);
  EXPECT_TRUE(driver.presented.empty());
  EXPECT_FALSE(Picture().HasPixels());
}

TEST_F(PresentFromTest, TheSourceOffsetFollowsTheCopyAndTheWindowBounds) {
  MakeBackBuffer(60, 30);
  MakeWindow();
  // Copied to (-3, 2) from the source's (10, 4): the window's (0, 2) shows
  // the source's (13, 4); the right and bottom end at the window's edge.
  blitX = -3;
  blitY = 2;
  blitSx = 10;
  blitSy = 4;
  blitW = 50;
  blitH = 26;
  Paint({0, 0, kWidth, kHeight});
  ASSERT_EQ(driver.taken.size(), 1u);
  const Taken &t = driver.taken[0];
  EXPECT_EQ(t.to.left, 0);
  EXPECT_EQ(t.to.top, 2);
  EXPECT_EQ(t.to.right, kWidth);
  EXPECT_EQ(t.to.bottom, kHeight);
  EXPECT_EQ(t.sx, 13);
  EXPECT_EQ(t.sy, 4);
  EXPECT_EQ(t.first, 0x00040Du);
  // Wholly outside the update rectangle: nothing goes out, and nothing is
  // drawn either.
  blitX = 30;
  blitW = 5;
  Paint({0, 0, 30, kHeight});
  EXPECT_EQ(driver.taken.size(), 1u);
  EXPECT_TRUE(driver.presented.empty());
  EXPECT_FALSE(Picture().HasPixels());
}

TEST_F(PresentFromTest, ASourceThatEndsShortIsDrawnOnThePictureMadeForIt) {
  // One column short of the window: the last column is black, which only
  // the window's own picture can show.
  MakeBackBuffer(kWidth - 1, kHeight);
  MakeWindow();
  Paint({kWidth - 4, 0, kWidth, 2});
  EXPECT_TRUE(driver.taken.empty());
  ASSERT_EQ(driver.presented.size(), 1u);
  EXPECT_EQ(driver.presented[0].left, kWidth - 4);
  EXPECT_EQ(driver.presented[0].right, kWidth);
  ASSERT_TRUE(Picture().HasPixels());
  EXPECT_EQ(Picture().Get(kWidth - 4, 1), 0x000124u);
  EXPECT_EQ(Picture().Get(kWidth - 1, 1), 0u);
  // Within the source again: straight from it, the picture kept as it is.
  Paint({0, 0, 4, 2});
  EXPECT_EQ(driver.taken.size(), 1u);
  EXPECT_EQ(driver.presented.size(), 1u);
}

TEST_F(PresentFromTest, ASourceARowShortOrBeforeItsStartIsDrawnToo) {
  MakeBackBuffer(kWidth, kHeight - 1);
  MakeWindow();
  // The last row has no source row: drawn black on the window's picture.
  Paint({0, kHeight - 1, 4, kHeight});
  EXPECT_TRUE(driver.taken.empty());
  ASSERT_EQ(driver.presented.size(), 1u);
  // One row up it is all there again.
  Paint({0, kHeight - 2, 4, kHeight - 1});
  EXPECT_EQ(driver.taken.size(), 1u);
  // From before the source's first column: the first one has none.
  driver.presented.clear();
  blitSx = -1;
  Paint({0, 0, 4, 2});
  EXPECT_EQ(driver.taken.size(), 1u);
  ASSERT_EQ(driver.presented.size(), 1u);
  EXPECT_EQ(Picture().Get(0, 1), 0u);
  EXPECT_EQ(Picture().Get(1, 1), 0x000100u);
  // Where the paint starts past the missing column, it is taken.
  Paint({1, 0, 4, 2});
  ASSERT_EQ(driver.taken.size(), 2u);
  EXPECT_EQ(driver.taken[1].sx, 0);
  EXPECT_EQ(driver.taken[1].to.left, 1);
}

TEST_F(PresentFromTest, DrawingOnTheWindowMakesItsPictureZeroedAroundIt) {
  MakeBackBuffer(kWidth, kHeight);
  MakeWindow();
  HDC dc = GetDC(window);
  SetBkColor(dc, RGB(255, 0, 0));
  const RECT r = {2, 3, 6, 5};
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
  ReleaseDC(window, dc);
  ASSERT_TRUE(Picture().HasPixels());
  EXPECT_EQ(Picture().Get(2, 3), 0xFF0000u);
  EXPECT_EQ(Picture().Get(6, 3), 0u);
  ASSERT_EQ(driver.presented.size(), 1u);
  EXPECT_EQ(driver.presented[0].left, 2);
  EXPECT_EQ(driver.presented[0].bottom, 5);
  // Made anew at a new size: described again, without pixels.
  SetWindowPos(window, nullptr, 0, 0, kWidth + 1, kHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(Picture().width, kWidth + 1);
  EXPECT_FALSE(Picture().HasPixels());
  // And at a new scale there is no old picture to stand in: none is made.
  portable::SetWindowScale(window, 2);
  EXPECT_EQ(Picture().width, 2 * (kWidth + 1));
  EXPECT_FALSE(Picture().HasPixels());
}

TEST_F(PresentFromTest, AHostThatDeclinesGetsThePaintDrawnAndPresented) {
  driver.takes = false;
  MakeBackBuffer(kWidth, kHeight);
  MakeWindow();
  Paint({5, 6, 12, 9});
  EXPECT_TRUE(driver.taken.empty());
  ASSERT_EQ(driver.presented.size(), 1u);
  EXPECT_EQ(driver.presented[0].left, 5);
  EXPECT_EQ(driver.presented[0].top, 6);
  EXPECT_EQ(driver.presented[0].right, 12);
  EXPECT_EQ(driver.presented[0].bottom, 9);
  ASSERT_TRUE(Picture().HasPixels());
  EXPECT_EQ(Picture().Get(11, 8), 0x00080Bu);
}

TEST_F(PresentFromTest, AHostThatKeepsNothingHasThePictureMadeWithTheWindow) {
  driver.onDemand = false;
  driver.takes = false;
  MakeBackBuffer(kWidth, kHeight);
  window =
      MakeTestWindow("PresentFrom", "", 10, 10, kWidth, kHeight, PaintProc);
  EXPECT_TRUE(Picture().HasPixels());
  EXPECT_EQ(Picture().data.size(), size_t(kWidth) * kHeight * 4);
}

} // namespace
