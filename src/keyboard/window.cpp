// The keyboard window procedure: paint, pointer routing, dragging and the
// 100 ms tick.
#include "app/app.h"
#include "keyboard/keyboard.h"
#include "render/render.h"

namespace {

// The keyboard window's state, with its starting values.
struct WindowState {
  bool timerRunning = false;
  POINT grabPoint = {0, 0};
  // Something may have changed a modifier since the tick last looked (a
  // key event reported, the tick woken): its next tick must look.
  bool lookDue = false;
};
WindowState windowState;

} // namespace

bool &g_timerRunning = windowState.timerRunning;
POINT &g_grabPoint = windowState.grabPoint;

namespace {

// The window whose 100 ms timer runs, or null: a hidden or destroyed window
// never ticks, whichever window started it.
HWND tickWindow = nullptr;

// Starts the tick on a shown window (or one being shown) unless it runs.
void StartTick(HWND hwnd, bool beingShown = false) {
  if (tickWindow == hwnd || (!beingShown && !IsWindowVisible(hwnd)))
    return;
  if (tickWindow != nullptr)
    KillTimer(tickWindow, kKeyboardTimerId);
  tickWindow = nullptr;
  g_timerRunning = false;
  if (SetTimer(hwnd, kKeyboardTimerId, kKeyboardTimerMs, nullptr) != 0) {
    tickWindow = hwnd;
    g_timerRunning = true;
  }
}

void StopTick(HWND hwnd) {
  if (tickWindow != hwnd)
    return;
  KillTimer(hwnd, kKeyboardTimerId);
  tickWindow = nullptr;
  g_timerRunning = false;
}

// Whether the next tick can have work: a key owns the pointer (repeat,
// release on leaving), a repeat is due with the pointer over the keyboard
// (a latched or locked key with the pointer away waits: its repeat holds),
// the keyboard is translucent (it fades in while the pointer is over it
// and out when it leaves), or nothing reports modifier changes (polling).
// A pointer resting on an opaque keyboard with nothing held gives none:
// its next move starts the tick again.
bool TickHasWork(bool pointerOver) {
  if (!g_keyboardHooked || IsAnyKeyCaptured())
    return true;
  if (pointerOver && g_repeatCountdown > 0)
    return true;
  return g_transparent != 0 && (pointerOver || g_alpha > kAlphaMin);
}

constexpr LONG kSnapDistance = 32;

void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  BITMAP picture;
  if (BackBuffer != nullptr && dc != nullptr &&
      GetObjectA(BackBuffer, sizeof picture, &picture) != 0) {
    // (In the window's pixels, which the picture was made for.)
    HDC memory = CreateCompatibleDC(dc);
    if (memory != nullptr) {
      HGDIOBJ old = SelectObject(memory, BackBuffer);
      BitBlt(dc, 0, 0, picture.bmWidth, picture.bmHeight, memory, 0, 0,
             SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
  }
  EndPaint(hwnd, &ps);
}

void DragStep(HWND hwnd, LONG x, LONG y) {
  POINT pos = {x - g_grabPoint.x, y - g_grabPoint.y};
  ClientToScreen(hwnd, &pos);
  RECT rect;
  GetWindowRect(hwnd, &rect);
  const LONG w = rect.right - rect.left;
  const LONG h = rect.bottom - rect.top;
  // The edges are those of the monitor under the pointer: dragged across
  // to another monitor, the keyboard goes with it.
  POINT pointer = {x, y};
  ClientToScreen(hwnd, &pointer);
  const RECT work =
      MonitorWorkArea({pointer.x, pointer.y, pointer.x + 1, pointer.y + 1});
  if (!IsRectEmpty(&work)) {
    pos.x = SnapToEdges(pos.x, w, work.left, work.right);
    pos.y = SnapToEdges(pos.y, h, work.top, work.bottom);
  }
  SetWindowPos(hwnd, nullptr, pos.x, pos.y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  g_x = pos.x;
  g_y = pos.y;
}

// The pointer on the background (no key under it, none owning it): a left
// press starts a drag, a right click opens the menu.
void BackgroundPointer(HWND hwnd, UINT msg, LONG x, LONG y) {
  const bool dragging = GetCapture() == hwnd;
  switch (msg) {
  case WM_LBUTTONDOWN:
    if (GetCapture() == nullptr) {
      SetCapture(hwnd);
      g_grabPoint = {x, y};
    }
    break;
  case WM_MOUSEMOVE:
    if (dragging)
      DragStep(hwnd, x, y);
    break;
  case WM_LBUTTONUP:
    if (dragging)
      ReleaseCapture();
    break;
  case WM_RBUTTONUP:
    if (dragging) {
      ReleaseCapture();
    } else {
      POINT pt = {x, y};
      ClientToScreen(hwnd, &pt);
      ShowContextMenu(pt.x, pt.y, hwnd);
      KeepTargetForeground(g_keyboardWindow);
    }
    break;
  default:
    break;
  }
}

void RoutePointer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const LONG x = static_cast<SHORT>(LOWORD(lParam));
  const LONG y = static_cast<SHORT>(HIWORD(lParam));
  KeyEntry *receiver = nullptr;
  if (GetCapture() != nullptr) {
    receiver = nullptr;
  } else if (IsAnyKeyCaptured()) {
    receiver = FindKey(GetCapturedKey());
  } else {
    receiver = HitTestKey(x, y);
  }
  if (receiver != nullptr)
    SendToKey(hwnd, *receiver, msg, wParam, lParam);
  else
    BackgroundPointer(hwnd, msg, x, y);
}

void Tick(HWND hwnd) {
  POINT cursor = {0, 0};
  GetCursorPos(&cursor);
  const bool pointerOver = WindowFromPoint(cursor) == hwnd;
  ReleaseOnLeaving(hwnd, pointerOver);
  PollModifiers(hwnd);
  windowState.lookDue = false;
  AutoRepeatStep(pointerOver);
  if (g_transparent)
    FadeStep(pointerOver);
  if (!TickHasWork(pointerOver))
    StopTick(hwnd);
}

} // namespace

void ForgetKeyboardTick() {
  tickWindow = nullptr;
  windowState = WindowState();
}

void WakeKeyboardTick() {
  windowState.lookDue = true;
  if (g_keyboardWindow != nullptr)
    StartTick(g_keyboardWindow);
}

LONG SnapToEdges(LONG pos, LONG size, LONG low, LONG high) {
  if (pos < low + kSnapDistance)
    return low;
  if (pos + size >= high - kSnapDistance)
    return high - size;
  return pos;
}

LRESULT CALLBACK KeyboardWndProc(HWND hwnd, UINT msg, WPARAM wParam,
                                 LPARAM lParam) {
  switch (msg) {
  case WM_CREATE: {
    const FaceDef &face = BuiltInFaces[g_face];
    RebuildBackBuffer(hwnd, g_unit, face.bitmapFile, face.colourA, face.colourB,
                      true, false, false);
    return 0;
  }
  case WM_DESTROY:
    ReleaseOnDestruction(hwnd);
    StopTick(hwnd);
    if (hwnd == g_keyboardWindow && !g_replacingKeyboard && !g_exiting)
      KeyboardLost(hwnd);
    return 0;
  case WM_PAINT:
    Paint(hwnd);
    return 0;
  case WM_DPICHANGED: {
    // Another pixel density (a HiDPI monitor): the unit the user chose stays,
    // the picture is drawn again for the new density.
    const FaceDef &face = BuiltInFaces[g_face];
    RebuildBackBuffer(hwnd, g_unit, face.bitmapFile, face.colourA, face.colourB,
                      false, true, true);
    return 0;
  }
  case WM_CLOSE:
    SendMessageA(hwnd, WM_COMMAND, ID_EXIT, 0);
    return 0;
  case WM_SHOWWINDOW:
    // Sent before the window changes its visibility. A show always ticks
    // once, which polls the modifiers.
    if (wParam != 0)
      StartTick(hwnd, true);
    else
      StopTick(hwnd);
    return 0;
  case WM_MOUSEACTIVATE:
    KeepTargetForeground(hwnd);
    return MA_NOACTIVATE;
  case WM_MOVE:
    // Moved by someone else (a window manager, a pager): the position saved
    // is where the keyboard is.
    if (hwnd == g_keyboardWindow) {
      g_x = static_cast<SHORT>(LOWORD(lParam));
      g_y = static_cast<SHORT>(HIWORD(lParam));
    }
    return 0;
  case WM_COMMAND:
    return DispatchCommand(hwnd, wParam, lParam);
  case WM_TIMER:
    Tick(hwnd);
    return 0;
  case WM_MOUSEMOVE:
  case WM_LBUTTONDOWN:
  case WM_LBUTTONUP:
  case WM_RBUTTONDOWN:
  case WM_RBUTTONUP:
    // The pointer over the keyboard gives the tick work, and the owner
    // takes a look at the foreground (where the system does not announce
    // a new foreground window, the switch is noticed when the keyboard is
    // used next: Wine installs the hook and announces nothing).
    StartTick(hwnd);
    LookAtForeground();
    RoutePointer(hwnd, msg, wParam, lParam);
    // A release that left the tick nothing to do (no key held, no fade,
    // no key event since its last look) stops it now rather than at its
    // next tick, which would only find that out: a click costs no wake
    // after it. (A move still gives the tick its one look.)
    if ((msg == WM_LBUTTONUP || msg == WM_RBUTTONUP) && !windowState.lookDue &&
        !TickHasWork(true))
      StopTick(hwnd);
    return 0;
  default:
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}
