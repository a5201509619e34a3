// Windows, classes, capture, foreground, hooks, the tray, menus, modules and
// keyboard calls of the portable Win32 subset (the message queue and timers
// are in message_loop.cpp).
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/portable/internal.h"
#include "platform/resources/context_menu.h"
#include "platform/resources/resource_ids.h"

namespace portable {

namespace {

Driver *driver = nullptr;
uintptr_t handleCounter = 0x10000;

struct WindowClass {
  WNDCLASSEXA wc;
  std::string name;
};
std::map<std::string, WindowClass> classes;

HWND capture = nullptr;
uint64_t zCounter = 0;

HandleTable<Menu> menus;

std::map<std::string, UINT> registeredMessages;

struct KeyboardHook {
  HHOOK handle;
  HOOKPROC proc;
};
std::vector<KeyboardHook> keyboardHooks;
struct EventHook {
  HWINEVENTHOOK handle;
  WINEVENTPROC proc;
  DWORD flags;
};
std::vector<EventHook> eventHooks;
uintptr_t hookCounter = 0x5000;
std::vector<HWND> trayOwners; // windows that added a tray icon
// The icon shown now: who gets its clicks, as what.
struct TrayIcon {
  HWND owner = nullptr;
  UINT id = 0;
  UINT callback = 0;
};
TrayIcon trayIcon;

constexpr DWORD kOwnThreadId = 1;
constexpr DWORD kForeignThreadId = 2;
const uintptr_t kUser32Module = 0x7710000;

Window *AnyWindow(HWND hwnd) { return g_windows.Get(hwnd); }

void ResizeSurface(Window *w) {
  const int width = w->scale * std::max<LONG>(0, w->rect.right - w->rect.left);
  const int height = w->scale * std::max<LONG>(0, w->rect.bottom - w->rect.top);
  if (w->surface.width == width && w->surface.height == height)
    return;
  if (driver != nullptr && driver->PicturesOnDemand())
    w->surface.Describe(width, height, 32, false);
  else
    w->surface.Allocate(width, height, 32, false);
}

void DestroyOwnedWindows(HWND owner) {
  std::vector<HWND> owned;
  for (auto &[h, other] : g_windows.items())
    if (!other->foreign && other->owner == owner && !other->destroying)
      owned.push_back(other->handle);
  for (HWND o : owned)
    DestroyWindow(o);
}

} // namespace

HWND Driver::WindowAt(POINT point) {
  HWND own = OwnWindowAt(point);
  return own != nullptr ? own : ForeignWindowAt(point);
}

uintptr_t NextHandle() {
  handleCounter += 0x10;
  return handleCounter;
}

HandleTable<Window> g_windows;

void SetDriver(Driver *d) { driver = d; }
Driver *GetDriver() { return driver; }

Window *OwnWindow(HWND hwnd) {
  Window *w = g_windows.Get(hwnd);
  return (w != nullptr && !w->foreign) ? w : nullptr;
}

bool IsOwnWindow(HWND hwnd) { return OwnWindow(hwnd) != nullptr; }

const std::string *WindowClassName(HWND hwnd) {
  Window *w = AnyWindow(hwnd);
  return w != nullptr ? &w->className : nullptr;
}

HWND WindowOwner(HWND hwnd) {
  Window *w = AnyWindow(hwnd);
  return w != nullptr ? w->owner : nullptr;
}

void SetWindowScale(HWND hwnd, int scale) {
  Window *w = OwnWindow(hwnd);
  scale = std::clamp(scale, 1, 8);
  if (w == nullptr || w->scale == scale)
    return;
  // Until the window draws itself again its old picture stands in,
  // stretched to the new size.
  const Bitmap old = w->surface;
  const int oldScale = w->scale;
  w->scale = scale;
  ResizeSurface(w);
  const bool stands = old.HasPixels() && w->surface.HasPixels();
  for (int y = 0; stands && y < w->surface.height; ++y)
    for (int x = 0; x < w->surface.width; ++x) {
      const int ox = x * oldScale / scale, oy = y * oldScale / scale;
      if (old.Contains(ox, oy))
        w->surface.Set(x, y, old.Get(ox, oy));
    }
  InvalidateRect(hwnd, nullptr, FALSE);
  if (w->created)
    PostMessageA(hwnd, WM_DPICHANGED, MAKEWPARAM(96 * scale, 96 * scale), 0);
}

const Bitmap *WindowSurface(HWND hwnd) {
  Window *w = OwnWindow(hwnd);
  return w != nullptr ? &w->surface : nullptr;
}

bool LendWindowPixels(HWND hwnd, uint8_t *pixels, int width, int height) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || pixels == nullptr || w->surface.bpp != 32 ||
      w->surface.bottomUp || w->surface.width != width ||
      w->surface.height != height || w->surface.stride != width * 4)
    return false;
  w->surface.lent = pixels;
  decltype(w->surface.data)().swap(w->surface.data);
  return true;
}

