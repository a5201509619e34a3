// The host behind the portable Win32 subset (the interface every driver
// implements; what a driver calls in the portable layer is in host.h). The
// portable layer keeps the windows, the message queue, timers, GDI objects and
// the registry itself; what only the host knows (other applications' windows,
// the pointer, the system's key state, input injection, the tray, translucency,
// menus shown on screen, the clock) goes through this interface.
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
  // Called before a paint or a timer is taken: hands the program input the
  // host has already read (nothing is read, nothing is waited for), as
  // Windows takes input messages before WM_PAINT and WM_TIMER; true when
  // something was handed over.
  virtual bool DeliverReadInput() { return false; }
  // Timers fall due on multiples of this many milliseconds, so that timers
  // of different periods wake the program together (1: exactly).
  virtual uint64_t TimerGranularity() { return 1; }

  virtual void ScreenSize(int *width, int *height) = 0;
  virtual bool WorkArea(RECT *area) = 0;
  // One monitor: its rectangle on the screen and its work area (the
  // rectangle less panels and docks).
  struct Monitor {
    RECT rect = {0, 0, 0, 0};
    RECT work = {0, 0, 0, 0};
  };
  // The pixels per inch the desktop asks programs to draw at (96: no
  // scaling).
  virtual int Dpi() { return 96; }
  // The monitors, the primary first; by default one, the screen with the
  // work area.
  virtual std::vector<Monitor> Monitors();
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
  // Whether the window's picture can be drawn on now. A host whose
  // compositor may still read every buffer the picture could be drawn in
  // says no: the paint waits, its area still invalid, until the host has
  // read that one was let go (rather than the picture being moved into
  // memory of its own, to be copied back).
  virtual bool ReadyToPaint(HWND) { return true; }
  // A window DC is about to draw on the window's picture (once for each
  // DC, before its first drawing): pixels lent to the picture that the
  // compositor may still be reading are exchanged for others first.
  virtual void BeforeDraw(HWND) {}
  // The window's pixels changed inside `dirty` (a paint or a window DC
  // released).
  virtual void Present(HWND, const Bitmap &, const RECT & /*dirty*/) {}
  // A host that keeps what its windows show itself (an X server) can take
  // a paint's copy of a picture of the program's (the back buffer) straight
  // from that picture: `to` (window pixels, inside the window) shows
  // `source` from its pixel (sx, sy) on, every one of which is there. True
  // when it went to the screen so; the window's own picture is then not
  // drawn.
  virtual bool PresentFrom(HWND, const Bitmap & /*source*/, int /*sx*/,
                           int /*sy*/, const RECT & /*to*/) {
    return false;
  }
  // Whether a window's own picture is made only when something is drawn on
  // it, rather than with the window (a host whose PresentFrom takes the
  // paints: its windows then keep no second picture of the keyboard). Such
  // a picture holds only what was drawn on it, not what a copy taken by
  // PresentFrom showed: the program's paints only copy its back buffer.
  virtual bool PicturesOnDemand() { return false; }
};

void SetDriver(Driver *driver);
Driver *GetDriver();

} // namespace portable
