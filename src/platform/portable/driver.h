// The host behind the portable Win32 subset. The portable layer keeps the
// windows, the message queue, timers, GDI objects and the registry itself;
// what only the host knows (other applications' windows, the pointer, the
// system's key state, input injection, the tray, translucency, menus shown on
// screen, the clock) goes through this interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/portable/win32_subset.h"

namespace portable {

struct Bitmap;

struct MenuItem {
  UINT id = 0; // 0 for a separator
  std::string text;
  UINT state = 0; // MF_GRAYED, MF_CHECKED
  bool separator = false;
};

class Driver {
public:
  virtual ~Driver() = default;

  // Milliseconds on a monotonic clock.
  virtual uint64_t Now() = 0;
  // Called when no message is queued and no timer is due: waits for input or
  // until `deadline` (on Now()'s clock; UINT64_MAX for none).
  virtual void Wait(uint64_t deadline) = 0;
  // Called between messages taken from the queue: reads and handles what
  // the host has for the program without waiting, so that a long run of
  // queued messages does not leave the host's connection unread.
  virtual void Poll() {}
  // Timers fall due on multiples of this many milliseconds, so that timers
  // of different periods wake the program together (1: exactly).
  virtual uint64_t TimerGranularity() { return 1; }

  virtual void ScreenSize(int *width, int *height) = 0;
  virtual bool WorkArea(RECT *area) = 0;
  virtual POINT CursorPos() = 0;
  // A window of another application under the point, or null.
  virtual HWND ForeignWindowAt(POINT point) = 0;
  // The window under the point: by default our own topmost window there,
  // else ForeignWindowAt.
  virtual HWND WindowAt(POINT point);

  virtual HWND Foreground() = 0;
  // Whether the host tells the portable layer of every change of the
  // foreground window (ForegroundChanged), so that foreground hooks work.
  virtual bool ReportsForeground() { return false; }
  // Whether the host reports key events as they happen (KeyEventSeen), so
  // that low-level keyboard hooks work.
  virtual bool ReportsKeys() { return false; }
  // Another program's window of the class, when the host can find one on
  // the desktop (FindWindowA looks here after our own windows), and posting
  // a private message (WM_USER to 0x7FFF) to such a window.
  virtual HWND FindForeignWindow(const std::string & /*className*/) {
    return nullptr;
  }
  virtual bool PostForeign(HWND, UINT, WPARAM, LPARAM) { return false; }
  virtual bool SetForeground(HWND hwnd) = 0;

  virtual void InjectKey(BYTE vk, BYTE scan, DWORD flags) = 0;
  virtual SHORT AsyncKeyState(int vk) = 0;
  virtual SHORT KeyState(int vk) = 0;

  virtual bool Tray(DWORD message, const NOTIFYICONDATAA &data) = 0;
  virtual bool LayeredAvailable() = 0;
  virtual bool SetAlpha(HWND hwnd, BYTE alpha) = 0;
  // Shows a popup menu and returns the chosen command id, 0 for none.
  virtual UINT TrackMenu(const std::vector<MenuItem> &items, int x, int y,
                         HWND owner) = 0;

  // Notifications about this program's own windows.
  virtual void WindowCreated(HWND) {}
  virtual void WindowDestroyed(HWND) {}
  virtual void WindowShown(HWND, bool /*visible*/) {}
  virtual void WindowMoved(HWND, const RECT &) {}
  virtual void WindowTitle(HWND, const std::string &) {}
  virtual void WindowExStyle(HWND, LONG /*before*/, LONG /*after*/) {}
  virtual void CaptureChanged(HWND /*holder*/) {}
  // The window's pixels changed inside `dirty` (a paint or a window DC
  // released).
  virtual void Present(HWND, const Bitmap &, const RECT & /*dirty*/) {}
};

void SetDriver(Driver *driver);
Driver *GetDriver();

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
// The host moved one of our windows (a window manager, a pager): the
// window's rectangle follows and it is sent WM_MOVE.
void WindowMovedByHost(HWND hwnd, LONG x, LONG y);
// Posts a message to every top-level window of ours (WM_DISPLAYCHANGE,
// WM_SETTINGCHANGE), as the system broadcasts them.
void PostToTopLevelWindows(UINT msg, WPARAM wParam, LPARAM lParam);
bool HasForegroundHook();
// How many timer messages the program has taken so far, and whether a
// timer runs (what a power monitor sees).
uint64_t TimerMessageCount();
bool TimerRunning(HWND hwnd, UINT_PTR id);
bool HasKeyboardHook();

// Drops every window, timer, message and GDI object (between test runs).
void ResetAll();

} // namespace portable
