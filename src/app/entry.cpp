// Start-up, the message loop, shutdown, and the keyboard window's creation
// and translucency.
#include "app/app.h"
#include "keyboard/keyboard.h"
#include "model/keyset.h"
#include "platform/resources/resource_ids.h"
#include "render/render.h"

const char kSettingsPath[] = "Orsel\\Flinto";
const char kOwnerClass[] = "FlintoHidden";
const char kKeyboardClass[] = "FlintoFrame";
const char kProductName[] = "Flinto";

namespace {

// The shell's state, with its starting values.
struct ShellState {
  HINSTANCE instance = nullptr;
  SetLayeredWindowAttributesFn setLayered = nullptr;
  HMODULE user32 = nullptr;
  HWND ownerWindow = nullptr;
  HWND keyboardWindow = nullptr;
  HWND targetWindow = nullptr;
  RECT workArea = {0, 0, 0, 0};
  int alpha = kAlphaInitial;
  bool menuOpen = false;
  bool recreatePending = false;
  // The settings' run-time copies, with their defaults.
  int32_t face = 2;
  int32_t unit = 3;
  int32_t x = kUnsetPosition;
  int32_t y = kUnsetPosition;
  int32_t winKey = 0;
  int32_t transparent = 0;
  // Placed in a corner by default, and not shown yet: the first show puts
  // it in the corner of the monitor where the user works then.
  bool cornerPending = false;
};
ShellState shell;

} // namespace

HINSTANCE &g_instance = shell.instance;
SetLayeredWindowAttributesFn &g_setLayered = shell.setLayered;
HMODULE &g_user32 = shell.user32;
HWND &g_ownerWindow = shell.ownerWindow;
HWND &g_keyboardWindow = shell.keyboardWindow;
HWND &g_targetWindow = shell.targetWindow;
RECT &g_workArea = shell.workArea;
int &g_alpha = shell.alpha;
bool &g_menuOpen = shell.menuOpen;
bool &g_recreatePending = shell.recreatePending;
int32_t &g_face = shell.face;
int32_t &g_unit = shell.unit;
int32_t &g_x = shell.x;
int32_t &g_y = shell.y;
int32_t &g_winKey = shell.winKey;
int32_t &g_transparent = shell.transparent;

void (*g_settingsSavedHook)(bool ok) = nullptr;

namespace {

bool RegisterWindowClass(const char *name, WNDPROC proc) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = proc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = g_instance;
  wc.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_FLINTO));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = name;
  wc.hIconSm = nullptr;
  return RegisterClassExA(&wc) != 0;
}

// Whether half the keyboard lies in the work area of some monitor.
struct HalfIn {
  RECT keyboard;
  bool found;
};
BOOL CALLBACK HalfInMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto *half = reinterpret_cast<HalfIn *>(data);
  const RECT &r = half->keyboard;
  MONITORINFO info;
  info.cbSize = sizeof info;
  if (GetMonitorInfoA(monitor, &info) &&
      PositionInReach(r.left, r.top, SIZE{r.right - r.left, r.bottom - r.top},
                      info.rcWork))
    half->found = true;
  return half->found ? FALSE : TRUE; // found: no need to look further
}

// The work area of the monitor where the user works: the foreground
// window's, else the pointer's.
RECT WorkingMonitorArea() {
  RECT r;
  HWND front = GetForegroundWindow();
  if (front == nullptr || !GetWindowRect(front, &r) || IsRectEmpty(&r)) {
    POINT pointer = {0, 0};
    GetCursorPos(&pointer);
    r = {pointer.x, pointer.y, pointer.x + 1, pointer.y + 1};
  }
  return MonitorWorkArea(r);
}

