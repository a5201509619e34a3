// The X11 host: Flinto's windows are X windows, key events are injected with
// XTest, the modifier state comes from XKB, the foreground from EWMH, and
// the tray icon docks by XEmbed.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/key_policy.h"
#include "platform/portable/driver.h"

struct FlintoKeyPath;
struct FlintoKeyPathApi;

namespace x11 {

class PopupMenu;
struct Strut;

class X11Driver : public portable::Driver {
public:
  // Connects to the display (null: $DISPLAY). Null with `error` set when
  // there is no display or a required extension is missing.
  static std::unique_ptr<X11Driver> Open(const char *name, std::string *error);
  ~X11Driver() override;

  // Asked to end (SIGTERM, SIGINT, SIGHUP): the program's own exit path.
  std::function<void()> onTerminate;
  // The connection to the server is gone: last words before the exit.
  std::function<void()> onConnectionLost;

  Display *display() const { return dpy_; }
  ::Window XidOf(HWND hwnd) const;

  // portable::Driver
  uint64_t Now() override;
  void Wait(uint64_t deadline) override;
  bool DeliverReadInput() override;
  // The 50 ms and 100 ms timers then wake the program together.
  uint64_t TimerGranularity() override { return 50; }
  void ScreenSize(int *width, int *height) override;
  bool WorkArea(RECT *area) override;
  std::vector<Monitor> Monitors() override;
  int Dpi() override;
  POINT CursorPos() override { return pointer_; }
  HWND ForeignWindowAt(POINT) override { return nullptr; }
  HWND WindowAt(POINT point) override;
  HWND Foreground() override;
  bool ReportsForeground() override { return wmPresent_; }
  bool ReportsKeys() override { return true; }
  HWND FindForeignWindow(const std::string &className) override;
  bool PostForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool SetForeground(HWND hwnd) override;
  void InjectKey(BYTE vk, BYTE scan, DWORD flags) override;
  SHORT AsyncKeyState(int vk) override;
  SHORT KeyState(int vk) override;
  bool Tray(DWORD message, const NOTIFYICONDATAA &data) override;
  bool LayeredAvailable() override { return compositor_; }
  bool SetAlpha(HWND hwnd, BYTE alpha) override;
  UINT TrackMenu(const std::vector<portable::MenuItem> &items, int x, int y,
                 HWND owner) override;
  void WindowCreated(HWND hwnd) override;
  void WindowDestroyed(HWND hwnd) override;
  void WindowShown(HWND hwnd, bool visible) override;
  void WindowMoved(HWND hwnd, const RECT &rect) override;
  void WindowTitle(HWND hwnd, const std::string &title) override;
  void WindowExStyle(HWND hwnd, LONG before, LONG after) override;
  void CaptureChanged(HWND holder) override;
  void Present(HWND hwnd, const portable::Bitmap &surface,
               const RECT &dirty) override;
  bool PresentFrom(HWND hwnd, const portable::Bitmap &source, int sx, int sy,
                   const RECT &to) override;
  bool PicturesOnDemand() override { return true; }

  // For the popup menu: waits for events until `deadline`, handing those of
  // `window` to `handler` and the rest to the usual handling.
  void PumpEvents(uint64_t deadline, ::Window window,
                  const std::function<void(XEvent &)> &handler);
  void PutPixels(::Window window, const uint32_t *pixels, int width, int height,
                 int stride, int x, int y, int w, int h);
  Time lastEventTime() const { return lastTime_; }

  // Chooses the way keys go (XTest, or the compositor's when the Wayland
  // host refused the compositor, or as FLINTO_INJECT says); says which in
  // `line` when it is XTest by choice, else when the compositor's way is
  // opened, with the program's first window; false, with the reason in
  // `line`, when FLINTO_INJECT is wrong.
  bool ChooseKeyPath(bool compositorRefused, std::string *line);
  ::Atom atom(const char *name);
  // A property of 32-bit items (as longs), empty when it cannot be read.
  std::vector<long> Property(::Window window, const char *name, ::Atom type,
                             long offset, long count);

private:
  X11Driver() = default;
  bool Init(const char *name, std::string *error);
  void Handle(XEvent &event);
  void HandleTrayEvent(XEvent &event);
  void HandleXkb(XEvent &event);
  void ReadActiveWindow();
  void ReadWorkArea();
  long CurrentDesktop();
  void WatchMonitors();
  bool HandleRandr(XEvent &event);
  void StrutsMayHaveChanged();
  void ReadMonitors();
  std::vector<Strut> ReadStruts(long width, long height);
  void ReadKeyboardMap();
  // The compositor's way, if chosen: opened once, and said.
  void OpenKeyPath();
  // Once, before the first key is sent or when the program first waits
  // (after its first picture went out), whichever comes first.
  void PrepareKeys();
  void StopServerRepeat();
  HWND HwndForXid(::Window xid);
  void PlaceKeyboard(::Window keyboard);
  bool FramesClient(::Window frame);
  void Dock();
  void DrawTrayIcon();
  void SendNetWmState(::Window xid);
  void SetOpacity(::Window xid, uint32_t value, bool remove);
  void SetUtf8Title(::Window xid, const std::string &cp932);
  // The last X error since the previous call (0: none), for calls whose
  // failure decides what to do next.
  int TakeXError();
  std::string InstanceSelection() const;
  void InternAtoms();
  bool IsFlintoOwner(::Window xid);
  void SelectionLost(const XSelectionClearEvent &event);
  void WindowTakenAway(::Window xid);
  void MakeTrayIcon();
  // A 32-bit client message of `type` about window `about`, sent to
  // `destination` with the event mask.
  bool SendClientMessage(::Window destination, ::Window about, const char *type,
                         std::initializer_list<long> data, long mask);
  bool KeyRepeats(unsigned keycode) const;
  void RestoreServerRepeat();
  void RecoverFromKilledInstance();

public:
  // The connection is lost: on a new one, if the server is still there,
  // the keys held down are let go and the repeat turned off is restored,
  // as the next start would.
  void LetGoAfterLoss();

private:
  void SetKeyRepeat(unsigned keycode, bool on);
  // The compositor's way of typing (x11_key_path.cpp).
  void ProcessKeyPath();
  void FallBackToXTest();
  void DropKeyPath();
  void ShowKeyPathState();
  bool KeysWaitForGrant() const;
  void SendKeyEvent(unsigned keycode, bool down);
  int CompositorLocks(); // -1: keys go by XTest
  linuxhost::LetGo HeldKeysDue();
  uint64_t NextLetGo(); // UINT64_MAX: no held key is due
  void LetGoHeldKeys();
  void PublishNoRepeatKeys();
  void ReadWindowManager();
  void TrayLost();