void KeepWindowPixels(HWND hwnd) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || w->surface.lent == nullptr)
    return;
  Bitmap &b = w->surface;
  b.data.assign(b.lent, b.lent + size_t(b.stride) * size_t(b.height));
  b.lent = nullptr;
}

HWND RegisterForeignWindow(const std::string &className,
                           const std::string &title, const RECT &rect) {
  auto w = std::make_unique<Window>();
  w->foreign = true;
  w->className = className;
  w->title = title;
  w->rect = rect;
  w->visible = true;
  Window *raw = w.get();
  raw->handle = g_windows.Add<HWND>(std::move(w));
  return raw->handle;
}

void ForgetForeignWindow(HWND hwnd) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || !w->foreign)
    return;
  DestroyOwnedWindows(hwnd); // as the system does
  g_windows.Remove(hwnd);
}

void SetForeignWindowRect(HWND hwnd, const RECT &rect) {
  Window *w = AnyWindow(hwnd);
  if (w != nullptr && w->foreign)
    w->rect = rect;
}

HWND OwnWindowAt(POINT p) {
  Window *best = nullptr;
  for (auto &[h, w] : g_windows.items()) {
    if (w->foreign || !w->visible)
      continue;
    const RECT &r = w->rect;
    if (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom) {
      if (best == nullptr || StackRank(*w) > StackRank(*best))
        best = w.get();
    }
  }
  return best != nullptr ? best->handle : nullptr;
}

HWND DeliverPointer(UINT message, POINT screen) {
  HWND target = capture;
  if (target == nullptr)
    target = OwnWindowAt(screen);
  Window *w = OwnWindow(target);
  if (w == nullptr)
    return nullptr;
  const bool press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
                     message == WM_MBUTTONDOWN;
  if (press && driver != nullptr && driver->Foreground() != target) {
    const LRESULT r =
        SendMessageA(target, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(target),
                     MAKELPARAM(1, message));
    if (r == MA_ACTIVATE || r == 2 /* MA_ACTIVATEANDEAT */)
      SetForegroundWindow(target);
    if (r == 2 || r == 4 /* MA_NOACTIVATEANDEAT */)
      return target;
    w = OwnWindow(target);
    if (w == nullptr)
      return nullptr;
  }
  const LONG x = screen.x - w->rect.left;
  const LONG y = screen.y - w->rect.top;
  PostMessageA(target, message, 0, MAKELPARAM(x, y));
  return target;
}

bool HasForegroundHook() { return !eventHooks.empty(); }
bool HasKeyboardHook() { return !keyboardHooks.empty(); }

void ForegroundChanged(HWND hwnd) {
  const std::vector<EventHook> hooks = eventHooks; // a hook may unhook
  for (const EventHook &hook : hooks) {
    if ((hook.flags & WINEVENT_SKIPOWNPROCESS) && IsOwnWindow(hwnd))
      continue;
    const DWORD time = driver != nullptr ? DWORD(driver->Now()) : 0;
    hook.proc(hook.handle, EVENT_SYSTEM_FOREGROUND, hwnd, OBJID_WINDOW,
              CHILDID_SELF, 0, time);
  }
}

