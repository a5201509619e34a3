// The Wayland host, for compositors that offer layer surfaces and virtual
// keyboards: Flinto's windows are layer surfaces that never take the
// keyboard focus, key events go through a virtual keyboard with a Japanese
// 106/109 keymap of its own, the foreground comes from the foreign-toplevel
// list, and the tray icon is a StatusNotifierItem on the session bus.
//
// Coordinates: the origin is the top-left corner of the area the other
// surfaces' exclusive zones leave free on the output (the work area), where
// the keyboard is anchored with its margins.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/key_policy.h"
#include "platform/portable/driver.h"

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct wl_pointer;
struct wl_output;
struct wl_surface;
struct wl_buffer;
struct wl_callback;
struct wl_cursor_theme;
struct wl_output_listener;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
struct zwlr_layer_surface_v1_listener;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace wayland {

class StatusItem;

// A shared-memory picture the compositor reads.
struct Buffer {
  wl_buffer *buffer = nullptr;
  uint32_t *pixels = nullptr;
  size_t bytes = 0;
  int width = 0, height = 0;
  uint32_t format = 0;   // WL_SHM_FORMAT_*
  bool busy = false;     // attached and not yet released by the compositor
  HWND lentTo = nullptr; // the window whose picture it was lent as
  // Where it differs from the window's picture as last drawn (in the
  // buffer's pixels; all of it when new).
  RECT stale = {0, 0, 1 << 24, 1 << 24};
};

// A layer surface of ours.
struct LayerSurface {
  wl_surface *surface = nullptr;
  zwlr_layer_surface_v1 *layer = nullptr;
  bool configured = false;
  uint32_t configuredWidth = 0, configuredHeight = 0;
  Buffer buffers[2];
  bool redrawDue = false;     // a paint waits for its time or a buffer
  RECT damage = {0, 0, 0, 0}; // in the buffer's pixels
  int bufferScale = 1;        // as the compositor was last told
  bool drawn = false;         // a picture has been committed
  int shown = -1;             // the buffer last attached
  uint64_t lastFrame = 0;     // when it was (Now())
};

// How long a surface rests before its second buffer is given back: a
// compositor that reads the buffer last attached until the next one comes
// needs two while the picture changes, one when it does not. Made again,
// a buffer is drawn whole (a millisecond or more at unit 6), so clicks at
// the pace of someone typing with the mouse keep it.
constexpr uint64_t kSpareBufferMs = 10000;

// Between queued messages the compositor's events are read at most this
// often (microseconds): enough that a long queue never leaves them unread.
constexpr uint64_t kReadBetweenMessagesUs = 1000;

// When what was asked of the compositor between queued messages is sent:
// every kMessagesPerFlush messages (a click's press, release and picture go
// in one write as the loop goes to wait), and before each message while a
// flush left some unsent (the compositor's socket full: the loop keeps to
// the compositor's pace, and the few pages of requests the library keeps
// unsent never fill, which would end the connection).
constexpr int kMessagesPerFlush = 8;
class FlushPace {
public:
  // A queued message is about to be handled: true when a flush goes first.
  bool BeforeMessage() { return ++handled_ >= kMessagesPerFlush; }
  // A flush was made: whether it sent everything.
  void Flushed(bool allSent) { handled_ = allSent ? 0 : kMessagesPerFlush; }

private:
  int handled_ = 0;
};

// Damage that covers any picture.
constexpr RECT kWholePicture = {0, 0, 1 << 24, 1 << 24};

class WaylandDriver : public portable::Driver {
public:
  // Connects to the compositor ($WAYLAND_DISPLAY). Null with `error` set
  // when there is none or it lacks layer surfaces or virtual keyboards.
  static std::unique_ptr<WaylandDriver> Open(std::string *error);
  ~WaylandDriver() override;

  // Asked to end (SIGTERM, SIGINT, SIGHUP): the program's own exit path.
  std::function<void()> onTerminate;
  // The connection to the compositor is gone: last words before the exit.
  std::function<void()> onConnectionLost;