// First run, or a stored position from which the keyboard could not be
// seen and dragged on any monitor: the bottom-right corner of the monitor
// where the user works.
void PlaceInitialWindow() {
  const SIZE size = DefaultWindowSize();
  bool place = g_x == kUnsetPosition || g_y == kUnsetPosition;
  if (!place) {
    HalfIn half = {{g_x, g_y, g_x + size.cx, g_y + size.cy}, false};
    EnumDisplayMonitors(nullptr, nullptr, HalfInMonitor,
                        reinterpret_cast<LPARAM>(&half));
    place = !half.found;
    if (!place)
      g_workArea = MonitorWorkArea(half.keyboard);
  }
  if (place) {
    g_workArea = WorkingMonitorArea();
    g_x = g_workArea.right - size.cx;
    g_y = g_workArea.bottom - size.cy;
    shell.cornerPending = true;
  }
}

} // namespace

namespace {

// How much of the keyboard lies in the work area along one axis.
LONG Overlap(LONG start, LONG size, LONG low, LONG high) {
  const LONG from = start > low ? start : low;
  const LONG to = start + size < high ? start + size : high;
  return to > from ? to - from : 0;
}

} // namespace

// A position is kept when at least half of the keyboard's width and half of
// its height lie in the work area (an unknown, empty area keeps any).
bool PositionInReach(LONG x, LONG y, SIZE size, const RECT &area) {
  if (area.left >= area.right || area.top >= area.bottom)
    return true;
  const LONG across = Overlap(x, size.cx, area.left, area.right);
  const LONG down = Overlap(y, size.cy, area.top, area.bottom);
  return 2 * int64_t(across) >= size.cx && 2 * int64_t(down) >= size.cy;
}

bool ReadWorkArea(RECT *area) {
  if (SystemParametersInfoA(SPI_GETWORKAREA, 0, area, 0))
    return true;
  // Unreadable work area: the whole screen stands in for it.
  *area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return false;
}