void KeyEventSeen(BYTE vk, BYTE scan, DWORD llFlags) {
  const std::vector<KeyboardHook> hooks = keyboardHooks;
  KBDLLHOOKSTRUCT info = {};
  info.vkCode = vk;
  info.scanCode = scan;
  info.flags = llFlags;
  info.time = driver != nullptr ? DWORD(driver->Now()) : 0;
  const WPARAM message = (llFlags & LLKHF_UP) ? WM_KEYUP : WM_KEYDOWN;
  for (const KeyboardHook &hook : hooks)
    hook.proc(HC_ACTION, message, reinterpret_cast<LPARAM>(&info));
}

void TrayClicked(UINT mouseMessage) {
  if (trayIcon.owner != nullptr)
    PostMessageOnce(trayIcon.owner, trayIcon.callback, trayIcon.id,
                    LPARAM(mouseMessage));
}

void TrayIconAdded(HWND owner) {
  if (std::find(trayOwners.begin(), trayOwners.end(), owner) ==
      trayOwners.end())
    trayOwners.push_back(owner);
}

void TrayGone() {
  const UINT message = RegisterWindowMessageA(kTaskbarGoneMessage);
  const std::vector<HWND> owners = trayOwners;
  for (HWND owner : owners)
    PostMessageA(owner, message, 0, 0);
}

void PostToTopLevelWindows(UINT msg, WPARAM wParam, LPARAM lParam) {
  std::vector<HWND> tops;
  for (auto &[h, w] : g_windows.items())
    if (!w->foreign && !w->destroying &&
        (w->owner == nullptr || !IsOwnWindow(w->owner)))
      tops.push_back(w->handle);
  for (HWND top : tops)
    PostMessageA(top, msg, wParam, lParam);
}

void TrayCreated() {
  PostToTopLevelWindows(RegisterWindowMessageA("TaskbarCreated"), 0, 0);
}

void WindowMovedByHost(HWND hwnd, LONG x, LONG y) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr)
    return;
  const LONG width = w->rect.right - w->rect.left;
  const LONG height = w->rect.bottom - w->rect.top;
  w->rect = {x, y, x + width, y + height};
  w->proc(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
}

void ResetAll() {
  g_windows.Clear();
  classes.clear();
  ResetMessageLoop();
  menus.Clear();
  registeredMessages.clear();
  keyboardHooks.clear();
  eventHooks.clear();
  trayOwners.clear();
  trayIcon = TrayIcon();
  capture = nullptr;
  ResetGdi();
  ResetRegistry();
}

} // namespace portable

using namespace portable;

ATOM RegisterClassExA(const WNDCLASSEXA *wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr ||
      wc->cbSize != sizeof(WNDCLASSEXA) || wc->lpfnWndProc == nullptr)
    return 0;
  std::string name = wc->lpszClassName;
  if (classes.count(name))
    return 0;
  classes[name] = WindowClass{*wc, name};
  return static_cast<ATOM>(0xC000 + classes.size());
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style,
                     int x, int y, int width, int height, HWND parent, HMENU,
                     HINSTANCE, LPVOID) {
  if (className == nullptr)
    return nullptr;
  auto cls = classes.find(className);
  if (cls == classes.end())
    return nullptr;
  auto w = std::make_unique<Window>();
  w->className = className;
  w->title = title != nullptr ? title : "";
  w->proc = cls->second.wc.lpfnWndProc;
  w->style = style & ~WS_VISIBLE;
  w->exStyle = exStyle;
  w->rect = {x, y, x + std::max(0, width), y + std::max(0, height)};
  w->owner = parent;
  w->zorder = ++zCounter;
  Window *raw = w.get();
  HWND hwnd = g_windows.Add<HWND>(std::move(w));
  raw->handle = hwnd;
  ResizeSurface(raw);
  if (driver != nullptr) {
    driver->WindowCreated(hwnd);
    driver->WindowMoved(hwnd, raw->rect);
  }
  if (raw->proc(hwnd, WM_CREATE, 0, 0) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  if (Window *made = OwnWindow(hwnd))
    made->created = true;
  if (style & WS_VISIBLE)
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || w->destroying)
    return FALSE;
  w->destroying = true;
  DestroyOwnedWindows(hwnd); // owned windows go first, as the system does
  w->visible = false;
  if (capture == hwnd) {
    capture = nullptr;
    if (driver != nullptr)
      driver->CaptureChanged(nullptr);
  }
  w->proc(hwnd, WM_DESTROY, 0, 0);
  DropTimersOf(hwnd);
  if (driver != nullptr)
    driver->WindowDestroyed(hwnd);
  g_windows.Remove(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  Window *w = AnyWindow(hwnd);
  return w != nullptr && !w->destroying;
}

BOOL IsWindowVisible(HWND hwnd) {
  Window *w = AnyWindow(hwnd);
  return w != nullptr && w->visible;
}

BOOL ShowWindow(HWND hwnd, int cmd) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr)
    return FALSE;
  const BOOL wasVisible = w->visible;
  const bool show = cmd != SW_HIDE;
  if (show != static_cast<bool>(wasVisible)) {
    w->proc(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    w = OwnWindow(hwnd);
    if (w == nullptr)
      return wasVisible;
    w->visible = show;
    if (show) {
      w->zorder = ++zCounter;
      w->invalid = true;
      w->invalidRect = {0, 0, w->rect.right - w->rect.left,
                        w->rect.bottom - w->rect.top};
    }
    if (driver != nullptr)
      driver->WindowShown(hwnd, show);
    if (show && cmd != SW_SHOWNOACTIVATE && driver != nullptr)
      driver->SetForeground(hwnd);
  }
  return wasVisible;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr)
    return FALSE;
  RECT r = w->rect;
  if (!(flags & SWP_NOMOVE)) {
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    r = {x, y, x + width, y + height};
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + std::max(0, cx);
    r.bottom = r.top + std::max(0, cy);
  }
  const bool changed = std::memcmp(&r, &w->rect, sizeof r) != 0;
  w->rect = r;
  ResizeSurface(w);
  if (changed && driver != nullptr)
    driver->WindowMoved(hwnd, r);
  return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || rect == nullptr)
    return FALSE;
  *rect = w->rect;
  return TRUE;
}

