// Handing the foreground back to the application being typed into, and the
// translucency fade.
#include "app/app.h"

void KeepTargetForeground(HWND self) {
  HWND foreground = GetForegroundWindow();
  if (foreground != nullptr && foreground != self) {
    const bool otherThread =
        GetWindowThreadProcessId(foreground, nullptr) != GetCurrentThreadId();
    if (otherThread && foreground != FindWindowA("Shell_TrayWnd", nullptr))
      return; // another application is in front: leave it
  }
  if (g_targetWindow == nullptr)
    return;
  if (IsWindow(g_targetWindow))
    SetForegroundWindow(g_targetWindow);
  else
    g_targetWindow = nullptr;
}

void FadeStep(bool pointerOver) {
  int alpha = g_alpha + (pointerOver ? kAlphaStep : -kAlphaStep);
  if (alpha < kAlphaMin)
    alpha = kAlphaMin;
  if (alpha > kAlphaMax)
    alpha = kAlphaMax;
  if (alpha != g_alpha) {
    g_alpha = alpha;
    SetTranslucency(g_keyboardWindow, true, alpha);
  }
}