void PlaceForFirstShow() {
  if (!shell.cornerPending)
    return;
  shell.cornerPending = false;
  RECT r;
  if (!GetWindowRect(g_keyboardWindow, &r))
    return;
  g_workArea = WorkingMonitorArea();
  const LONG x = g_workArea.right - (r.right - r.left);
  const LONG y = g_workArea.bottom - (r.bottom - r.top);
  if (x == r.left && y == r.top)
    return;
  g_x = x;
  g_y = y;
  SetWindowPos(g_keyboardWindow, nullptr, x, y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT MonitorWorkArea(const RECT &rect) {
  MONITORINFO info;
  info.cbSize = sizeof info;
  const HMONITOR monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
  if (monitor != nullptr && GetMonitorInfoA(monitor, &info) &&
      !IsRectEmpty(&info.rcWork))
    return info.rcWork;
  RECT area;
  ReadWorkArea(&area);
  return area;
}

POINT LeastMoveInside(const RECT &rect, const RECT &area) {
  auto axis = [](LONG start, LONG end, LONG low, LONG high) {
    if (end - start > high - low || start < low)
      return low;
    if (end > high)
      return start - (end - high);
    return start;
  };
  return {axis(rect.left, rect.right, area.left, area.right),
          axis(rect.top, rect.bottom, area.top, area.bottom)};
}

bool NextUnitFits(HWND keyboard) {
  const KeyEntry *frame = FindKey(KEY_FRAME);
  RECT r;
  if (frame == nullptr || !GetWindowRect(keyboard, &r))
    return false;
  const RECT work = MonitorWorkArea(r);
  return int64_t(g_unit + 1) * frame->width <= work.right - work.left &&
         int64_t(g_unit + 1) * frame->height <= work.bottom - work.top;
}

// The screen, a monitor or a work area changed: a keyboard no longer
// wholly inside its monitor's work area is moved the least distance that
// puts it back (the nearest monitor's, when its own is gone). A keyboard
// whose monitor went first lets go of every key that is down: it moves
// from under the pointer, and nothing may stay pressed while it does.
void KeepKeyboardInReach() {
  RECT r;
  if (!GetWindowRect(g_keyboardWindow, &r))
    return;
  if (MonitorFromRect(&r, MONITOR_DEFAULTTONULL) == nullptr)
    ReleaseEverything(g_keyboardWindow);
  g_workArea = MonitorWorkArea(r);
  const POINT to = LeastMoveInside(r, g_workArea);
  if (to.x == r.left && to.y == r.top)
    return;
  g_x = to.x;
  g_y = to.y;
  SetWindowPos(g_keyboardWindow, nullptr, g_x, g_y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int FlintoMain(HINSTANCE instance) {
  // One keyboard per desktop: a second start shows the running one.
  if (SignalRunningInstance())
    return 0;
  g_user32 = LoadLibraryA("user32.dll");
  if (g_user32 != nullptr)
    g_setLayered =
        reinterpret_cast<SetLayeredWindowAttributesFn>(reinterpret_cast<void *>(
            GetProcAddress(g_user32, "SetLayeredWindowAttributes")));
  g_instance = instance;
  ReadWorkArea(&g_workArea);
  LoadSettings();
  const FaceDef &face = BuiltInFaces[g_face];
  BuildKeySet(face.keys, face.keyCount);
  PlaceInitialWindow();

  if (!RegisterWindowClass(kOwnerClass, OwnerWndProc) ||
      !RegisterWindowClass(kKeyboardClass, KeyboardWndProc))
    return 0;
  g_targetWindow = GetForegroundWindow();
  g_ownerWindow = CreateWindowExA(0, kOwnerClass, "", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, g_instance, nullptr);
  if (g_ownerWindow == nullptr)
    return 0;
  HWND keyboard = RecreateKeyboardWindow(nullptr);
  if (keyboard == nullptr)
    return 0;
  g_keyboardWindow = keyboard;
  NoteSettingsInUse();
  // Without a tray icon nothing could ever show a hidden keyboard.
  if (!g_trayIconAdded)
    ShowKeyboard();

  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1)
      break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  SaveSettings();
  if (g_user32 != nullptr) {
    FreeLibrary(g_user32);
    g_user32 = nullptr;
  }
  return static_cast<int>(msg.wParam);
}

HWND RecreateKeyboardWindow(HWND previous) {
  RECT old;
  if (previous == nullptr || !GetWindowRect(previous, &old))
    SetRectEmpty(&old);
  HWND window = CreateWindowExA(
      WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOPARENTNOTIFY, kKeyboardClass,
      kProductName, WS_POPUP, g_x, g_y, old.right - old.left,
      old.bottom - old.top, g_targetWindow, nullptr, g_instance, nullptr);
  if (window == nullptr)
    return previous;
  if (g_transparent)
    SetTranslucency(window, true, g_alpha);
  if (previous != nullptr) {
    if (IsWindowVisible(previous))
      ShowWindow(window, SW_SHOWNOACTIVATE);
    const bool wasReplacing = g_replacingKeyboard;
    g_replacingKeyboard = true;
    DestroyWindow(previous);
    g_replacingKeyboard = wasReplacing;
  }
  return window;
}

bool SetTranslucency(HWND window, bool on, int alpha) {
  if (g_setLayered == nullptr)
    return false;
  if (!on)
    alpha = 255;
  const LONG style = GetWindowLongA(window, GWL_EXSTYLE);
  if (on && !(style & WS_EX_LAYERED))
    SetWindowLongA(window, GWL_EXSTYLE, style | WS_EX_LAYERED);
  const bool ok = g_setLayered(window, 0xFFFFFFFF, static_cast<BYTE>(alpha),
                               LWA_ALPHA) != 0;
  if (!on && (style & WS_EX_LAYERED)) {
    SetWindowLongA(window, GWL_EXSTYLE, style & ~WS_EX_LAYERED);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
  }
  return ok;
}

void ResetProcessState() {
  shell = ShellState();
  ResetOwnerState();
  ResetSettingsState();
  KeySet.clear();
  ClearCapturedKey();
  ResetKeyboardState();
  ResetRenderState();
}