  Display *dpy_ = nullptr;
  std::string displayName_;
  int screen_ = 0;
  ::Window root_ = 0;
  Visual *visual_ = nullptr;
  int depth_ = 0;
  bool directPixels_ = false; // the visual takes our 32-bit pixels as they are
  GC gc_ = nullptr;
  int xkbEvent_ = 0;
  bool wmPresent_ = false;
  bool compositor_ = false;
  int signalFd_ = -1; // readable when SIGTERM, SIGINT or SIGHUP came

  std::map<HWND, ::Window> own_;
  std::map<::Window, HWND> ownByXid_;
  std::map<::Window, HWND> foreign_;
  std::map<HWND, ::Window> foreignXid_;

  HWND foreground_ = nullptr;
  RECT workArea_ = {0, 0, 0, 0};
  bool workAreaKnown_ = false;
  bool randr_ = false; // RandR 1.5: monitors
  int randrEvent_ = 0;
  std::vector<Monitor> monitors_;
  // A paint's rows, made into the server's pixels (PresentFrom).
  std::vector<uint32_t> strip_;
  bool monitorsStale_ = true;
  std::string gtkWorkAreas_ = "_GTK_WORKAREAS_D0"; // the current desktop's
  POINT pointer_ = {0, 0};
  HWND pointerIn_ = nullptr; // our window the pointer is in, by Enter/Leave
  Time lastTime_ = CurrentTime;

  unsigned xkbMods_ = 0;
  unsigned xkbLocked_ = 0;
  unsigned xkbGroup_ = 0;  // the effective group (layout)
  int kanaIndicator_ = -1; // index of the keymap's "Kana" indicator
  bool kanaIndicatorOn_ = false;
  bool kanaGroup_[4] = {};  // the letter keys type kana in the group
  std::set<unsigned> held_; // keycodes we hold down
  unsigned char perKeyRepeat_[32] = {};
  unsigned numLockMask_ = 0;
  std::set<unsigned> numLockedFor_; // pad keys down with NumLock locked
  std::set<unsigned> noRepeat_;     // keys whose core repeat we turned off
  unsigned repeatDelay_ = 660;      // the core keyboard's, in ms
  std::set<::Window> keyboards_;    // our keyboard windows, kept on top
  bool menuOpen_ = false;
  bool restackWanted_ = false; // the stack changed: PlaceKeyboard after
  int screenWidth_ = 0, screenHeight_ = 0;
  ::Window wmCheck_ = 0;
  bool focusLookDue_ = false;
  bool keysPrepared_ = false; // StopServerRepeat done
  int xtestKeyboard_ = -1;
  bool xtestRepeated_ = false;

  // Keys through the compositor (null: by XTest).
  const FlintoKeyPathApi *keyPathApi_ = nullptr;
  FlintoKeyPath *keyPath_ = nullptr;
  bool keyPathWanted_ = false; // to be opened with the first window
  std::string keyPathForced_;  // FLINTO_INJECT's kind, if it names one
  std::string keyPathKind_;
  int keyPathState_ = 0;
  int ownLocks_ = 0;       // the locks as Flinto's presses left them
  int reportedLocks_ = -1; // the compositor's, as last reported
  std::map<unsigned, uint64_t> pressedAt_; // repeating keys held, since
  std::set<unsigned> releasedEarly_;       // held keys let go already

  // Tray icon.
  ::Window trayWindow_ = 0;
  ::Window trayManager_ = 0;
  bool trayIconOnRoot_ = true; // not embedded in a tray
  std::string trayTip_;
  Time lastTrayPress_ = 0;
  int trayWidth_ = 22, trayHeight_ = 22;
  HWND trayClickForeground_ = nullptr; // in front when the tray was clicked
  uint64_t trayClickTime_ = 0;

  std::map<std::string, ::Atom> atoms_;
};

// The X keycode of the physical key of a JIS 106/109 keyboard for a
// virtual-key code (0 when there is none); `scan` tells the right Shift.
unsigned KeycodeForVirtualKey(unsigned vk, unsigned scan, DWORD flags);

} // namespace x11
