// The hidden owner window: tray icon, command forwarding and foreground
// tracking.
#include <cstring>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "model/keyset.h"
#include "platform/resources/resource_ids.h"
#include "render/render.h"

namespace {

// The owner window's state, with its starting values.
struct OwnerState {
  bool trayIconAdded = false;
  bool keyboardShown = false;
  bool exiting = false;
  bool replacingKeyboard = false;
  bool foregroundHooked = false;
  bool keyboardHooked = false;
  bool ownerTimerRunning = false;
  bool lookPosted = false; // a MSG_LOOK_FOREGROUND waits in the queue
};
OwnerState owner;

} // namespace

bool &g_trayIconAdded = owner.trayIconAdded;
bool &g_keyboardShown = owner.keyboardShown;
bool &g_exiting = owner.exiting;
bool &g_replacingKeyboard = owner.replacingKeyboard;
bool &g_foregroundHooked = owner.foregroundHooked;
bool &g_keyboardHooked = owner.keyboardHooked;
bool &g_ownerTimerRunning = owner.ownerTimerRunning;

void ResetOwnerState() { owner = OwnerState(); }

namespace {

NOTIFYICONDATAA trayIcon;
HWINEVENTHOOK foregroundHook = nullptr;
HWINEVENTHOOK focusHook = nullptr;
HHOOK keyboardHook = nullptr;
UINT taskbarCreatedMessage = 0;
UINT taskbarGoneMessage = 0;

void FillTrayIcon(HWND hwnd) {
  std::memset(&trayIcon, 0, sizeof trayIcon);
#ifdef _WIN32
  trayIcon.cbSize = NOTIFYICONDATAA_V1_SIZE;
#else
  trayIcon.cbSize = static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE);
#endif
  trayIcon.hWnd = hwnd;
  trayIcon.uID = 1;
  trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayIcon.uCallbackMessage = MSG_TRAY_NOTIFY;
  trayIcon.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_FLINTO));
  std::strcpy(trayIcon.szTip, kProductName);
}

HWND Taskbar() { return FindWindowA("Shell_TrayWnd", nullptr); }

// Another window came to the front: the 50 ms tick takes a look.
void CALLBACK ForegroundEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD,
                              DWORD) {
  WakeOwnerTimer();
}

// A key went down or up somewhere: Shift, Caps Lock or Kana may have
// changed, and the keyboard's tick polls them.
LRESULT CALLBACK KeyEvent(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION)
    WakeKeyboardTick();
  return CallNextHookEx(keyboardHook, code, wParam, lParam);
}

void InstallHooks() {
  foregroundHook = SetWinEventHook(
      EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
      ForegroundEvent, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  g_foregroundHooked = foregroundHook != nullptr;
  // Some systems (Wine among them) announce a new foreground window only
  // by the focus moving into it: a focus change takes a look too.
  if (g_foregroundHooked)
    focusHook = SetWinEventHook(
        EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, ForegroundEvent, 0, 0,
        WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  keyboardHook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyEvent, g_instance, 0);
  g_keyboardHooked = keyboardHook != nullptr;
}

void RemoveHooks() {
  if (foregroundHook != nullptr)
    UnhookWinEvent(foregroundHook);
  if (focusHook != nullptr)
    UnhookWinEvent(focusHook);
  focusHook = nullptr;
  if (keyboardHook != nullptr)
    UnhookWindowsHookEx(keyboardHook);
  foregroundHook = nullptr;
  keyboardHook = nullptr;
  g_foregroundHooked = g_keyboardHooked = false;
}

// The notification area went away, and the tray icon with it: a hidden
// keyboard could no longer be shown, so it shows itself.
void TrayIconLost() {
  g_trayIconAdded = false;
  ReplaceLostKeyboard();
  if (!IsWindowVisible(g_keyboardWindow))
    ShowKeyboard();
}

} // namespace

bool SignalRunningInstance() {
  HWND running = FindWindowA(kOwnerClass, nullptr);
  if (running == nullptr)
    return false;
  PostMessageA(running, MSG_SHOW_KEYBOARD, 0, 0);
  return true;
}

void WakeOwnerTimer() {
  if (g_ownerTimerRunning || g_ownerWindow == nullptr)
    return;
  g_ownerTimerRunning =
      SetTimer(g_ownerWindow, kOwnerTimerId, kOwnerTimerMs, nullptr) != 0;
}

// Waking the tick for the look cost a wake of its own 50 ms after every
// click; a posted message is handled before the loop waits again. Where
// the tick runs, it looks anyway.
void LookAtForeground() {
  if (owner.lookPosted || g_ownerTimerRunning || g_ownerWindow == nullptr)
    return;
  owner.lookPosted =
      PostMessageA(g_ownerWindow, MSG_LOOK_FOREGROUND, 0, 0) != 0;
}

namespace {

bool OwnerTickHasWork() {
  return !g_foregroundHooked || g_menuOpen ||
         (g_recreatePending && IsWindowVisible(g_keyboardWindow)) ||
         (!IsWindow(g_keyboardWindow) && !g_exiting); // a re-make failed
}

} // namespace

void UpdateOwnerTimer() {
  if (OwnerTickHasWork())
    WakeOwnerTimer();
}

// The keyboard window is owned by the application it types into, and the
// system destroys owned windows with their owner: when that application
// closes, the keyboard window is made anew at once (ownerless until the next
// application comes to the front), shown if the user had it shown, and what
// was already addressed to the old window goes to the new one.
namespace {

// Makes the keyboard window anew, shown if the user had it shown; forgets a
// target that is closing (`closing`, the lost window's owner) or gone.
HWND MakeKeyboardAnew(HWND closing) {
  if (g_targetWindow != nullptr &&
      (g_targetWindow == closing || !IsWindow(g_targetWindow)))
    g_targetWindow = nullptr;
  HWND fresh = RecreateKeyboardWindow(nullptr);
  if (fresh == nullptr)
    return nullptr;
  g_keyboardWindow = fresh;
  if (g_keyboardShown)
    ShowWindow(fresh, SW_SHOWNOACTIVATE);
  return fresh;
}

} // namespace

