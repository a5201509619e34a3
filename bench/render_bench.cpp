// Drawing costs: a full rebuild of the keyboard, the gradient alone, one key
// redrawn, and a hit test.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "platform/portable/driver.h"
#include "platform/portable/testing.h"
#include "platform/sim/sim_driver.h"
#include "render/render.h"

namespace {

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return DefWindowProcA(h, m, w, l);
}

// The simulated desktop with one window and the Full face's keys.
struct Desk {
  std::ostringstream log;
  sim::SimDriver driver{log};
  HWND window = nullptr;
  Desk() {
    ResetProcessState();
    portable::ResetAll();
    driver.Install();
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "BenchWindow";
    RegisterClassExA(&wc);
    window = CreateWindowExA(0, "BenchWindow", "", WS_POPUP, 0, 0, 0, 0,
                             nullptr, nullptr, nullptr, nullptr);
    BuildKeySet(BuiltInFaces[2].keys, BuiltInFaces[2].keyCount);
  }
  ~Desk() {
    ResetProcessState();
    portable::SetDriver(nullptr);
    portable::ResetAll();
  }
};

void FullRebuild(benchmark::State &state) {
  Desk desk;
  const int unit = int(state.range(0));
  const FaceDef &face = BuiltInFaces[2];
  for (auto _ : state)
    RebuildBackBuffer(desk.window, unit, face.bitmapFile, face.colourA,
                      face.colourB, true, true, true);
}
BENCHMARK(FullRebuild)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);

void GradientOnly(benchmark::State &state) {
  const int w = 948, h = 312;
  std::vector<BYTE> bits(size_t(((24 * w + 31) / 32) * 4) * h);
  for (auto _ : state) {
    FillGradient(bits.data(), w, h, 6, 0x000080FF, 0x0080FFFF);
    benchmark::DoNotOptimize(bits.data());
  }
}
BENCHMARK(GradientOnly)->Unit(benchmark::kMillisecond);

void RedrawOneKey(benchmark::State &state) {
  Desk desk;
  const FaceDef &face = BuiltInFaces[2];
  RebuildBackBuffer(desk.window, 3, face.bitmapFile, face.colourA, face.colourB,
                    true, true, true);
  KeyEntry &q = *FindKey(0x51);
  for (auto _ : state) {
    q.flags ^= Down;
    RedrawKey(desk.window, q, false);
  }
}
BENCHMARK(RedrawOneKey)->Unit(benchmark::kMicrosecond);

void HitTest(benchmark::State &state) {
  Desk desk;
  g_unit = 3;
  int x = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(HitTestKey(x, 100));
    x = (x + 7) % 474;
  }
}
BENCHMARK(HitTest)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
