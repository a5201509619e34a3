// What a driver calls in the portable layer: the events it reports as they
// happen, the delivery of pointer input, the message loop's parts for its
// own nested loops, and what it may ask of the program's windows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/portable/win32_subset.h"

namespace portable {

struct Bitmap;

// Foreign windows: other applications and the taskbar, as the host knows
// them. They belong to another thread.
HWND RegisterForeignWindow(const std::string &className,
                           const std::string &title, const RECT &rect);
void ForgetForeignWindow(HWND hwnd);
void SetForeignWindowRect(HWND hwnd, const RECT &rect);

// Routes a pointer event at a screen point as the system does: to the
// window holding the capture, else to the window under the point, in client
// coordinates. A button press on one of our windows that is not in front
// first asks it with WM_MOUSEACTIVATE. Returns the receiving window (ours),
// or null when the point is over another application.
HWND DeliverPointer(UINT message, POINT screen);

// Our own visible window under the point (topmost first), or null.
HWND OwnWindowAt(POINT point);

// For nested loops (a popup menu) that keep the program's messages and
// timers going: takes the next queued message, paint or due timer without
// waiting; false when there is none (or the quit message is pending).
bool TakeMessage(MSG *msg);
// When the next timer falls due, on Driver::Now()'s clock (UINT64_MAX: none).
uint64_t NextTimerDue();
bool QuitPending();
// Whether a posted message waits in the queue.
bool HasQueuedMessages();
// Posts the message unless the same one (window, number and parameters)
// still waits in the queue: what a flood repeats is handled once.
BOOL PostMessageOnce(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
const std::string *WindowClassName(HWND hwnd);
HWND WindowOwner(HWND hwnd);
bool IsOwnWindow(HWND hwnd);
const Bitmap *WindowSurface(HWND hwnd);
// The window's picture is `pixels` from now on (32 bits per pixel, top row
// first, rows of width * 4 bytes), which hold it already: a driver shows
// the compositor what the program draws without a copy. The driver keeps
// them until it takes them back (below) or the picture is made anew (a
// new size or scale). False, and nothing lent, when the size differs.
bool LendWindowPixels(HWND hwnd, uint8_t *pixels, int width, int height);
// The picture goes back into memory of its own, a copy of the pixels lent.
void KeepWindowPixels(HWND hwnd);
const Bitmap *BitmapOf(HBITMAP bitmap);

// What a host reports as it happens: the foreground window changed; a key
// went down or up (LLKHF_ flags); the notification area went away (its icons
// with it) or came (again). They reach the program through its hooks and
// through the registered messages kTaskbarGoneMessage and "TaskbarCreated".
constexpr const char kTaskbarGoneMessage[] = "TaskbarGone";
void ForegroundChanged(HWND hwnd);
void KeyEventSeen(BYTE vk, BYTE scan, DWORD llFlags);
void TrayGone();
void TrayCreated();
// The user clicked the tray icon (WM_LBUTTONDOWN, WM_LBUTTONDBLCLK,
// WM_RBUTTONUP): the icon's owner gets its callback message, unless the
// same click still waits in the queue. The portable layer keeps the icon's
// owner, id and callback message from Shell_NotifyIconA.
void TrayClicked(UINT mouseMessage);
// The host moved one of our windows (a window manager, a pager): the
// window's rectangle follows and it is sent WM_MOVE.
void WindowMovedByHost(HWND hwnd, LONG x, LONG y);
// Posts a message to every top-level window of ours (WM_DISPLAYCHANGE,
// WM_SETTINGCHANGE), as the system broadcasts them.
void PostToTopLevelWindows(UINT msg, WPARAM wParam, LPARAM lParam);
bool HasForegroundHook();
// How many pixels of the window's picture one of its coordinates spans (a
// HiDPI output's buffer scale, 1 to 8): the picture is made again at the
// new size, all of it invalid, and a window made already is posted
// WM_DPICHANGED.
void SetWindowScale(HWND hwnd, int scale);

} // namespace portable
