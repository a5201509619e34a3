// A native Wayland application for the tests: a window (app_id
// "flinto-target") that logs every keyboard event it receives, with the
// keysym and text its keymap gives, to the file named by its argument:
//   ready
//   focus in | focus out
//   press|release keycode=K keysym=NAME state=0xMODS text=TEXT
//   modifiers depressed=0xD latched=0xL locked=0xK group=G
// (keycodes are the keymap's, evdev + 8, as on X11; MODS are the effective
// modifiers before the event). With TARGET_MAXIMIZED set it asks to be
// maximized. With TARGET_TIMES set, each key line is
// followed by "at MICROSECONDS" (CLOCK_REALTIME).
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xdg-shell-client-protocol.h"

namespace {

FILE *out = stdout;
wl_compositor *compositor = nullptr;
wl_shm *shm = nullptr;
wl_seat *seat = nullptr;
xdg_wm_base *shell = nullptr;
wl_keyboard *keyboard = nullptr;
wl_surface *surface = nullptr;
xdg_surface *xsurface = nullptr;
xkb_context *context = nullptr;
xkb_keymap *keymap = nullptr;
xkb_state *state = nullptr;
int width = 400, height = 300;
bool running = true;

void Log(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(out, format, args);
  va_end(args);
  std::fflush(out);
}

void Global(void *, wl_registry *registry, uint32_t name, const char *iface,
            uint32_t) {
  const std::string i = iface;
  if (i == wl_compositor_interface.name)
    compositor = static_cast<wl_compositor *>(
        wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  else if (i == wl_shm_interface.name)
    shm = static_cast<wl_shm *>(
        wl_registry_bind(registry, name, &wl_shm_interface, 1));
  else if (i == wl_seat_interface.name && seat == nullptr)
    seat = static_cast<wl_seat *>(
        wl_registry_bind(registry, name, &wl_seat_interface, 4));
  else if (i == xdg_wm_base_interface.name)
    shell = static_cast<xdg_wm_base *>(
        wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
}
void GlobalRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener kRegistry = {Global, GlobalRemove};

void Ping(void *, xdg_wm_base *base, uint32_t serial) {
  xdg_wm_base_pong(base, serial);
}
const xdg_wm_base_listener kShell = {Ping};

// A white picture with a grey frame.
void Paint() {
  const int stride = width * 4;
  const size_t size = size_t(stride) * size_t(height);
  const int fd = memfd_create("target", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, off_t(size)) != 0)
    return;
  auto *pixels = static_cast<uint32_t *>(
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[y * width + x] =
          (x < 2 || y < 2 || x >= width - 2 || y >= height - 2) ? 0xFF808080u
                                                                : 0xFFFFFFFFu;
  munmap(pixels, size);
  wl_shm_pool *pool = wl_shm_create_pool(shm, fd, int32_t(size));
  wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride,
                                                WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage(surface, 0, 0, width, height);
  wl_surface_commit(surface);
}

void SurfaceConfigure(void *, xdg_surface *s, uint32_t serial) {
  xdg_surface_ack_configure(s, serial);
  Paint();
}
const xdg_surface_listener kSurface = {SurfaceConfigure};

void ToplevelConfigure(void *, xdg_toplevel *, int32_t w, int32_t h,
                       wl_array *) {
  if (w > 0 && h > 0) {
    width = w;
    height = h;
  }
}
void ToplevelClose(void *, xdg_toplevel *) { running = false; }
void ToplevelBounds(void *, xdg_toplevel *, int32_t, int32_t) {}
void ToplevelCapabilities(void *, xdg_toplevel *, wl_array *) {}
const xdg_toplevel_listener kToplevel = {ToplevelConfigure, ToplevelClose,
                                         ToplevelBounds, ToplevelCapabilities};

void Keymap(void *, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size) {
  if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
    close(fd);
    return;
  }
  char *map =
      static_cast<char *>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
  close(fd);
  if (map == MAP_FAILED)
    return;
  xkb_keymap *next = xkb_keymap_new_from_buffer(
      context, map, strnlen(map, size), XKB_KEYMAP_FORMAT_TEXT_V1,
      XKB_KEYMAP_COMPILE_NO_FLAGS);
  munmap(map, size);
  if (next == nullptr)
    return;
  if (state != nullptr)
    xkb_state_unref(state);
  if (keymap != nullptr)
    xkb_keymap_unref(keymap);
  keymap = next;
  state = xkb_state_new(keymap);
}
void Enter(void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {
  Log("focus in\n");
}
void Leave(void *, wl_keyboard *, uint32_t, wl_surface *) {
  Log("focus out\n");
}
void Key(void *, wl_keyboard *, uint32_t, uint32_t, uint32_t key,
         uint32_t pressed) {
  if (state == nullptr)
    return;
  const xkb_keycode_t code = key + 8;
  char name[64] = "NoSymbol";
  const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, code);
  if (sym != XKB_KEY_NoSymbol)
    xkb_keysym_get_name(sym, name, sizeof name);
  char text[64] = "";
  xkb_state_key_get_utf8(state, code, text, sizeof text);
  if (text[0] != '\0' && static_cast<unsigned char>(text[0]) < 0x20)
    text[0] = '\0'; // control characters are not text
  const uint32_t mods =
      xkb_state_serialize_mods(state, XKB_STATE_MODS_EFFECTIVE);
  Log("%s keycode=%u keysym=%s state=0x%x text=%s\n",
      pressed ? "press" : "release", code, name, mods, text);
  if (std::getenv("TARGET_TIMES") != nullptr) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    Log("at %lld\n", (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000);
  }
}
void Modifiers(void *, wl_keyboard *, uint32_t, uint32_t depressed,
               uint32_t latched, uint32_t locked, uint32_t group) {
  if (state != nullptr)
    xkb_state_update_mask(state, depressed, latched, locked, 0, 0, group);
  Log("modifiers depressed=0x%x latched=0x%x locked=0x%x group=%u\n", depressed,
      latched, locked, group);
}
void RepeatInfo(void *, wl_keyboard *, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboard = {Keymap, Enter,     Leave,
                                        Key,    Modifiers, RepeatInfo};

// A seat whose only keyboard is a program's (a remote desktop session)
// loses the keyboard when the program ends, and gains a new one with the
// next: the keyboard object is given back and asked for again, as
// toolkits do.
void Capabilities(void *, wl_seat *s, uint32_t caps) {
  if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard == nullptr) {
    keyboard = wl_seat_get_keyboard(s);
    wl_keyboard_add_listener(keyboard, &kKeyboard, nullptr);
  } else if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard != nullptr) {
    wl_keyboard_release(keyboard);
    keyboard = nullptr;
  }
}
void SeatName(void *, wl_seat *, const char *) {}
const wl_seat_listener kSeat = {Capabilities, SeatName};

} // namespace