UINT WindowPixelScale(HWND hwnd) {
  Window *w = OwnWindow(hwnd);
  return w != nullptr ? UINT(w->scale) : 1;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || rect == nullptr)
    return FALSE;
  *rect = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || point == nullptr)
    return FALSE;
  point->x += w->rect.left;
  point->y += w->rect.top;
  return TRUE;
}

LONG GetWindowLongA(HWND hwnd, int index) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || index != GWL_EXSTYLE)
    return 0;
  return static_cast<LONG>(w->exStyle);
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || index != GWL_EXSTYLE)
    return 0;
  const LONG before = static_cast<LONG>(w->exStyle);
  w->exStyle = static_cast<DWORD>(value);
  if (driver != nullptr)
    driver->WindowExStyle(hwnd, before, value);
  return before;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr)
    return FALSE;
  w->title = text != nullptr ? text : "";
  if (driver != nullptr)
    driver->WindowTitle(hwnd, w->title);
  return TRUE;
}

int GetWindowTextA(HWND hwnd, LPSTR text, int max) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || text == nullptr || max <= 0)
    return 0;
  const int n = std::min<int>(max - 1, static_cast<int>(w->title.size()));
  std::memcpy(text, w->title.data(), n);
  text[n] = '\0';
  return n;
}

HWND FindWindowA(LPCSTR className, LPCSTR title) {
  for (auto &[h, w] : g_windows.items()) {
    if (w->destroying)
      continue;
    if (className != nullptr && w->className != className)
      continue;
    if (title != nullptr && w->title != title)
      continue;
    return w->handle;
  }
  if (className != nullptr && title == nullptr && driver != nullptr)
    return driver->FindForeignWindow(className);
  return nullptr;
}

HWND WindowFromPoint(POINT point) {
  return driver != nullptr ? driver->WindowAt(point) : OwnWindowAt(point);
}

