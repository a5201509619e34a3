// Application shell: start-up, settings, owner window, focus and translucency.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Private window messages.
constexpr UINT MSG_TRAY_NOTIFY = WM_USER + 100;       // 1124
constexpr UINT MSG_RELEASE_LATCHED = WM_USER + 101;   // 1125
constexpr UINT MSG_RELEASE_ALL = WM_USER + 102;       // 1126
constexpr UINT MSG_MODIFIERS_CHANGED = WM_USER + 103; // 1127

constexpr int32_t kUnsetPosition = -32767;
constexpr int kAlphaInitial = 224;
constexpr int kAlphaMin = 32;
constexpr int kAlphaMax = 224;
constexpr int kAlphaStep = 48;
constexpr UINT_PTR kOwnerTimerId = 1;
constexpr UINT kOwnerTimerMs = 50;

extern const char kSettingsPath[];  // "Orsel\\Flinto"
extern const char kOwnerClass[];    // "FlintoHidden"
extern const char kKeyboardClass[]; // "FlintoFrame"
extern const char kProductName[];   // "Flinto"

typedef BOOL(WINAPI *SetLayeredWindowAttributesFn)(HWND, COLORREF, BYTE, DWORD);

// Process-wide state.
extern HINSTANCE g_instance;
extern SetLayeredWindowAttributesFn g_setLayered;
extern HMODULE g_user32;
extern HWND g_ownerWindow;
extern HWND g_keyboardWindow;
extern HWND g_targetWindow;
extern RECT g_workArea;
extern int g_alpha;
extern bool g_menuOpen;
extern bool g_recreatePending;
extern bool g_trayIconAdded;
extern bool g_keyboardWasVisible; // at the owner's last tick

// Settings (run-time copies).
extern int32_t g_face;
extern int32_t g_unit;
extern int32_t g_x;
extern int32_t g_y;
extern int32_t g_winKey;
extern int32_t g_transparent;

// Called after every SaveSettings with its result; null unless a host or a
// test wants to observe saves.
extern void (*g_settingsSavedHook)(bool ok);

int FlintoMain(HINSTANCE instance);

void LoadSettings();
bool SaveSettings();
HKEY RegOpenPath(const char *path, bool forWriting);
int32_t RegReadDword(const char *path, const char *name, int32_t fallback);
bool RegWriteDword(const char *path, const char *name, int32_t value);

HWND RecreateKeyboardWindow(HWND previous);
bool SetTranslucency(HWND window, bool on, int alpha);

void KeepTargetForeground(HWND self);
void FadeStep(bool pointerOver);

LRESULT CALLBACK OwnerWndProc(HWND hwnd, UINT msg, WPARAM wParam,
                              LPARAM lParam);
void TrackForeground();

// Resets every piece of process-wide state to its value before start-up.
void ResetProcessState();