void KeyboardLost(HWND window) {
  HWND fresh = MakeKeyboardAnew(GetWindow(window, GW_OWNER));
  if (fresh == nullptr) {
    WakeOwnerTimer(); // its ticks try again until one is made
    return;
  }
  if (g_recreatePending && g_targetWindow != nullptr) {
    // Made for the application now in front: that re-creation is done.
    g_recreatePending = false;
    BroadcastToKeys(fresh, MSG_RELEASE_LATCHED, 0, 0);
  }
  MSG msg;
  while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE))
    if (msg.message == WM_COMMAND || msg.message == WM_CLOSE)
      PostMessageA(fresh, msg.message, msg.wParam, msg.lParam);
  UpdateOwnerTimer();
}

void ReplaceLostKeyboard() {
  if (!IsWindow(g_keyboardWindow) && !g_exiting)
    MakeKeyboardAnew(nullptr);
}

void TrackForeground() {
  if (g_menuOpen)
    return;
  ReplaceLostKeyboard();
  HWND foreground = GetForegroundWindow();
  if (foreground != g_targetWindow && foreground != g_keyboardWindow &&
      foreground != Taskbar()) {
    g_targetWindow = foreground;
    g_recreatePending = true;
  } else if (!g_recreatePending) {
    return;
  }
  if (!IsWindowVisible(g_keyboardWindow))
    return;
  if (GetCapture() == g_keyboardWindow || IsAnyKeyCaptured())
    return;
  g_keyboardWindow = RecreateKeyboardWindow(g_keyboardWindow);
  g_recreatePending = false;
  BroadcastToKeys(g_keyboardWindow, MSG_RELEASE_LATCHED, 0, 0);
}

LRESULT CALLBACK OwnerWndProc(HWND hwnd, UINT msg, WPARAM wParam,
                              LPARAM lParam) {
  switch (msg) {
  case WM_CREATE:
    FillTrayIcon(hwnd);
    g_trayIconAdded = Shell_NotifyIconA(NIM_ADD, &trayIcon) != 0;
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    taskbarGoneMessage = RegisterWindowMessageA("TaskbarGone");
    InstallHooks();
    g_ownerTimerRunning =
        SetTimer(hwnd, kOwnerTimerId, kOwnerTimerMs, nullptr) != 0;
    return 0;
  case WM_DESTROY:
    KillTimer(hwnd, kOwnerTimerId);
    g_ownerTimerRunning = false;
    RemoveHooks();
    DeleteFonts();
    Shell_NotifyIconA(NIM_DELETE, &trayIcon);
    PostQuitMessage(0);
    return 0;
  case WM_CLOSE:
    // Asked to close (by another program): the normal way out, every key
    // released first.
    SendMessageA(hwnd, WM_COMMAND, ID_EXIT, 0);
    return 0;
  case WM_ENDSESSION:
    SaveSettings();
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  case WM_COMMAND:
    ReplaceLostKeyboard();
    if (g_keyboardWindow != nullptr)
      PostMessageA(g_keyboardWindow, WM_COMMAND, wParam, lParam);
    return 0;
  case MSG_LOOK_FOREGROUND:
    // Another window in front: the tick makes the keyboard anew, 50 ms on
    // as ever (not at once: a window made anew between a move and the
    // press right behind it would lose the press). Nothing new: no wake.
    owner.lookPosted = false;
    if (HWND front = GetForegroundWindow();
        !g_menuOpen && front != g_targetWindow && front != g_keyboardWindow)
      WakeOwnerTimer();
    UpdateOwnerTimer();
    return 0;
  case WM_TIMER:
    TrackForeground();
    if (!OwnerTickHasWork() && g_ownerTimerRunning) {
      KillTimer(hwnd, kOwnerTimerId);
      g_ownerTimerRunning = false;
    }
    return 0;
  case MSG_TRAY_NOTIFY:
    switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      PostMessageA(hwnd, WM_COMMAND, KEY_HIDE, 0);
      KeepTargetForeground(g_keyboardWindow);
      break;
    case WM_RBUTTONUP: {
      POINT pt = {0, 0};
      GetCursorPos(&pt);
      ShowContextMenu(pt.x, pt.y, hwnd);
      KeepTargetForeground(g_keyboardWindow);
      break;
    }
    default:
      break;
    }
    return 0;
  case WM_DISPLAYCHANGE:
    KeepKeyboardInReach();
    return 0;
  case WM_SETTINGCHANGE:
    if (wParam == SPI_SETWORKAREA)
      KeepKeyboardInReach();
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  case MSG_SHOW_KEYBOARD:
    ReplaceLostKeyboard();
    if (!IsWindowVisible(g_keyboardWindow))
      ShowKeyboard();
    return 0;
  default:
    if (msg != 0 && msg == taskbarCreatedMessage) {
      // The taskbar (re)started: the icon is added again (or is still there).
      g_trayIconAdded = Shell_NotifyIconA(NIM_ADD, &trayIcon) != 0 ||
                        Shell_NotifyIconA(NIM_MODIFY, &trayIcon) != 0;
      if (!g_trayIconAdded)
        TrayIconLost();
      return 0;
    }
    if (msg != 0 && msg == taskbarGoneMessage) {
      TrayIconLost();
      return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}