BOOL InvalidateRect(HWND hwnd, const RECT *rect, BOOL) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr)
    return FALSE;
  RECT client = {0, 0, w->rect.right - w->rect.left,
                 w->rect.bottom - w->rect.top};
  RECT r = rect != nullptr ? *rect : client;
  r.left = std::max(r.left, client.left);
  r.top = std::max(r.top, client.top);
  r.right = std::min(r.right, client.right);
  r.bottom = std::min(r.bottom, client.bottom);
  if (r.left >= r.right || r.top >= r.bottom)
    return TRUE;
  if (!w->invalid) {
    w->invalid = true;
    w->invalidRect = r;
  } else {
    w->invalidRect.left = std::min(w->invalidRect.left, r.left);
    w->invalidRect.top = std::min(w->invalidRect.top, r.top);
    w->invalidRect.right = std::max(w->invalidRect.right, r.right);
    w->invalidRect.bottom = std::max(w->invalidRect.bottom, r.bottom);
  }
  return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT *rect, HRGN, UINT flags) {
  if (OwnWindow(hwnd) == nullptr)
    return FALSE;
  if (flags & RDW_INVALIDATE)
    InvalidateRect(hwnd, rect, (flags & RDW_ERASE) != 0);
  return TRUE;
}

UINT RegisterWindowMessageA(LPCSTR name) {
  if (name == nullptr || *name == '\0')
    return 0;
  auto it = registeredMessages.find(name);
  if (it != registeredMessages.end())
    return it->second;
  const UINT id = 0xC000 + static_cast<UINT>(registeredMessages.size());
  registeredMessages[name] = id;
  return id;
}

HWND GetWindow(HWND hwnd, UINT cmd) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr || cmd != GW_OWNER)
    return nullptr;
  return w->owner;
}

HHOOK SetWindowsHookExA(int id, HOOKPROC proc, HINSTANCE, DWORD) {
  if (id != WH_KEYBOARD_LL || proc == nullptr || driver == nullptr ||
      !driver->ReportsKeys())
    return nullptr;
  HHOOK handle = reinterpret_cast<HHOOK>(hookCounter += 0x10);
  keyboardHooks.push_back(KeyboardHook{handle, proc});
  return handle;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  const auto before = keyboardHooks.size();
  keyboardHooks.erase(
      std::remove_if(keyboardHooks.begin(), keyboardHooks.end(),
                     [&](const KeyboardHook &k) { return k.handle == hook; }),
      keyboardHooks.end());
  return keyboardHooks.size() != before;
}

LRESULT CallNextHookEx(HHOOK, int, WPARAM, LPARAM) { return 0; }

HWINEVENTHOOK SetWinEventHook(DWORD eventMin, DWORD eventMax, HMODULE,
                              WINEVENTPROC proc, DWORD, DWORD, DWORD flags) {
  if (proc == nullptr || eventMin > EVENT_SYSTEM_FOREGROUND ||
      eventMax < EVENT_SYSTEM_FOREGROUND || driver == nullptr ||
      !driver->ReportsForeground())
    return nullptr;
  HWINEVENTHOOK handle = reinterpret_cast<HWINEVENTHOOK>(hookCounter += 0x10);
  eventHooks.push_back(EventHook{handle, proc, flags});
  return handle;
}

BOOL UnhookWinEvent(HWINEVENTHOOK hook) {
  const auto before = eventHooks.size();
  eventHooks.erase(
      std::remove_if(eventHooks.begin(), eventHooks.end(),
                     [&](const EventHook &e) { return e.handle == hook; }),
      eventHooks.end());
  return eventHooks.size() != before;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  switch (msg) {
  case WM_CLOSE:
    DestroyWindow(hwnd);
    return 0;
  case WM_PAINT: {
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
    return 0;
  }
  case WM_MOUSEACTIVATE:
    return MA_ACTIVATE;
  default:
    return 0;
  }
}

HWND GetCapture(void) { return capture; }

HWND SetCapture(HWND hwnd) {
  HWND previous = capture;
  if (OwnWindow(hwnd) == nullptr)
    return previous;
  capture = hwnd;
  if (driver != nullptr)
    driver->CaptureChanged(hwnd);
  return previous;
}

BOOL ReleaseCapture(void) {
  if (capture != nullptr) {
    capture = nullptr;
    if (driver != nullptr)
      driver->CaptureChanged(nullptr);
  }
  return TRUE;
}

BOOL GetCursorPos(LPPOINT point) {
  if (point == nullptr || driver == nullptr)
    return FALSE;
  *point = driver->CursorPos();
  return TRUE;
}

