// The test bed's input devices on a compositor that has none: a virtual
// pointer and a virtual keyboard (Japanese keymap), made at start so that
// the seat has both capabilities before the clients under test come.
// Reads commands from standard input, one per line:
//   move X Y        the pointer to a point of the output
//   press B         button B down (1 left, 2 middle, 3 right)
//   release B       button B up
//   click X Y [B]   move, then press and release (B: 1)
//   key CODE        an evdev key code pressed and released
//   extent W H      points are in a layout W x H from now on (by default
//                   the first output's size)
//   sync            answers "synced N" on standard output once the
//                   compositor has taken everything before it
// Prints "ready" when the devices exist.
//
// flinto-wl-input post SOCKET COUNT MSG WPARAM LPARAM [MSG WPARAM LPARAM]
// instead sends COUNT rounds of the messages, as fast as they go, to a
// Flinto's instance socket, as other Flintos would; prints how many were
// taken.
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

wl_seat *seat = nullptr;
wl_output *output = nullptr;
zwlr_virtual_pointer_manager_v1 *pointers = nullptr;
zwp_virtual_keyboard_manager_v1 *keyboards = nullptr;
int width = 0, height = 0;

void Global(void *, wl_registry *registry, uint32_t name, const char *iface,
            uint32_t version) {
  const std::string i = iface;
  if (i == wl_seat_interface.name && seat == nullptr)
    seat = static_cast<wl_seat *>(
        wl_registry_bind(registry, name, &wl_seat_interface, 1));
  else if (i == wl_output_interface.name && output == nullptr)
    output = static_cast<wl_output *>(
        wl_registry_bind(registry, name, &wl_output_interface, 1));
  else if (i == zwlr_virtual_pointer_manager_v1_interface.name)
    pointers = static_cast<zwlr_virtual_pointer_manager_v1 *>(wl_registry_bind(
        registry, name, &zwlr_virtual_pointer_manager_v1_interface,
        version < 2 ? version : 2));
  else if (i == zwp_virtual_keyboard_manager_v1_interface.name)
    keyboards = static_cast<zwp_virtual_keyboard_manager_v1 *>(wl_registry_bind(
        registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}
void GlobalRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener kRegistry = {Global, GlobalRemove};

void Geometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t,
              const char *, const char *, int32_t) {}
void Mode(void *, wl_output *, uint32_t flags, int32_t w, int32_t h, int32_t) {
  if (flags & WL_OUTPUT_MODE_CURRENT) {
    width = w;
    height = h;
  }
}
void Done(void *, wl_output *) {}
void Scale(void *, wl_output *, int32_t) {}
void Name(void *, wl_output *, const char *) {}
void Description(void *, wl_output *, const char *) {}
const wl_output_listener kOutput = {Geometry, Mode, Done,
                                    Scale,    Name, Description};

uint32_t Millis() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

uint32_t Button(int b) {
  return b == 3 ? BTN_RIGHT : b == 2 ? BTN_MIDDLE : BTN_LEFT;
}

} // namespace

int Post(int argc, char **argv) {
  if (argc < 7 || (argc - 4) % 3 != 0)
    return 2;
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", argv[2]);
  const long rounds = std::strtol(argv[3], nullptr, 10);
  long taken = 0;
  for (long r = 0; r < rounds; ++r)
    for (int i = 4; i + 2 < argc; i += 3) {
      const int64_t message[3] = {std::strtoll(argv[i], nullptr, 0),
                                  std::strtoll(argv[i + 1], nullptr, 0),
                                  std::strtoll(argv[i + 2], nullptr, 0)};
      if (sendto(fd, message, sizeof message, MSG_DONTWAIT,
                 reinterpret_cast<sockaddr *>(&address),
                 sizeof address) == ssize_t(sizeof message))
        ++taken;
      else
        usleep(1000); // full: the receiver reads at its pace
    }
  std::printf("posted %ld\n", taken);
  close(fd);
  return 0;
}

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "post") == 0)
    return Post(argc, argv);
  wl_display *display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "input: no compositor\n");
    return 1;
  }
  wl_registry *registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, nullptr);
  wl_display_roundtrip(display);
  if (output != nullptr)
    wl_output_add_listener(output, &kOutput, nullptr);
  wl_display_roundtrip(display);
  if (seat == nullptr || pointers == nullptr || keyboards == nullptr ||
      width <= 0) {
    std::fprintf(stderr, "input: no virtual pointer or keyboard\n");
    return 1;
  }
  zwlr_virtual_pointer_v1 *pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
  zwp_virtual_keyboard_v1 *keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
  xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const xkb_rule_names names = {"evdev", "jp106", "jp", "", ""};
  xkb_keymap *keymap =
      xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  const size_t size = std::strlen(text) + 1;
  const int fd = memfd_create("keymap", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, off_t(size)) != 0 ||
      write(fd, text, size) != ssize_t(size)) {
    std::fprintf(stderr, "input: no keymap\n");
    return 1;
  }
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 uint32_t(size));
  close(fd);
  std::free(text);
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  wl_display_roundtrip(display);
  std::printf("ready\n");
  std::fflush(stdout);

  auto move = [&](int x, int y) {
    zwlr_virtual_pointer_v1_motion_absolute(pointer, Millis(), uint32_t(x),
                                            uint32_t(y), uint32_t(width),
                                            uint32_t(height));
    zwlr_virtual_pointer_v1_frame(pointer);
  };
  auto button = [&](int b, bool down) {
    zwlr_virtual_pointer_v1_button(pointer, Millis(), Button(b),
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED
                                        : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer);
  };
  std::string line;
  int syncs = 0;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    int x = 0, y = 0, b = 1;
    if (command == "move" && (in >> x >> y)) {
      move(x, y);
    } else if (command == "press" && (in >> b)) {
      button(b, true);
    } else if (command == "release" && (in >> b)) {
      button(b, false);
    } else if (command == "click" && (in >> x >> y)) {
      if (!(in >> b))
        b = 1;
      move(x, y);
      wl_display_roundtrip(display);
      usleep(20000); // the motion reaches the client before the press
      button(b, true);
      wl_display_roundtrip(display);
      usleep(20000);
      button(b, false);
    } else if (command == "key" && (in >> x)) {
      zwp_virtual_keyboard_v1_key(keyboard, Millis(), uint32_t(x),
                                  WL_KEYBOARD_KEY_STATE_PRESSED);
      zwp_virtual_keyboard_v1_key(keyboard, Millis(), uint32_t(x),
                                  WL_KEYBOARD_KEY_STATE_RELEASED);
    } else if (command == "extent" && (in >> x >> y) && x > 0 && y > 0) {
      width = x;
      height = y;
    } else if (command == "sync") {
      wl_display_roundtrip(display);
      std::printf("synced %d\n", ++syncs);
      std::fflush(stdout);
      continue;
    }
    if (wl_display_roundtrip(display) < 0)
      return 1;
  }
  zwlr_virtual_pointer_v1_destroy(pointer);
  zwp_virtual_keyboard_v1_destroy(keyboard);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return 0;
}
