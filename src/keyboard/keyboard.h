// The keyboard window and everything that happens on it: pointer routing,
// the key state machine, key injection, system buttons and commands.
#pragma once

#include <cstdint>

#include "model/keyset.h"
#include "platform/platform.h"

// Menu commands.
constexpr UINT ID_EXIT = 40001;
constexpr UINT ID_NEXT_FACE = 40002;
constexpr UINT ID_PREV_FACE = 40003;
constexpr UINT ID_TOGGLE_DISPLAY = 40004;
constexpr UINT ID_ENLARGE = 40005;
constexpr UINT ID_SHRINK = 40006;
constexpr UINT ID_WINKEY = 40007;
constexpr UINT ID_TRANSLUCENT = 40008;

// KeyCommand actions (high word of the command word).
constexpr UINT kActionDown = 1;
constexpr UINT kActionUp = 2;
constexpr UINT kActionLock = 3;

constexpr UINT_PTR kKeyboardTimerId = 2;
constexpr UINT kKeyboardTimerMs = 100;
constexpr int32_t kRepeatDelayTicks = 5;

struct ModifierState {
  bool shift = false;
  bool caps = false;
  bool kana = false;
};

// State of the key state machine and the window.
extern uint32_t &g_repeatKey;
extern int32_t &g_repeatCountdown;
extern ModifierState &g_modifiers;
extern bool &g_timerRunning;
extern POINT &g_grabPoint;

LRESULT CALLBACK KeyboardWndProc(HWND hwnd, UINT msg, WPARAM wParam,
                                 LPARAM lParam);
// Where a dragged edge ends up along one axis of the work area [low, high).
LONG SnapToEdges(LONG pos, LONG size, LONG low, LONG high);
// Something may have given the shown keyboard's 100 ms tick work (a
// modifier changed, translucency switched on): it runs until it has none.
void WakeKeyboardTick();
void ForgetKeyboardTick(); // between test runs (the drag too)

// Handing a message to one key by its kind, or to every ordinary key.
bool SendToKey(HWND window, KeyEntry &entry, UINT message, WPARAM wParam,
               LPARAM lParam);
bool BroadcastToKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Key state machine.
bool KeyHandler(HWND window, KeyEntry &entry, UINT message, WPARAM wParam,
                LPARAM lParam);
LRESULT KeyCommandHandler(HWND window, WPARAM wParam);
void ReleaseOnLeaving(HWND window, bool pointerOver);
void PollModifiers(HWND window);
void AutoRepeatStep(bool pointerOver);
void ReleaseOnDestruction(HWND window);
// Before the keyboard goes out of reach (hidden, a new key set, exit): no
// key owns the pointer, no drag goes on, and every key that is down goes up
// in the usual order.
void ReleaseEverything(HWND window);

// Key event injection.
void SendKeyEvent(uint32_t code, bool down);
void SendCtrlChord(BYTE letter);

// System buttons.
BYTE SystemButtonHandler(HWND window, KeyEntry &entry, UINT message,
                         WPARAM wParam, LPARAM lParam);
void PaintSystemButton(HDC dc, const KeyEntry &entry);
// The square a glyph is drawn in, and the glyph's polygon points relative to
// its top-left corner ("X" has two polygons; the second starts at
// *secondStart, -1 for the others). Returns the number of points.
struct GlyphBox {
  LONG left;
  LONG top;
  LONG bw;
  LONG bh;
};
GlyphBox SystemButtonGlyphBox(const KeyEntry &entry);
int SystemButtonGlyph(char kind, LONG bw, LONG bh, POINT *out,
                      int *secondStart);

// Commands and the context menu.
LRESULT DispatchCommand(HWND window, WPARAM wParam, LPARAM lParam);
bool ShowContextMenu(int x, int y, HWND owner);
// Shows the keyboard without activating it (translucency starts at its
// initial alpha), and hides it with every key released first.
void ShowKeyboard();
void HideKeyboard();

void ResetKeyboardState();