HWND GetForegroundWindow(void) {
  return driver != nullptr ? driver->Foreground() : nullptr;
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (!IsWindow(hwnd) || driver == nullptr)
    return FALSE;
  return driver->SetForeground(hwnd) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  Window *w = AnyWindow(hwnd);
  if (w == nullptr)
    return 0;
  if (processId != nullptr)
    *processId = w->foreign ? 200 : 100;
  return w->foreign ? kForeignThreadId : kOwnThreadId;
}

DWORD GetCurrentThreadId(void) { return kOwnThreadId; }

BOOL SystemParametersInfoA(UINT action, UINT, PVOID data, UINT) {
  if (action != SPI_GETWORKAREA || data == nullptr || driver == nullptr)
    return FALSE;
  return driver->WorkArea(static_cast<RECT *>(data)) ? TRUE : FALSE;
}

int GetSystemMetrics(int index) {
  if (driver == nullptr)
    return 0;
  int w = 0, h = 0;
  driver->ScreenSize(&w, &h);
  return index == SM_CXSCREEN ? w : index == SM_CYSCREEN ? h : 0;
}

HICON LoadIconA(HINSTANCE, LPCSTR name) {
  // Icons are drawn by the host from the one icon description; the handle
  // only names the resource.
  return reinterpret_cast<HICON>(reinterpret_cast<uintptr_t>(name));
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
  return reinterpret_cast<HCURSOR>(reinterpret_cast<uintptr_t>(name));
}

HMENU LoadMenuA(HINSTANCE, LPCSTR name) {
  if (!IS_INTRESOURCE(name) ||
      reinterpret_cast<uintptr_t>(name) != IDR_CONTEXT_MENU)
    return nullptr;
  auto popup = std::make_unique<Menu>();
  for (const ContextMenuItem &item : kContextMenuItems) {
    MenuItem m;
    m.id = item.id;
    m.separator = item.text == nullptr;
    if (item.text != nullptr)
      m.text = item.text;
    popup->items.push_back(m);
  }
  auto bar = std::make_unique<Menu>();
  bar->popup = menus.Add<HMENU>(std::move(popup));
  return menus.Add<HMENU>(std::move(bar));
}

HMENU GetSubMenu(HMENU menu, int pos) {
  Menu *m = menus.Get(menu);
  if (m == nullptr || pos != 0)
    return nullptr;
  return m->popup;
}

BOOL DestroyMenu(HMENU menu) {
  Menu *m = menus.Get(menu);
  if (m == nullptr)
    return FALSE;
  if (m->popup != nullptr)
    menus.Remove(m->popup);
  menus.Remove(menu);
  return TRUE;
}

namespace {
MenuItem *FindMenuItem(HMENU menu, UINT id) {
  Menu *m = menus.Get(menu);
  if (m == nullptr)
    return nullptr;
  for (MenuItem &item : m->items)
    if (!item.separator && item.id == id)
      return &item;
  return nullptr;
}
} // namespace

BOOL EnableMenuItem(HMENU menu, UINT id, UINT enable) {
  MenuItem *item = FindMenuItem(menu, id);
  if (item == nullptr)
    return -1;
  const UINT before = item->state & (MF_GRAYED | MF_DISABLED);
  item->state = (item->state & ~(MF_GRAYED | MF_DISABLED)) |
                (enable & (MF_GRAYED | MF_DISABLED));
  return static_cast<BOOL>(before);
}

DWORD CheckMenuItem(HMENU menu, UINT id, UINT check) {
  MenuItem *item = FindMenuItem(menu, id);
  if (item == nullptr)
    return static_cast<DWORD>(-1);
  const DWORD before = item->state & MF_CHECKED;
  item->state = (item->state & ~MF_CHECKED) | (check & MF_CHECKED);
  return before;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner,
                    const RECT *) {
  Menu *m = menus.Get(menu);
  if (m == nullptr || driver == nullptr || OwnWindow(owner) == nullptr)
    return FALSE;
  const std::vector<MenuItem> items = m->items;
  const UINT chosen = driver->TrackMenu(items, x, y, owner);
  if (flags & TPM_RETURNCMD)
    return static_cast<BOOL>(chosen);
  if (chosen != 0)
    PostMessageA(owner, WM_COMMAND, chosen, 0);
  return TRUE;
}