int main(int argc, char **argv) {
  if (argc > 1) {
    out = std::fopen(argv[1], "a");
    if (out == nullptr)
      return 1;
  }
  wl_display *display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "target: no compositor\n");
    return 1;
  }
  context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  wl_registry *registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, nullptr);
  wl_display_roundtrip(display);
  if (compositor == nullptr || shm == nullptr || seat == nullptr ||
      shell == nullptr) {
    std::fprintf(stderr, "target: the compositor lacks what it needs\n");
    return 1;
  }
  xdg_wm_base_add_listener(shell, &kShell, nullptr);
  wl_seat_add_listener(seat, &kSeat, nullptr);
  surface = wl_compositor_create_surface(compositor);
  xsurface = xdg_wm_base_get_xdg_surface(shell, surface);
  xdg_surface_add_listener(xsurface, &kSurface, nullptr);
  xdg_toplevel *toplevel = xdg_surface_get_toplevel(xsurface);
  xdg_toplevel_add_listener(toplevel, &kToplevel, nullptr);
  xdg_toplevel_set_app_id(toplevel, "flinto-target");
  xdg_toplevel_set_title(toplevel, "target");
  // TARGET_MAXIMIZED: the whole work area, so that a click anywhere but
  // on the keyboard lands on it.
  if (std::getenv("TARGET_MAXIMIZED") != nullptr)
    xdg_toplevel_set_maximized(toplevel);
  wl_surface_commit(surface);
  wl_display_roundtrip(display);
  Log("ready\n");
  while (running && wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
