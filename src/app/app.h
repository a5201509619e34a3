// Application shell: start-up, settings, owner window, focus and translucency.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Private window messages.
constexpr UINT MSG_TRAY_NOTIFY = WM_USER + 100;       // 1124
constexpr UINT MSG_RELEASE_LATCHED = WM_USER + 101;   // 1125
constexpr UINT MSG_RELEASE_ALL = WM_USER + 102;       // 1126
constexpr UINT MSG_MODIFIERS_CHANGED = WM_USER + 103; // 1127
// Sent to a running OwnerWindow by a second start: show the keyboard.
constexpr UINT MSG_SHOW_KEYBOARD = WM_USER + 104; // 1128
// Posted to the OwnerWindow while the pointer is on the keyboard: look at
// the foreground now, in the same wake.
constexpr UINT MSG_LOOK_FOREGROUND = WM_USER + 105; // 1129

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

// Process-wide state. Each file keeps its part in one structure whose
// member initialisers are the starting values; ResetProcessState goes back
// to them. The names below refer to the members.
extern HINSTANCE &g_instance;
extern SetLayeredWindowAttributesFn &g_setLayered;
extern HMODULE &g_user32;
extern HWND &g_ownerWindow;
extern HWND &g_keyboardWindow;
extern HWND &g_targetWindow;
extern RECT &g_workArea;
extern int &g_alpha;
extern bool &g_menuOpen;
extern bool &g_recreatePending;
extern bool &g_trayIconAdded;
// Whether the user has the keyboard shown (a window made anew takes it).
extern bool &g_keyboardShown;
// The program is ending: a keyboard window destroyed now is not made anew.
extern bool &g_exiting;
// A keyboard window is being replaced by RecreateKeyboardWindow.
extern bool &g_replacingKeyboard;
// The host tells of foreground changes and key events (hooks installed);
// without them the ticks poll.
extern bool &g_foregroundHooked;
extern bool &g_keyboardHooked;
extern bool &g_ownerTimerRunning;

// Settings (run-time copies).
extern int32_t &g_face;
extern int32_t &g_unit;
extern int32_t &g_x;
extern int32_t &g_y;
extern int32_t &g_winKey;
extern int32_t &g_transparent;

// Values that could not be read at start-up (an error, not an absence):
// a save leaves them as they are stored unless the user changed them.
// Indexed as the settings are saved: Face, Unit, X, Y, WinKey, Transparent.
extern bool (&g_settingUnread)[6];
extern int32_t (&g_settingLoaded)[6];

// Called after every SaveSettings with its result; null unless a host or a
// test wants to observe saves.
extern void (*g_settingsSavedHook)(bool ok);

int FlintoMain(HINSTANCE instance);

void LoadSettings();
// The unit of a first run on a screen of `dpi` pixels per inch: the one
// nearest 3 x dpi / 96 (halves down), within 2 to 6.
int32_t UnitForDpi(int dpi);
// The values as the program starts to use them (clamped, placed): what a
// save compares with to tell the user's changes.
void NoteSettingsInUse();
bool SaveSettings();
HKEY RegOpenPath(const char *path, bool forWriting);
int32_t RegReadDword(const char *path, const char *name, int32_t fallback);
bool RegWriteDword(const char *path, const char *name, int32_t value);

HWND RecreateKeyboardWindow(HWND previous);
// Whether a keyboard of `size` at (x, y) can be seen and dragged in `area`.
bool PositionInReach(LONG x, LONG y, SIZE size, const RECT &area);
// The work area, or the screen when it cannot be read (then false).
bool ReadWorkArea(RECT *area);
// The work area of the monitor that holds most of the rectangle (the
// nearest monitor when none holds any of it).
RECT MonitorWorkArea(const RECT &rect);
// Where a rectangle goes to lie wholly in `area` by the least move; along
// an axis where it is larger than the area, its start meets the area's.
POINT LeastMoveInside(const RECT &rect, const RECT &area);
// Whether the keyboard one unit larger still fits its monitor's work area.
bool NextUnitFits(HWND keyboard);
void KeepKeyboardInReach();
// The first show of a keyboard placed in the corner by default (no stored
// place): the corner of the monitor where the user works now.
void PlaceForFirstShow();
bool SetTranslucency(HWND window, bool on, int alpha);

void KeepTargetForeground(HWND self);
void FadeStep(bool pointerOver);

LRESULT CALLBACK OwnerWndProc(HWND hwnd, UINT msg, WPARAM wParam,
                              LPARAM lParam);
void TrackForeground();
// A second start: when Flinto already runs on this desktop, asks it to show
// its keyboard and returns true.
bool SignalRunningInstance();
// The keyboard window is being destroyed by someone else (its owner, the
// application typed into, closed): a new one takes its place at once.
void KeyboardLost(HWND window);
// Makes sure a live keyboard window exists (a failed re-make is tried again).
void ReplaceLostKeyboard();
// The 50 ms tick runs only while it can have work: a wake starts it for at
// least one look, an update starts it when a re-creation waits; the tick
// stops itself when nothing is left to do.
void WakeOwnerTimer();
void UpdateOwnerTimer();
// The pointer is on the keyboard: once the messages at hand are handled
// (one look posted at a time) the owner looks whether another window came
// to the front, for systems that do not announce it, and wakes its tick
// if one did.
void LookAtForeground();

// Resets every piece of process-wide state to its value before start-up.
void ResetProcessState();
// Each part of it (between test runs).
void ResetOwnerState();
void ResetSettingsState();