HMODULE LoadLibraryA(LPCSTR name) {
  if (name == nullptr)
    return nullptr;
  std::string lower = name;
  for (char &c : lower)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower != "user32.dll" && lower != "user32")
    return nullptr;
  return reinterpret_cast<HMODULE>(kUser32Module);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (reinterpret_cast<uintptr_t>(module) != kUser32Module || name == nullptr ||
      std::strcmp(name, "SetLayeredWindowAttributes") != 0)
    return nullptr;
  if (driver == nullptr || !driver->LayeredAvailable())
    return nullptr;
  return reinterpret_cast<FARPROC>(
      reinterpret_cast<void *>(&SetLayeredWindowAttributes));
}

BOOL FreeLibrary(HMODULE module) {
  return reinterpret_cast<uintptr_t>(module) == kUser32Module;
}

BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF, BYTE alpha, DWORD flags) {
  Window *w = OwnWindow(hwnd);
  if (w == nullptr || !(w->exStyle & WS_EX_LAYERED) || driver == nullptr ||
      !(flags & LWA_ALPHA))
    return FALSE;
  return driver->SetAlpha(hwnd, alpha) ? TRUE : FALSE;
}

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  if (data == nullptr || driver == nullptr)
    return FALSE;
  if (message == NIM_MODIFY &&
      (trayIcon.owner == nullptr || data->hWnd != trayIcon.owner ||
       data->uID != trayIcon.id))
    return FALSE;
  const bool ok = driver->Tray(message, *data);
  if (ok && message == NIM_ADD)
    trayIcon = {data->hWnd, data->uID, data->uCallbackMessage};
  if (ok && message == NIM_MODIFY && (data->uFlags & NIF_MESSAGE))
    trayIcon.callback = data->uCallbackMessage;
  if (ok && message == NIM_DELETE)
    trayIcon = TrayIcon();
  if (ok && (message == NIM_ADD || message == NIM_MODIFY))
    TrayIconAdded(data->hWnd);
  if (ok && message == NIM_DELETE)
    trayOwners.erase(
        std::remove(trayOwners.begin(), trayOwners.end(), data->hWnd),
        trayOwners.end());
  return ok ? TRUE : FALSE;
}

void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR) {
  if (driver != nullptr)
    driver->InjectKey(vk, scan, flags);
}

SHORT GetAsyncKeyState(int vk) {
  return driver != nullptr ? driver->AsyncKeyState(vk) : 0;
}

SHORT GetKeyState(int vk) {
  return driver != nullptr ? driver->KeyState(vk) : 0;
}

LPSTR CharNextA(LPCSTR p) {
  if (p == nullptr)
    return nullptr;
  if (*p == '\0')
    return const_cast<LPSTR>(p);
  const unsigned char lead = static_cast<unsigned char>(*p);
  const bool doubleByte =
      (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
  if (doubleByte && p[1] != '\0')
    return const_cast<LPSTR>(p + 2);
  return const_cast<LPSTR>(p + 1);
}

BOOL IsRectEmpty(const RECT *rect) {
  return rect == nullptr || rect->right <= rect->left ||
         rect->bottom <= rect->top;
}

BOOL SetRectEmpty(LPRECT rect) {
  if (rect == nullptr)
    return FALSE;
  *rect = {0, 0, 0, 0};
  return TRUE;
}

BOOL InflateRect(LPRECT rect, int dx, int dy) {
  if (rect == nullptr)
    return FALSE;
  rect->left -= dx;
  rect->top -= dy;
  rect->right += dx;
  rect->bottom += dy;
  return TRUE;
}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0)
    return -1;
  const int64_t product = static_cast<int64_t>(number) * numerator;
  const bool negative = (product < 0) != (denominator < 0);
  const uint64_t p = product < 0 ? uint64_t(-product) : uint64_t(product);
  const uint64_t d =
      denominator < 0 ? uint64_t(-int64_t(denominator)) : uint64_t(denominator);
  const uint64_t q = (p + d / 2) / d;
  if (q > static_cast<uint64_t>(std::numeric_limits<int>::max()) + negative)
    return -1;
  return negative ? static_cast<int>(-static_cast<int64_t>(q))
                  : static_cast<int>(q);
}
