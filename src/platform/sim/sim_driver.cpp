#include "platform/sim/sim_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/portable/host.h"
#include "platform/resources/context_menu.h"

namespace sim {

namespace {

std::string Hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%02x", value);
  return buffer;
}

bool Inside(const RECT &r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

const char *kAppClass = "SimApplication";

constexpr BYTE kRightShiftScan = 0x36;

// The physical key an injected event stands for: the right Shift by its
// scan code, the right Ctrl and Alt by the extended flag (0x110 to 0x112),
// every other key by its virtual-key code.
int PhysicalKey(BYTE vk, BYTE scan, DWORD flags) {
  if (vk == VK_SHIFT && scan == kRightShiftScan)
    return 0x110;
  if ((vk == VK_CONTROL || vk == VK_MENU) && (flags & KEYEVENTF_EXTENDEDKEY))
    return 0x100 | vk;
  return vk;
}

} // namespace

SimDriver::SimDriver(std::ostream &log) : log_(log) {}

void SimDriver::Install() {
  portable::SetDriver(this);
  taskbar_ = portable::RegisterForeignWindow(
      "Shell_TrayWnd", "", RECT{0, screenH_ - 40, screenW_, screenH_});
}

SimDriver::~SimDriver() = default;

void SimDriver::SetScreen(int width, int height) {
  screenW_ = width;
  screenH_ = height;
  portable::SetForeignWindowRect(taskbar_, RECT{0, height - 40, width, height});
}

HWND SimDriver::App(const std::string &name) {
  HWND hwnd;
  auto it = apps_.find(name);
  if (it == apps_.end()) {
    hwnd = portable::RegisterForeignWindow(kAppClass, name, workArea_);
    apps_[name] = hwnd;
  } else {
    hwnd = it->second;
  }
  SetForeground(hwnd);
  return hwnd;
}

bool SimDriver::CloseApp(const std::string &name) {
  auto it = apps_.find(name);
  if (it == apps_.end())
    return false;
  HWND hwnd = it->second;
  apps_.erase(it);
  zorder_.erase(std::remove(zorder_.begin(), zorder_.end(), hwnd),
                zorder_.end());
  portable::ForgetForeignWindow(hwnd);
  if (foreground_ == hwnd) {
    foreground_ = nullptr;
    log_ << "foreground none\n";
    if (hooks_ && !foregroundSilent_)
      portable::ForegroundChanged(nullptr);
  }
  return true;
}

void SimDriver::MovePointer(POINT p) {
  pointer_ = p;
  portable::DeliverPointer(WM_MOUSEMOVE, p);
}

void SimDriver::Button(bool left, bool down) {
  const UINT msg = left ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP)
                        : (down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
  HWND own = portable::DeliverPointer(msg, pointer_);
  if (own == nullptr && down) {
    // A press on another application activates it.
    HWND other = ForeignWindowAt(pointer_);
    if (other != nullptr && other != taskbar_)
      SetForeground(other);
  }
}

bool SimDriver::TrayNotify(UINT mouseMessage) {
  if (!trayAdded_)
    return false;
  // Clicking the notification area puts the taskbar in front.
  SetForeground(taskbar_);
  portable::TrayClicked(mouseMessage);
  return true;
}

std::string SimDriver::NameOf(HWND hwnd) const {
  if (hwnd == nullptr)
    return "none";
  if (hwnd == taskbar_)
    return "taskbar";
  for (const auto &[name, app] : apps_)
    if (app == hwnd)
      return name;
  const std::string *cls = portable::WindowClassName(hwnd);
  if (cls != nullptr && *cls == "FlintoFrame")
    return "keyboard";
  if (cls != nullptr && *cls == "FlintoHidden")
    return "owner";
  return "unknown";
}

std::vector<int> SimDriver::KeysDown() const {
  return std::vector<int>(down_.begin(), down_.end());
}

void SimDriver::Wait(uint64_t deadline) {
  if (target_ > now_) {
    now_ = std::min(deadline, target_);
    return;
  }
  if (ended_ || !onIdle || !onIdle()) {
    ended_ = true;
    // Nothing more will come; the program would wait forever.
    PostQuitMessage(0);
  }
}

void SimDriver::ScreenSize(int *width, int *height) {
  *width = screenW_;
  *height = screenH_;
}

bool SimDriver::WorkArea(RECT *area) {
  if (workAreaFails_)
    return false;
  *area = workArea_;
  return true;
}

std::vector<portable::Driver::Monitor> SimDriver::Monitors() {
  return monitors_.empty() ? Driver::Monitors() : monitors_;
}

bool SimDriver::RemoveMonitor(size_t index) {
  if (index >= monitors_.size())
    return false;
  monitors_.erase(monitors_.begin() + long(index));
  return true;
}

HWND SimDriver::ForeignWindowAt(POINT point) {
  RECT taskbarRect;
  GetWindowRect(taskbar_, &taskbarRect);
  if (Inside(taskbarRect, point))
    return taskbar_;
  for (HWND app : zorder_) {
    RECT r;
    if (GetWindowRect(app, &r) && Inside(r, point))
      return app;
  }
  return nullptr;
}

bool SimDriver::SetForeground(HWND hwnd) {
  if (hwnd != nullptr && !IsWindow(hwnd))
    return false;
  if (hwnd != nullptr && !portable::IsOwnWindow(hwnd) && hwnd != taskbar_) {
    zorder_.erase(std::remove(zorder_.begin(), zorder_.end(), hwnd),
                  zorder_.end());
    zorder_.insert(zorder_.begin(), hwnd);
  }
  if (hwnd != foreground_) {
    foreground_ = hwnd;
    log_ << "foreground " << NameOf(hwnd) << "\n";
    if (hooks_ && !foregroundSilent_)
      portable::ForegroundChanged(hwnd);
  }
  return true;
}

void SimDriver::InjectKey(BYTE vk, BYTE scan, DWORD flags) {
  const bool up = (flags & KEYEVENTF_KEYUP) != 0;
  events_.push_back(KeyEvent{vk, scan, flags});
  log_ << "key " << Hex(vk) << (up ? " up" : " down") << " scan=" << Hex(scan)
       << " flags=" << flags << "\n";
  const int key = PhysicalKey(vk, scan, flags);
  if (up) {
    if (down_.erase(key) == 0)
      ++strayReleases_;
  } else {
    if (!down_.count(key) && (vk == VK_CAPITAL || vk == VK_KANA))
      toggles_[vk] = !toggles_[vk];
    down_.insert(key);
  }
  const bool changes = vk == VK_SHIFT || vk == VK_CAPITAL || vk == VK_KANA;
  if (hooks_ && (changes || !changesOnly_))
    portable::KeyEventSeen(vk, scan,
                           LLKHF_INJECTED | (up ? LLKHF_UP : 0) |
                               ((flags & KEYEVENTF_EXTENDEDKEY) ? 1 : 0));
}

void SimDriver::SetPhysicalShift(bool down) {
  if (physicalShift_ == down)
    return;
  physicalShift_ = down;
  if (hooks_)
    portable::KeyEventSeen(VK_SHIFT, 0x2A, down ? 0 : LLKHF_UP);
}

void SimDriver::SetPhysicalToggle(int vk, bool on) {
  if (toggles_[vk] == on)
    return;
  toggles_[vk] = on;
  // The user pressed and released the key.
  if (hooks_) {
    portable::KeyEventSeen(BYTE(vk), 0, 0);
    portable::KeyEventSeen(BYTE(vk), 0, LLKHF_UP);
  }
}

void SimDriver::TrayGone() {
  trayPresent_ = false;
  if (!trayAdded_)
    return;
  trayAdded_ = false;
  log_ << "tray gone\n";
  portable::TrayGone();
}

void SimDriver::AddOtherInstance() {
  otherInstance_ =
      portable::RegisterForeignWindow("FlintoHidden", "", RECT{0, 0, 0, 0});
}

HWND SimDriver::FindForeignWindow(const std::string &className) {
  return className == "FlintoHidden" ? otherInstance_ : nullptr;
}

bool SimDriver::PostForeign(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (hwnd != otherInstance_ || hwnd == nullptr)
    return false;
  log_ << "posted " << msg << " to the other Flinto\n";
  return true;
}

void SimDriver::TrayBack() {
  trayPresent_ = true;
  portable::TrayCreated();
}

SHORT SimDriver::AsyncKeyState(int vk) {
  bool down = down_.count(vk) != 0;
  if (vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU)
    down = down || down_.count(0x100 | vk) != 0;
  if (vk == VK_SHIFT && physicalShift_)
    down = true;
  return down ? SHORT(0x8000) : SHORT(0);
}

SHORT SimDriver::KeyState(int vk) {
  SHORT state = AsyncKeyState(vk);
  auto it = toggles_.find(vk);
  if (it != toggles_.end() && it->second)
    state = SHORT(state | 1);
  return state;
}

bool SimDriver::Tray(DWORD message, const NOTIFYICONDATAA &data) {
  if (message == NIM_MODIFY)
    return trayAdded_ && data.hWnd == trayOwner_ && data.uID == trayId_;
  if (message == NIM_ADD) {
    if (trayFails_ || trayAdded_ || !trayPresent_) {
      log_ << "tray add failed\n";
      return false;
    }
    trayAdded_ = true;
    trayOwner_ = data.hWnd;
    trayId_ = data.uID;
    log_ << "tray add\n";
    return true;
  }
  if (message == NIM_DELETE) {
    if (!trayAdded_ || data.hWnd != trayOwner_ || data.uID != trayId_) {
      log_ << "tray delete failed\n";
      return false;
    }
    trayAdded_ = false;
    log_ << "tray delete\n";
    return true;
  }
  return false;
}

bool SimDriver::SetAlpha(HWND, BYTE alpha) {
  if (!layered_)
    return false;
  log_ << "alpha " << unsigned(alpha) << "\n";
  return true;
}

UINT SimDriver::TrackMenu(const std::vector<portable::MenuItem> &items, int,
                          int, HWND) {
  log_ << "menu";
  for (const portable::MenuItem &item : items) {
    if (item.separator)
      continue;
    std::string state;
    if (item.state & MF_GRAYED)
      state = "grayed";
    if (item.state & MF_CHECKED)
      state += state.empty() ? "checked" : ",checked";
    if (state.empty())
      continue;
    const char *name = "?";
    for (const ContextMenuItem &described : kContextMenuItems)
      if (described.id == item.id && described.name != nullptr)
        name = described.name;
    log_ << " " << name << "=" << state;
  }
  log_ << "\n";
  const UINT choice = menuChoice_;
  menuChoice_ = 0;
  for (const portable::MenuItem &item : items)
    if (!item.separator && item.id == choice &&
        !(item.state & (MF_GRAYED | MF_DISABLED)))
      return choice;
  return 0;
}

bool SimDriver::IsKeyboard(HWND hwnd) const {
  const std::string *cls = portable::WindowClassName(hwnd);
  return cls != nullptr && *cls == "FlintoFrame";
}

void SimDriver::WindowCreated(HWND hwnd) {
  if (!IsKeyboard(hwnd))
    return;
  if (!keyboards_.empty())
    log_ << "recreate\n";
  keyboards_[hwnd] = false;
  portable::SetWindowScale(hwnd, scale_);
}

void SimDriver::WindowDestroyed(HWND hwnd) {
  auto it = keyboards_.find(hwnd);
  if (it == keyboards_.end())
    return;
  const bool wasShown = it->second;
  keyboards_.erase(it);
  bool stillShown = false;
  for (const auto &[h, shown] : keyboards_)
    stillShown = stillShown || shown;
  // Destroyed while shown, and not replaced by a shown window: it vanished.
  if (wasShown && !stillShown)
    log_ << "hide\n";
}

void SimDriver::WindowShown(HWND hwnd, bool visible) {
  if (!IsKeyboard(hwnd))
    return;
  bool wasShown = false;
  for (const auto &[h, shown] : keyboards_)
    wasShown = wasShown || shown;
  keyboards_[hwnd] = visible;
  bool nowShown = false;
  for (const auto &[h, shown] : keyboards_)
    nowShown = nowShown || shown;
  // A replacement shown before the old window goes is no change to see.
  if (wasShown != nowShown)
    log_ << (visible ? "show" : "hide") << "\n";
}

void SimDriver::WindowMoved(HWND hwnd, const RECT &rect) {
  if (!IsKeyboard(hwnd))
    return;
  if (rect.right - rect.left == 0 && rect.bottom - rect.top == 0)
    return; // just created, not yet sized
  if (keyboardRectKnown_ &&
      std::memcmp(&rect, &lastKeyboardRect_, sizeof rect) == 0)
    return;
  keyboardRectKnown_ = true;
  lastKeyboardRect_ = rect;
  log_ << "window " << rect.left << " " << rect.top << " "
       << rect.right - rect.left << " " << rect.bottom - rect.top << "\n";
}

void SimDriver::WindowExStyle(HWND hwnd, LONG before, LONG after) {
  if (IsKeyboard(hwnd) && (before & WS_EX_LAYERED) && !(after & WS_EX_LAYERED))
    log_ << "opaque\n";
}

} // namespace sim
