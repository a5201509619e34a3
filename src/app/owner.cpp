// The hidden owner window: tray icon, command forwarding and foreground
// tracking.
#include <cstring>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "model/keyset.h"
#include "platform/resources/resource_ids.h"
#include "render/render.h"

bool g_trayIconAdded = false;
bool g_keyboardWasVisible = false;

namespace {

NOTIFYICONDATAA trayIcon;

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

} // namespace

// The keyboard window is owned by the application it types into, and the
// system destroys owned windows with their owner: when that application
// closes, the keyboard window is made anew (ownerless until the next
// application comes to the front), shown again if it was shown, so that it
// is never lost.
void ReplaceLostKeyboard() {
  if (IsWindow(g_keyboardWindow)) {
    g_keyboardWasVisible = IsWindowVisible(g_keyboardWindow) != 0;
    return;
  }
  if (g_targetWindow != nullptr && !IsWindow(g_targetWindow))
    g_targetWindow = nullptr;
  HWND fresh = RecreateKeyboardWindow(nullptr);
  if (fresh == nullptr)
    return;
  g_keyboardWindow = fresh;
  if (g_keyboardWasVisible)
    ShowWindow(fresh, SW_SHOWNOACTIVATE);
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
    SetTimer(hwnd, kOwnerTimerId, kOwnerTimerMs, nullptr);
    return 0;
  case WM_DESTROY:
    KillTimer(hwnd, kOwnerTimerId);
    DeleteFonts();
    Shell_NotifyIconA(NIM_DELETE, &trayIcon);
    PostQuitMessage(0);
    return 0;
  case WM_ENDSESSION:
    SaveSettings();
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  case WM_COMMAND:
    if (g_keyboardWindow != nullptr)
      PostMessageA(g_keyboardWindow, WM_COMMAND, wParam, lParam);
    return 0;
  case WM_TIMER:
    TrackForeground();
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
  default:
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}
