// Monitors, as the host's driver describes them. A monitor's handle is its
// place in the driver's list plus one, looked up again at each call, so a
// handle kept across a change of monitors finds the monitor now at that
// place, or none.
#include <algorithm>
#include <climits>

#include "platform/portable/driver.h"

namespace portable {

std::vector<Driver::Monitor> Driver::Monitors() {
  Monitor one;
  int w = 0, h = 0;
  ScreenSize(&w, &h);
  one.rect = {0, 0, w, h};
  if (!WorkArea(&one.work))
    one.work = one.rect;
  return {one};
}

namespace {

HMONITOR HandleOf(size_t index) {
  return reinterpret_cast<HMONITOR>(uintptr_t(index + 1));
}

std::vector<Driver::Monitor> AllMonitors() {
  Driver *driver = GetDriver();
  return driver != nullptr ? driver->Monitors()
                           : std::vector<Driver::Monitor>();
}

// The distance from the rectangle to the monitor, squared (0 when they
// touch or overlap).
int64_t DistanceSquared(const RECT &r, const RECT &m) {
  const int64_t dx = r.right <= m.left   ? int64_t(m.left) - r.right + 1
                     : m.right <= r.left ? int64_t(r.left) - m.right + 1
                                         : 0;
  const int64_t dy = r.bottom <= m.top   ? int64_t(m.top) - r.bottom + 1
                     : m.bottom <= r.top ? int64_t(r.top) - m.bottom + 1
                                         : 0;
  return dx * dx + dy * dy;
}

} // namespace

} // namespace portable

using portable::AllMonitors;

// The monitor that holds the largest part of the rectangle; where none
// holds any, as the flags say (the nearest, the primary or none).
HMONITOR MonitorFromRect(const RECT *rect, DWORD flags) {
  const std::vector<portable::Driver::Monitor> monitors = AllMonitors();
  if (monitors.empty() || rect == nullptr)
    return nullptr;
  size_t best = monitors.size();
  int64_t bestArea = 0;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const RECT &m = monitors[i].rect;
    const int64_t w =
        int64_t(std::min(rect->right, m.right)) - std::max(rect->left, m.left);
    const int64_t h =
        int64_t(std::min(rect->bottom, m.bottom)) - std::max(rect->top, m.top);
    if (w > 0 && h > 0 && w * h > bestArea) {
      bestArea = w * h;
      best = i;
    }
  }
  if (best < monitors.size())
    return portable::HandleOf(best);
  if (flags == MONITOR_DEFAULTTOPRIMARY)
    return portable::HandleOf(0);
  if (flags != MONITOR_DEFAULTTONEAREST)
    return nullptr;
  int64_t nearest = INT64_MAX;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const int64_t d = portable::DistanceSquared(*rect, monitors[i].rect);
    if (d < nearest) {
      nearest = d;
      best = i;
    }
  }
  return portable::HandleOf(best);
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags) {
  const RECT r = {point.x, point.y, point.x + 1, point.y + 1};
  return MonitorFromRect(&r, flags);
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD flags) {
  RECT r;
  if (GetWindowRect(hwnd, &r))
    return MonitorFromRect(&r, flags);
  // No such window: the primary, unless none is asked for.
  if (flags == MONITOR_DEFAULTTONULL || AllMonitors().empty())
    return nullptr;
  return portable::HandleOf(0);
}

BOOL GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info) {
  const size_t index = reinterpret_cast<uintptr_t>(monitor);
  const std::vector<portable::Driver::Monitor> monitors = AllMonitors();
  if (info == nullptr || index == 0 || index > monitors.size())
    return FALSE;
  info->rcMonitor = monitors[index - 1].rect;
  info->rcWork = monitors[index - 1].work;
  info->dwFlags = index == 1 ? MONITORINFOF_PRIMARY : 0;
  return TRUE;
}

// Every monitor, the primary first, until the callback says FALSE (the
// device context and the clip are not used by the program).
BOOL EnumDisplayMonitors(HDC, const RECT *, MONITORENUMPROC proc, LPARAM data) {
  if (proc == nullptr)
    return FALSE;
  std::vector<portable::Driver::Monitor> monitors = AllMonitors();
  for (size_t i = 0; i < monitors.size(); ++i)
    if (!proc(portable::HandleOf(i), nullptr, &monitors[i].rect, data))
      break;
  return TRUE;
}

int GetDeviceCaps(HDC, int index) {
  portable::Driver *driver = portable::GetDriver();
  if (index != LOGPIXELSX && index != LOGPIXELSY)
    return 0;
  return driver != nullptr ? driver->Dpi() : 96;
}
