// The order in which the message loop takes what is waiting: queued
// messages, then input the host has already read, then paints and timers.
#include <deque>
#include <string>
#include <utility>

#include "platform/portable/host.h"
#include "sim_fixture.h"

namespace {

// A host that has read some pointer events and hands them over when asked,
// one at a time, as the Linux hosts do.
class ReadInputDriver : public sim::SimDriver {
public:
  explicit ReadInputDriver(std::ostream &log) : SimDriver(log) {}
  bool DeliverReadInput() override {
    if (read.empty())
      return false;
    const auto [message, point] = read.front();
    read.pop_front();
    portable::DeliverPointer(message, point);
    return true;
  }
  // Waiting hands over what was read too, before anything new comes.
  void Wait(uint64_t deadline) override {
    ++waits;
    asksSinceWait = 0;
    if (!DeliverReadInput())
      SimDriver::Wait(deadline);
  }
  // A loop that asks again and again without waiting spins: stopped, and
  // told, rather than left to hang.
  bool ReadyToPaint(HWND hwnd) override {
    if (++asksSinceWait > 100) {
      spun = true;
      notReady = nullptr;
      PostQuitMessage(0);
    }
    return hwnd != notReady;
  }
  HWND notReady = nullptr;
  int waits = 0;
  int asksSinceWait = 0;
  bool spun = false;
  std::deque<std::pair<UINT, POINT>> read;
};

std::string order;
constexpr UINT kPosted = WM_USER + 7;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam,
                               LPARAM lParam) {
  switch (msg) {
  case WM_LBUTTONDOWN:
    order += "down ";
    SetCapture(hwnd);
    PostMessageA(hwnd, kPosted, 0, 0);
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
  case WM_LBUTTONUP:
    order += GetCapture() == hwnd ? "up(captured) " : "up ";
    ReleaseCapture();
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
  case kPosted:
    order += "posted ";
    return 0;
  case WM_PAINT: {
    order += "paint ";
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
    return 0;
  }
  default:
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

class MessageLoopTest : public ::testing::Test {
protected:
  MessageLoopTest() : driver(log) {
    ResetProcessState();
    portable::ResetAll();
    driver.Install();
    window = MakeTestWindow("LoopOrder", "", 100, 100, 50, 20, RecordingProc);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    RunUntilIdle();
    order.clear();
  }
  ~MessageLoopTest() override {
    ResetProcessState();
    portable::SetDriver(nullptr);
    portable::ResetAll();
  }
  // Runs the loop until the host has nothing more (the simulated desktop
  // then ends it).
  void RunUntilIdle() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
      DispatchMessageA(&msg);
  }
  std::ostringstream log;
  ReadInputDriver driver;
  HWND window = nullptr;
};

TEST_F(MessageLoopTest, AClickReadWholeIsHandledBeforeItsOnePaint) {
  driver.read.push_back({WM_LBUTTONDOWN, POINT{110, 110}});
  driver.read.push_back({WM_LBUTTONUP, POINT{200, 200}});
  RunUntilIdle();
  // One event at a time: what the press posted, and the capture it took,
  // come before the release is routed (outside the window, to the holder).
  EXPECT_EQ(order, "down posted up(captured) paint ");
}

TEST_F(MessageLoopTest, InputReadLaterIsPaintedOnItsOwn) {
  driver.read.push_back({WM_LBUTTONDOWN, POINT{110, 110}});
  RunUntilIdle();
  driver.read.push_back({WM_LBUTTONUP, POINT{110, 110}});
  RunUntilIdle();
  EXPECT_EQ(order, "down posted paint up(captured) paint ");
}

TEST_F(MessageLoopTest, APaintWaitsUntilItsHostCanTakeThePicture) {
  HWND behind =
      MakeTestWindow("LoopBehind", "", 300, 100, 50, 20, RecordingProc);
  ShowWindow(behind, SW_SHOWNOACTIVATE);
  RunUntilIdle();
  order.clear();
  // Both invalid; one's host cannot take a picture now: the other is
  // painted, and the loop sleeps rather than spins on the one that waits.
  driver.notReady = window;
  InvalidateRect(window, nullptr, FALSE);
  InvalidateRect(behind, nullptr, FALSE);
  RunUntilIdle();
  EXPECT_FALSE(driver.spun);
  EXPECT_EQ(order, "paint ");
  // Once it can, the paint it waited for comes, once.
  order.clear();
  driver.notReady = nullptr;
  RunUntilIdle();
  EXPECT_EQ(order, "paint ");
  order.clear();
  RunUntilIdle();
  EXPECT_EQ(order, "");
}

// Each paint says whose it is (the window's title).
LRESULT CALLBACK NamedPaintProc(HWND hwnd, UINT msg, WPARAM wParam,
                                LPARAM lParam) {
  if (msg != WM_PAINT)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  char title[16] = {};
  GetWindowTextA(hwnd, title, sizeof title);
  order += std::string(title) + " ";
  PAINTSTRUCT ps;
  BeginPaint(hwnd, &ps);
  EndPaint(hwnd, &ps);
  return 0;
}

TEST_F(MessageLoopTest, SeveralPaintsComeFrontmostFirst) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = NamedPaintProc;
  wc.lpszClassName = "LoopNamed";
  RegisterClassExA(&wc);
  auto make = [](const char *title, DWORD exStyle) {
    HWND w = CreateWindowExA(exStyle, "LoopNamed", title, WS_POPUP, 0, 0, 40,
                             20, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(w, SW_SHOWNOACTIVATE);
    return w;
  };
  // The topmost one is shown first, so raised before the others.
  HWND top = make("top", WS_EX_TOPMOST);
  HWND older = make("older", 0);
  HWND newer = make("newer", 0);
  RunUntilIdle();
  EXPECT_EQ(order, "top newer older ");
  // Raising the older one puts it before the newer, still behind the
  // topmost one.
  order.clear();
  ShowWindow(older, SW_HIDE);
  ShowWindow(older, SW_SHOWNOACTIVATE);
  for (HWND w : {top, older, newer})
    InvalidateRect(w, nullptr, FALSE);
  RunUntilIdle();
  EXPECT_EQ(order, "top older newer ");
}

} // namespace