  // portable::Driver
  uint64_t Now() override;
  void Wait(uint64_t deadline) override;
  void Poll() override;
  bool DeliverReadInput() override;
  uint64_t TimerGranularity() override { return 50; }
  void ScreenSize(int *width, int *height) override;
  bool WorkArea(RECT *area) override;
  std::vector<Monitor> Monitors() override;
  POINT CursorPos() override { return pointer_; }
  HWND ForeignWindowAt(POINT) override { return nullptr; }
  HWND WindowAt(POINT point) override;
  HWND Foreground() override { return foreground_; }
  bool ReportsForeground() override { return toplevels_ != nullptr; }
  bool ReportsKeys() override { return true; }
  HWND FindForeignWindow(const std::string &className) override;
  bool PostForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool SetForeground(HWND hwnd) override;
  void InjectKey(BYTE vk, BYTE scan, DWORD flags) override;
  SHORT AsyncKeyState(int vk) override;
  SHORT KeyState(int vk) override;
  bool Tray(DWORD message, const NOTIFYICONDATAA &data) override;
  bool LayeredAvailable() override { return true; }
  bool SetAlpha(HWND hwnd, BYTE alpha) override;
  UINT TrackMenu(const std::vector<portable::MenuItem> &items, int x, int y,
                 HWND owner) override;
  void WindowCreated(HWND hwnd) override;
  void WindowDestroyed(HWND hwnd) override;
  void WindowShown(HWND hwnd, bool visible) override;
  void WindowMoved(HWND hwnd, const RECT &rect) override;
  void WindowExStyle(HWND hwnd, LONG before, LONG after) override;
  void BeforeDraw(HWND hwnd) override;
  bool ReadyToPaint(HWND hwnd) override;
  void Present(HWND hwnd, const portable::Bitmap &surface,
               const RECT &dirty) override;

  // What the listeners report (they are plain functions).
  void OnGlobal(wl_registry *registry, uint32_t name, const char *interface,
                uint32_t version);
  void OnGlobalRemove(uint32_t name);
  void OnOutputGeometry(wl_output *output, int32_t x, int32_t y,
                        int32_t transform);
  void OnOutputMode(wl_output *output, uint32_t flags, int32_t width,
                    int32_t height);
  void OnOutputScale(wl_output *output, int32_t scale);
  void OnOutputDone(wl_output *output);
  void OnLogicalPosition(zxdg_output_v1 *logical, int32_t x, int32_t y);
  void OnLogicalSize(zxdg_output_v1 *logical, int32_t width, int32_t height);
  void OnLogicalDone(zxdg_output_v1 *logical);
  void OnSeatCapabilities(uint32_t capabilities);
  void OnLayerConfigure(zwlr_layer_surface_v1 *layer, uint32_t serial,
                        uint32_t width, uint32_t height);
  void OnLayerClosed(zwlr_layer_surface_v1 *layer);
  void OnBufferRelease(wl_buffer *buffer);
  void OnMoveApplied(wl_callback *callback);
  void OnToplevel(zwlr_foreign_toplevel_handle_v1 *handle);
  void OnToplevelTitle(zwlr_foreign_toplevel_handle_v1 *h, const char *title);
  void OnToplevelAppId(zwlr_foreign_toplevel_handle_v1 *h, const char *id);
  void OnToplevelState(zwlr_foreign_toplevel_handle_v1 *h, bool activated);
  void OnToplevelDone(zwlr_foreign_toplevel_handle_v1 *h);
  void OnToplevelOutput(zwlr_foreign_toplevel_handle_v1 *h, wl_output *output);
  void OnToplevelClosed(zwlr_foreign_toplevel_handle_v1 *h);
  void OnToplevelsFinished();

  // The pointer's events, queued as they come and handed out one at a time.
  struct PointerEvent {
    enum Kind { kEnter, kLeave, kMotion, kButton } kind;
    wl_surface *surface; // enter
    double x, y;         // surface-local (enter, motion)
    uint32_t button;
    bool pressed;
    uint32_t serial; // enter
  };
  void QueuePointer(const PointerEvent &event) { input_.push_back(event); }

  // The menu's surface (wayland_menu.cpp).
  void OnMenuConfigure(zwlr_layer_surface_v1 *layer, uint32_t serial,
                       uint32_t width, uint32_t height);
  bool OnMenuBufferRelease(wl_buffer *buffer);
  void OnMenuSurfaceClosed();
  void CloseMenu();

