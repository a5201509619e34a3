// A window's picture in pixels a host lends (what the compositor is shown):
// drawing goes into them, the host hears of a drawing before its first
// pixel, and the picture survives being taken back or made anew.
#include <cstdint>
#include <vector>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "sim_fixture.h"

namespace {

constexpr int kWidth = 40, kHeight = 20;
constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

// Two sets of pixels, as a host's two buffers: the one last shown
// (`busyIndex`) may be read by the compositor, and a drawing on it moves
// the picture to the other first, brought up to date.
class LendingDriver : public sim::SimDriver {
public:
  explicit LendingDriver(std::ostream &log) : SimDriver(log) {}
  void BeforeDraw(HWND hwnd) override {
    events += "before ";
    const portable::Bitmap *picture = portable::WindowSurface(hwnd);
    // What the picture holds now, seen by the host at this moment.
    seenFirst = picture->Get(0, 0);
    if (picture->lent == nullptr || lentIndex != busyIndex)
      return;
    std::vector<uint32_t> &from = lentIndex == 0 ? a : b;
    std::vector<uint32_t> &to = lentIndex == 0 ? b : a;
    to = from;
    lentIndex = 1 - lentIndex;
    ASSERT_TRUE(portable::LendWindowPixels(
        hwnd, reinterpret_cast<uint8_t *>(to.data()), kWidth, kHeight));
  }
  void Present(HWND hwnd, const portable::Bitmap &, const RECT &) override {
    events += "present ";
    if (portable::WindowSurface(hwnd)->lent != nullptr)
      busyIndex = lentIndex; // shown
  }
  std::vector<uint32_t> a = std::vector<uint32_t>(kWidth * kHeight, 0);
  std::vector<uint32_t> b = std::vector<uint32_t>(kWidth * kHeight, 0);
  int lentIndex = 0;
  int busyIndex = -1;
  uint32_t seenFirst = 0;
  std::string events;
};

class LentPixelsTest : public ::testing::Test {
protected:
  LentPixelsTest() : driver(log) {
    ResetProcessState();
    portable::ResetAll();
    driver.Install();
    window = MakeTestWindow("LentPixels", "", 10, 10, kWidth, kHeight);
  }
  ~LentPixelsTest() override {
    ResetProcessState();
    portable::SetDriver(nullptr);
    portable::ResetAll();
  }
  static void FillOn(HDC dc, RECT r, COLORREF colour) {
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
  }
  void Fill(RECT r, COLORREF colour) {
    HDC dc = GetDC(window);
    FillOn(dc, r, colour);
    ReleaseDC(window, dc);
  }
  bool Lend() {
    return portable::LendWindowPixels(
        window, reinterpret_cast<uint8_t *>(driver.a.data()), kWidth, kHeight);
  }
  const portable::Bitmap &Picture() { return *portable::WindowSurface(window); }
  std::ostringstream log;
  LendingDriver driver;
  HWND window = nullptr;
};

TEST_F(LentPixelsTest, DrawingGoesIntoThePixelsLentAndNoCopyIsKept) {
  Fill({0, 0, kWidth, kHeight}, RGB(0, 0, 255));
  // The lender's pixels hold the picture already when lent.
  driver.a.assign(driver.a.size(), kBlue);
  ASSERT_TRUE(Lend());
  EXPECT_TRUE(Picture().data.empty());
  EXPECT_EQ(Picture().Get(5, 5), kBlue);
  driver.events.clear();
  Fill({2, 3, 6, 5}, RGB(255, 0, 0));
  EXPECT_EQ(driver.events, "before present ");
  EXPECT_EQ(driver.a[3 * kWidth + 2] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.a[4 * kWidth + 5] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.a[4 * kWidth + 6] & 0xFFFFFF, kBlue); // right edge out
  EXPECT_EQ(driver.a[5 * kWidth + 2] & 0xFFFFFF, kBlue); // bottom edge out
}

TEST_F(LentPixelsTest, TheHostHearsOfADrawingOnceAndBeforeItsFirstPixel) {
  driver.a.assign(driver.a.size(), kBlue);
  ASSERT_TRUE(Lend());
  driver.busyIndex = 0;
  driver.events.clear();
  HDC dc = GetDC(window);
  FillOn(dc, {0, 0, 1, 1}, RGB(255, 0, 0));
  FillOn(dc, {1, 0, 2, 1}, RGB(255, 0, 0));
  ReleaseDC(window, dc);
  EXPECT_EQ(driver.events, "before present ");
  EXPECT_EQ(driver.seenFirst, kBlue); // told before anything was drawn
  // The buffer the compositor may read is untouched; the drawing went into
  // the other, which holds the rest of the picture.
  EXPECT_EQ(driver.a[0] & 0xFFFFFF, kBlue);
  EXPECT_EQ(driver.b[0] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.b[1] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.b[2] & 0xFFFFFF, kBlue);
  // A device context that draws nothing tells the host nothing.
  driver.events.clear();
  ReleaseDC(window, GetDC(window));
  EXPECT_EQ(driver.events, "");
}

TEST_F(LentPixelsTest, AnotherDcShownMeanwhileMakesTheHostHearAgain) {
  driver.a.assign(driver.a.size(), kBlue);
  ASSERT_TRUE(Lend());
  driver.busyIndex = 0;
  HDC held = GetDC(window);
  FillOn(held, {0, 0, 1, 1}, RGB(255, 0, 0)); // into b
  HDC other = GetDC(window);
  FillOn(other, {1, 0, 2, 1}, RGB(255, 0, 0)); // told once per DC: b
  driver.events.clear();
  ReleaseDC(window, other); // shown: b may be read now
  FillOn(held, {2, 0, 3, 1}, RGB(255, 0, 0));
  ReleaseDC(window, held);
  EXPECT_EQ(driver.events, "present before present ");
  // The last drawing went into a again, which was brought up to date.
  EXPECT_EQ(driver.lentIndex, 0);
  EXPECT_EQ(driver.a[0] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.a[1] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.a[2] & 0xFFFFFF, kRed);
  EXPECT_EQ(driver.b[2] & 0xFFFFFF, kBlue);
}

TEST_F(LentPixelsTest, PixelsTakenBackLeaveThePictureItsOwn) {
  driver.a.assign(driver.a.size(), kBlue);
  ASSERT_TRUE(Lend());
  portable::KeepWindowPixels(window);
  EXPECT_EQ(Picture().lent, nullptr);
  driver.a.assign(driver.a.size(), 0); // the host's buffer is gone
  EXPECT_EQ(Picture().Get(kWidth - 1, kHeight - 1), kBlue);
  Fill({0, 0, 1, 1}, RGB(255, 0, 0));
  EXPECT_EQ(Picture().Get(0, 0), kRed);
  EXPECT_EQ(driver.a[0], 0u);
  // Taking back what is not lent changes nothing.
  portable::KeepWindowPixels(window);
  EXPECT_EQ(Picture().Get(0, 0), kRed);
}

TEST_F(LentPixelsTest, APictureMadeAnewIsItsOwnAndKeepsWhatItShowed) {
  driver.a.assign(driver.a.size(), kBlue);
  ASSERT_TRUE(Lend());
  // Twice the density: the old picture stands in, stretched, read from the
  // pixels lent.
  portable::SetWindowScale(window, 2);
  EXPECT_EQ(Picture().lent, nullptr);
  EXPECT_EQ(Picture().width, 2 * kWidth);
  EXPECT_EQ(Picture().Get(2 * kWidth - 1, 2 * kHeight - 1), kBlue);
  // A size it no longer has is refused.
  EXPECT_FALSE(Lend());
  EXPECT_EQ(Picture().lent, nullptr);
  std::vector<uint32_t> wide(size_t(2 * kWidth) * 2 * kHeight, kRed);
  EXPECT_FALSE(
      portable::LendWindowPixels(window, nullptr, 2 * kWidth, 2 * kHeight));
  ASSERT_TRUE(portable::LendWindowPixels(
      window, reinterpret_cast<uint8_t *>(wide.data()), 2 * kWidth,
      2 * kHeight));
  // Resized, it is its own again, cleared for the paint that follows.
  SetWindowPos(window, nullptr, 0, 0, kWidth, kHeight + 1,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(Picture().lent, nullptr);
  EXPECT_EQ(Picture().height, 2 * (kHeight + 1));
}

} // namespace

// A picture's memory on both sides of the size from which its pages are
// mapped in one go (128 x 128 at 32 bits: 64 KiB), and made anew across
// it both ways: mapped (a page's start) from that size, zeroed, holding
// what is drawn, given back without harm.
TEST(PictureMemory, EverySizeIsZeroedHoldsItsPixelsAndIsGivenBack) {
  for (const int width : {8, 127, 128, 129, 600}) {
    portable::Bitmap b;
    for (const int w : {width, width < 128 ? 600 : 8, width}) {
      b.Allocate(w, 128, 32, false);
      ASSERT_EQ(b.data.size(), size_t(w) * 128 * 4);
      if (portable::kPicturesMapped &&
          b.data.size() >= portable::kPicturePages) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b.data.data()) % 4096, 0u)
            << w << " wide";
      }
      size_t nonZero = 0;
      for (const uint8_t byte : b.data)
        nonZero += byte != 0;
      EXPECT_EQ(nonZero, 0u) << w << " wide";
      b.Set(0, 0, kRed);
      b.Set(w - 1, 127, kBlue);
      EXPECT_EQ(b.Get(0, 0), kRed);
      EXPECT_EQ(b.Get(w - 1, 127), kBlue);
    }
  }
}
