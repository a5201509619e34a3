// A pointer for the tests on a virtual KWin, which has no input device:
// KWin's fake input (granted to this program by a desktop entry naming
// its path), driven by lines on standard input:
//   click X Y [BUTTON]   move there and click (1 left, 3 right)
//   move X Y             move there
//   press BUTTON | release BUTTON
//   sync                 answers "synced N" once KWin has taken everything
// Prints "ready" once the interface is there, "no fake input" otherwise.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input *fake = nullptr;

void Global(void *, wl_registry *registry, uint32_t name, const char *iface,
            uint32_t version) {
  if (std::strcmp(iface, org_kde_kwin_fake_input_interface.name) == 0 &&
      version >= 4)
    fake = static_cast<org_kde_kwin_fake_input *>(wl_registry_bind(
        registry, name, &org_kde_kwin_fake_input_interface, 4));
}
void GlobalRemove(void *, wl_registry *, uint32_t) {}

uint32_t Button(const std::string &name) {
  return name == "3" ? 0x111 : name == "2" ? 0x112 : 0x110;
}

} // namespace

int main() {
  wl_display *display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::puts("no compositor");
    return 1;
  }
  wl_registry *registry = wl_display_get_registry(display);
  static const wl_registry_listener listener = {Global, GlobalRemove};
  wl_registry_add_listener(registry, &listener, nullptr);
  wl_display_roundtrip(display);
  if (fake == nullptr) {
    std::puts("no fake input");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(fake, "Flinto tests", "pointer");
  wl_display_roundtrip(display);
  std::puts("ready");
  std::fflush(stdout);
  auto move = [&](const std::string &x, const std::string &y) {
    org_kde_kwin_fake_input_pointer_motion_absolute(
        fake, wl_fixed_from_int(std::stoi(x)), wl_fixed_from_int(std::stoi(y)));
  };
  int syncs = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string verb, a, b, c;
    words >> verb >> a >> b >> c;
    if (verb == "click" && !b.empty()) {
      move(a, b);
      org_kde_kwin_fake_input_button(fake, Button(c), 1);
      org_kde_kwin_fake_input_button(fake, Button(c), 0);
    } else if (verb == "move" && !b.empty()) {
      move(a, b);
    } else if (verb == "press" || verb == "release") {
      org_kde_kwin_fake_input_button(fake, Button(a), verb == "press" ? 1 : 0);
    } else if (verb == "sync") {
      wl_display_roundtrip(display);
      std::printf("synced %d\n", ++syncs);
      std::fflush(stdout);
      continue;
    }
    wl_display_flush(display);
  }
  wl_display_disconnect(display);
  return 0;
}