  // For the tray: the item's clicks, at a point on the screen.
  void TrayActivated(int x, int y);
  void TrayContextMenu(int x, int y);

private:
  WaylandDriver() = default;
  bool Init(std::string *error);
  void Roundtrip();
  // Polls the connection, the session bus, the signal pipe and the instance
  // socket until something comes or `deadline`; dispatches what came.
  void PumpEvents(uint64_t deadline);
  void ConnectionLost();
  void FinishRead(bool readable);
  void FlushWaiting();
  void HandlePointer(const PointerEvent &event);
  // The arrow over our surfaces (the compositor shows what the last client
  // set otherwise).
  void SetArrow(uint32_t serial);
  bool DeliverQueuedPointer();

  // Windows.
  LayerSurface *SurfaceOf(HWND hwnd);
  HWND HwndOf(wl_surface *surface) const;
  void MapSurface(HWND hwnd);
  void UnmapSurface(HWND hwnd);
  void DestroySurface(LayerSurface &s);
  void PlaceSurface(HWND hwnd, LayerSurface &s);
  void Draw(HWND hwnd, LayerSurface &s);
  Buffer *FreeBuffer(LayerSurface &s, int width, int height, uint32_t format);
  bool MakeBuffer(Buffer &b, int width, int height, uint32_t format);
  Buffer *LentBuffer(HWND hwnd, LayerSurface &s);
  static void DropBuffer(Buffer &b);
  // When the next resting surface's spare buffer is due to go (UINT64_MAX:
  // none), and giving back those that are due.
  uint64_t NextSpareDrop() const;
  void DropIdleSpares();
  void MakeProbe();
  void MakeWorkAreaSurface(LayerSurface &s, uint32_t layer, const char *name,
                           const zwlr_layer_surface_v1_listener *listener);
  void RemakeLostSurfaces();
  void UpdateScreen();
  // The outputs: each one the compositor offers, where it lies in the
  // layout and its size; one of them is the keyboard's, where every
  // surface of ours is.
  struct Output {
    wl_output *output = nullptr;
    zxdg_output_v1 *logical = nullptr; // where the compositor offers it
    uint32_t name = 0;
    int x = 0, y = 0; // in the compositor's layout
    // The logical size, from the xdg output (0: none said; then the mode
    // over the scale).
    int logicalWidth = 0, logicalHeight = 0;
    int modeWidth = 0, modeHeight = 0;
    int scale = 1, transform = 0;
    bool done = false;
    RECT Rect() const; // in the layout: the mode over the scale, turned
  };
  Output *OutputOf(wl_output *output);
  Output *LogicalOf(zxdg_output_v1 *logical);
  Output *CurrentOutput() { return OutputOf(output_); }
  // The keyboard's output's buffer scale: an integer, the compositor
  // scales down for a fractional one.
  int Scale() {
    const Output *o = CurrentOutput();
    return o != nullptr ? o->scale : 1;
  }
  static void SetBufferScale(LayerSurface &s, int scale);
  // The output that holds most of the rectangle, or null.
  Output *OutputFor(const RECT &rect);
  // Every surface of ours made again on another output.
  void MoveToOutput(Output &to);
  void FollowLogical(Output &o);
  void PlaceToplevels(const Output &o);

  // Keys (wayland_input.cpp).
  bool InitKeyboard(std::string *error);
  // The virtual keyboard made, once (InitKeyboard; a failure is said on
  // stderr, and no key can be typed).
  void EnsureKeyboard();
  bool keyboardTried_ = false;
  // The listeners kept beside their handlers, for the files that bind or
  // make what they listen to.
  static const wl_output_listener *OutputListener();
  static const zwlr_layer_surface_v1_listener *LayerListener();
  void SendModifiers();
  void DropKeyboard();
  uint64_t NextLetGo(); // UINT64_MAX: no held key to let go
  void LetGoHeldKeys();

  // The menu (wayland_menu.cpp).
  struct Menu;
  void MenuPointer(const PointerEvent &event);
  void PaintMenu();
  void MakeMenuSurface();
  void BlankMenuSurface();

  // One Flinto per session: a socket named after the compositor's.
  std::string InstanceAddress() const;
  void ListenForInstances();
  void ReadInstanceSocket();

