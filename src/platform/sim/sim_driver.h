// The simulated desktop: a screen with a work area and a taskbar, other
// applications' windows, a pointer, a virtual clock, the system's key state
// and a log of everything the program does to the desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/portable/driver.h"

namespace sim {

struct KeyEvent {
  BYTE vk;
  BYTE scan;
  DWORD flags;
};

class SimDriver : public portable::Driver {
public:
  explicit SimDriver(std::ostream &log);
  ~SimDriver() override;
  // Becomes the portable layer's host and puts the taskbar on the screen.
  void Install();

  // What Wait() does when the program has nothing left to do: run the next
  // scenario command. Returns false at the end of the scenario.
  std::function<bool()> onIdle;

  // Scenario controls.
  void SetScreen(int width, int height);
  void SetDpi(int dpi) { dpi_ = dpi; }
  // The keyboard's pixels per coordinate, as a HiDPI output scales it.
  void SetScale(int scale) { scale_ = scale; }
  void SetWorkArea(const RECT &area) {
    workArea_ = area, workAreaFails_ = false;
  }
  void FailWorkArea() { workAreaFails_ = true; }
  // Monitors of their own (none: one, the screen with the work area).
  void AddMonitor(const Monitor &monitor) { monitors_.push_back(monitor); }
  bool RemoveMonitor(size_t index);
  void SetLayeredAvailable(bool available) { layered_ = available; }
  void FailTray() { trayFails_ = true; }
  // The host stops telling of foreground changes and key events (as a
  // desktop without them): the program's hooks cannot be installed.
  void DisableHooks() { hooks_ = false; }
  // Key events reported only when they change Shift, Caps Lock or Kana, as
  // the Linux hosts report them (from the server's or compositor's state).
  void ReportChangesOnly() { changesOnly_ = true; }
  // The hooks install, but a new foreground window is never announced (as
  // under Wine): the program notices it only by looking.
  void SilenceForeground() { foregroundSilent_ = true; }
  // The notification area goes away with its icons, or comes back.
  void TrayGone();
  // Another Flinto's owner window on the desktop; what is posted to it is
  // logged.
  void AddOtherInstance();
  HWND FindForeignWindow(const std::string &className) override;
  bool PostForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  void TrayBack();
  HWND App(const std::string &name); // creates if new, brings to front
  bool CloseApp(const std::string &name);
  void SetPhysicalShift(bool down);
  void SetPhysicalToggle(int vk, bool on);
  void MovePointer(POINT p);
  // Button presses and releases at the pointer, as the system routes them.
  void Button(bool left, bool down);
  void AdvanceClock(uint64_t ms) { target_ = now_ + ms; }
  void SetMenuChoice(UINT choice) { menuChoice_ = choice; }
  bool TrayNotify(UINT mouseMessage);

  std::string NameOf(HWND hwnd) const;
  POINT pointer() const { return pointer_; }
  const std::vector<KeyEvent> &events() const { return events_; }
  std::vector<int> KeysDown() const;
  // Key-ups sent for keys that were not down.
  int StrayReleases() const { return strayReleases_; }
  bool trayAdded() const { return trayAdded_; }

  // portable::Driver
  uint64_t Now() override { return now_; }
  bool ReportsForeground() override { return hooks_; }
  bool ReportsKeys() override { return hooks_; }
  void Wait(uint64_t deadline) override;
  void ScreenSize(int *width, int *height) override;
  bool WorkArea(RECT *area) override;
  std::vector<Monitor> Monitors() override;
  int Dpi() override { return dpi_; }
  POINT CursorPos() override { return pointer_; }
  HWND ForeignWindowAt(POINT point) override;
  HWND Foreground() override { return foreground_; }
  bool SetForeground(HWND hwnd) override;
  void InjectKey(BYTE vk, BYTE scan, DWORD flags) override;
  SHORT AsyncKeyState(int vk) override;
  SHORT KeyState(int vk) override;
  bool Tray(DWORD message, const NOTIFYICONDATAA &data) override;
  bool LayeredAvailable() override { return layered_; }
  bool SetAlpha(HWND hwnd, BYTE alpha) override;
  UINT TrackMenu(const std::vector<portable::MenuItem> &items, int x, int y,
                 HWND owner) override;
  void WindowCreated(HWND hwnd) override;
  void WindowDestroyed(HWND hwnd) override;
  void WindowShown(HWND hwnd, bool visible) override;
  void WindowMoved(HWND hwnd, const RECT &rect) override;
  void WindowExStyle(HWND hwnd, LONG before, LONG after) override;

private:
  bool IsKeyboard(HWND hwnd) const;

  std::ostream &log_;
  uint64_t now_ = 0;
  uint64_t target_ = 0;
  bool ended_ = false;
  int screenW_ = 1280, screenH_ = 800;
  RECT workArea_ = {0, 0, 1280, 760};
  std::vector<Monitor> monitors_;
  int dpi_ = 96;
  int scale_ = 1;
  bool workAreaFails_ = false;
  bool layered_ = true;
  bool trayFails_ = false;
  bool hooks_ = true;
  bool changesOnly_ = false;
  bool foregroundSilent_ = false;
  bool trayPresent_ = true;
  HWND otherInstance_ = nullptr;
  bool trayAdded_ = false;
  HWND trayOwner_ = nullptr;
  UINT trayId_ = 0;
  HWND taskbar_ = nullptr;
  std::map<std::string, HWND> apps_;
  std::vector<HWND> zorder_; // applications, front first
  HWND foreground_ = nullptr;
  POINT pointer_ = {0, 0};
  UINT menuChoice_ = 0;
  std::set<int> down_;
  int strayReleases_ = 0;
  bool physicalShift_ = false;
  std::map<int, bool> toggles_; // VK_CAPITAL, VK_KANA
  std::vector<KeyEvent> events_;
  std::map<HWND, bool> keyboards_; // keyboard windows and their visibility
  RECT lastKeyboardRect_ = {0, 0, 0, 0};
  bool keyboardRectKnown_ = false;
};

} // namespace sim
