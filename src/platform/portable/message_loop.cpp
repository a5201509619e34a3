// The message loop of the portable Win32 subset: the posted-message queue,
// paints, timers and the wait for the host.
//
// GetMessageA takes, in this order:
//  1. a posted message, first in, first out (before taking one, the driver
//     reads what its connection has, Driver::Poll, so that a long queue
//     never leaves the host unread); input is therefore handled in the order
//     it came, and a message posted while handling another comes after
//     everything already queued;
//  2. the quit message, once the queue is empty (PostQuitMessage does not
//     skip what was posted before it);
//  3. a paint of a visible window with an invalid area, the frontmost
//     first: several changes between two waits make one paint (a window
//     whose host cannot take a picture now, Driver::ReadyToPaint, is
//     painted once it can);
//  4. a timer that has fallen due, the earliest first (ties in the order the
//     timers were set); a late timer's next time is put back on the grid of
//     Driver::TimerGranularity(), so that timers of different periods wake
//     the program together;
//  5. otherwise it waits in Driver::Wait until the next timer's time (or
//     for ever), and looks again.
#include <algorithm>
#include <deque>
#include <limits>

#include "platform/portable/internal.h"

namespace portable {

namespace {

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT period;
  uint64_t due;
  uint64_t order;
};
std::vector<Timer> timers;
uint64_t timerOrder = 0;
uint64_t timerMessages = 0;

std::deque<MSG> queue;
bool quitPosted = false;
int quitCode = 0;

Driver *Host() { return GetDriver(); }

bool TakeDueTimer(MSG *msg) {
  if (Host() == nullptr)
    return false;
  const uint64_t now = Host()->Now();
  Timer *best = nullptr;
  for (Timer &t : timers)
    if (t.due <= now && (best == nullptr || t.due < best->due ||
                         (t.due == best->due && t.order < best->order)))
      best = &t;
  if (best == nullptr)
    return false;
  *msg = MSG{best->hwnd, WM_TIMER, best->id, 0, static_cast<DWORD>(now), {}};
  ++timerMessages;
  best->due += best->period;
  if (best->due <= now) { // late: the next one from now, on the grid
    const uint64_t grain = std::max<uint64_t>(1, Host()->TimerGranularity());
    best->due = (now + best->period + grain - 1) / grain * grain;
  }
  return true;
}

bool TakePaint(MSG *msg) {
  Window *best = nullptr;
  for (auto &[h, w] : g_windows.items())
    if (!w->foreign && w->invalid && w->visible &&
        (best == nullptr || StackRank(*w) > StackRank(*best)) &&
        (Host() == nullptr || Host()->ReadyToPaint(w->handle)))
      best = w.get();
  if (best == nullptr) {
    // Hidden windows have nothing to show; their invalid area waits.
    return false;
  }
  *msg = MSG{best->handle, WM_PAINT, 0, 0, 0, {}};
  return true;
}

} // namespace

uint64_t NextTimerDue() {
  uint64_t due = std::numeric_limits<uint64_t>::max();
  for (const Timer &t : timers)
    due = std::min(due, t.due);
  return due;
}

bool TakeMessage(MSG *msg) {
  if (!queue.empty()) {
    *msg = queue.front();
    queue.pop_front();
    return true;
  }
  if (quitPosted)
    return false;
  return TakePaint(msg) || TakeDueTimer(msg);
}

bool QuitPending() { return quitPosted; }

bool HasQueuedMessages() { return !queue.empty(); }

BOOL PostMessageOnce(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  for (const MSG &m : queue)
    if (m.hwnd == hwnd && m.message == msg && m.wParam == wParam &&
        m.lParam == lParam)
      return TRUE;
  return PostMessageA(hwnd, msg, wParam, lParam);
}

bool TimerRunning(HWND hwnd, UINT_PTR id) {
  for (const Timer &t : timers)
    if (t.hwnd == hwnd && t.id == id)
      return true;
  return false;
}

uint64_t TimerMessageCount() { return timerMessages; }

void DropTimersOf(HWND hwnd) {
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [&](const Timer &t) { return t.hwnd == hwnd; }),
               timers.end());
}

void ResetMessageLoop() {
  timers.clear();
  timerOrder = 0;
  timerMessages = 0;
  queue.clear();
  quitPosted = false;
  quitCode = 0;
}

} // namespace portable

using namespace portable;

BOOL GetMessageA(LPMSG msg, HWND, UINT, UINT) {
  if (msg == nullptr)
    return -1;
  while (true) {
    if (!queue.empty() && Host() != nullptr)
      Host()->Poll();
    if (!queue.empty()) {
      *msg = queue.front();
      queue.pop_front();
      return TRUE;
    }
    if (quitPosted) {
      quitPosted = false;
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode), 0, 0, {}};
      return FALSE;
    }
    // Input already read comes first: a click whose press and release
    // came together is painted once, as on Windows.
    if (Host() != nullptr && Host()->DeliverReadInput())
      continue;
    if (TakePaint(msg) || TakeDueTimer(msg))
      return TRUE;
    if (Host() == nullptr) {
      // Nothing can ever arrive: end the loop rather than spin.
      *msg = MSG{nullptr, WM_QUIT, 0, 0, 0, {}};
      return FALSE;
    }
    GiveBackFontPages();
    Host()->Wait(NextTimerDue());
  }
}

BOOL TranslateMessage(const MSG *) { return FALSE; }

LRESULT DispatchMessageA(const MSG *msg) {
  if (msg == nullptr)
    return 0;
  Window *w = OwnWindow(msg->hwnd);
  if (w == nullptr)
    return 0;
  if (msg->message == WM_PAINT && !w->visible)
    return 0;
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd != nullptr && OwnWindow(hwnd) == nullptr) {
    Window *w = g_windows.Get(hwnd);
    if (w != nullptr && w->foreign && Host() != nullptr && msg >= WM_USER &&
        msg <= 0x7FFF)
      return Host()->PostForeign(hwnd, msg, wParam, lParam) ? TRUE : FALSE;
    return FALSE;
  }
  const DWORD time = Host() != nullptr ? static_cast<DWORD>(Host()->Now()) : 0;
  queue.push_back(MSG{hwnd, msg, wParam, lParam, time, {}});
  return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || w->proc == nullptr)
    return 0;
  return w->proc(hwnd, msg, wParam, lParam);
}

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT remove) {
  if (msg == nullptr)
    return FALSE;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (hwnd != nullptr && it->hwnd != hwnd)
      continue;
    if ((min != 0 || max != 0) && (it->message < min || it->message > max))
      continue;
    *msg = *it;
    if (remove & PM_REMOVE)
      queue.erase(it);
    return TRUE;
  }
  return FALSE;
}

void PostQuitMessage(int exitCode) {
  quitPosted = true;
  quitCode = exitCode;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC) {
  if (OwnWindow(hwnd) == nullptr || Host() == nullptr)
    return 0;
  if (elapse < 10)
    elapse = 10;
  const uint64_t grain = std::max<uint64_t>(1, Host()->TimerGranularity());
  const uint64_t due = (Host()->Now() + elapse + grain - 1) / grain * grain;
  for (Timer &t : timers)
    if (t.hwnd == hwnd && t.id == id) {
      t.period = elapse;
      t.due = due;
      return id;
    }
  timers.push_back(Timer{hwnd, id, elapse, due, ++timerOrder});
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  const auto before = timers.size();
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [&](const Timer &t) {
                                return t.hwnd == hwnd && t.id == id;
                              }),
               timers.end());
  return timers.size() != before;
}