  wl_display *display_ = nullptr;
  wl_registry *registry_ = nullptr;
  wl_compositor *compositor_ = nullptr;
  wl_shm *shm_ = nullptr;
  wl_seat *seat_ = nullptr;
  wl_pointer *pointerDevice_ = nullptr;
  wl_output *output_ = nullptr;
  zwlr_layer_shell_v1 *layerShell_ = nullptr;
  zxdg_output_manager_v1 *xdgOutputs_ = nullptr;
  zwp_virtual_keyboard_manager_v1 *keyboardManager_ = nullptr;
  zwlr_foreign_toplevel_manager_v1 *toplevels_ = nullptr;
  int signalFd_ = -1; // readable when SIGTERM, SIGINT or SIGHUP came
  int instanceSocket_ = -1;
  std::string instancePath_;
  bool lost_ = false;
  uint64_t lastReadUs_ = 0; // when the connection was last read
  FlushPace flushPace_;

  // The outputs and the work area. The program's coordinates are the
  // layout's, with the keyboard's output's work area at `origin_`.
  std::vector<Output> outputs_;
  POINT origin_ = {0, 0};
  int screenWidth_ = 0, screenHeight_ = 0;
  LayerSurface probe_;
  bool probeLost_ = false;
  std::set<HWND> lostSurfaces_; // shown, closed by the compositor
  int workWidth_ = 0, workHeight_ = 0;
  bool workMoved_ = false;
  bool outputMoveDue_ = false; // dragged onto another output
  bool menuEntered_ = false;   // the pointer came onto the menu's surface

  // Our windows and the pointer.
  std::map<HWND, RECT> rects_; // where each window of ours is
  std::map<HWND, LayerSurface> surfaces_;
  std::map<HWND, BYTE> alpha_;
  std::map<wl_callback *, std::pair<HWND, POINT>> moves_;
  std::map<HWND, POINT> applied_; // where the compositor has put each surface
  std::deque<PointerEvent> input_;
  POINT pointer_ = {0, 0};
  HWND pointerIn_ = nullptr;
  wl_surface *pointerSurface_ = nullptr;
  int buttonsDown_ = 0;
  POINT grabOrigin_ = {0, 0}; // the surface's place at the first press
  Menu *menu_ = nullptr;
  LayerSurface menuSurface_;
  bool menuSurfaceLost_ = false;
  Buffer menuBlank_; // the menu surface's picture between menus
  wl_cursor_theme *cursorTheme_ = nullptr;
  int cursorScale_ = 1; // the scale the theme was loaded for
  wl_surface *cursorSurface_ = nullptr;

  // Foreign toplevels.
  struct Toplevel {
    HWND hwnd = nullptr;
    std::string title, appId;
    bool activated = false;
    wl_output *output = nullptr; // the last it entered
  };
  std::map<zwlr_foreign_toplevel_handle_v1 *, Toplevel> toplevelList_;
  HWND foreground_ = nullptr;

  // Other Flintos found by their socket.
  std::map<HWND, std::string> instances_;

  // Keys.
  zwp_virtual_keyboard_v1 *keyboard_ = nullptr;
  xkb_context *xkb_ = nullptr;
  xkb_keymap *keymap_ = nullptr;
  xkb_state *state_ = nullptr;
  uint32_t sentMods_[4] = {0, 0, 0, 0};
  std::set<unsigned> held_;                // evdev codes we hold down
  std::set<unsigned> repeating_;           // keys the Japanese keymap repeats
  std::map<unsigned, uint64_t> pressedAt_; // repeating keys held, since
  std::set<unsigned> releasedEarly_;       // held keys let go already
  std::set<unsigned> numLockedFor_;

  // The tray.
  std::unique_ptr<StatusItem> tray_;
};

// Whether `dir` is a folder of the user's own with mode 0700, where no
// other user can reach a socket; else says why not.
bool IsPrivateFolder(const std::string &dir, std::string *why);

// The keymap (xkbcommon's text form) with "repeat= false" in every key's
// description: applications then repeat none of the keys Flinto holds down.
std::string KeymapWithoutRepeat(const std::string &keymap);

// What a listener hands its event to.
inline WaylandDriver *Of(void *data) {
  return static_cast<WaylandDriver *>(data);
}

} // namespace wayland
