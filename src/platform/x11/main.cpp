// flinto: the on-screen keyboard on an X11 desktop.
#include <cstdio>
#include <string>

#include "app/app.h"
#include "platform/portable/registry.h"
#include "platform/x11/x11_driver.h"

int main() {
  std::string error;
  std::unique_ptr<x11::X11Driver> driver =
      x11::X11Driver::Open(nullptr, &error);
  if (driver == nullptr) {
    std::fprintf(stderr, "flinto: %s\n", error.c_str());
    return 1;
  }
  portable::SetRegistryFile(portable::DefaultRegistryFile());
  portable::SetDriver(driver.get());
  // SIGTERM, SIGINT, SIGHUP: the usual way out, as the close button takes
  // it (keys released, tray icon removed, settings saved).
  driver->onTerminate = [] {
    if (g_keyboardWindow != nullptr)
      PostMessageA(g_keyboardWindow, WM_CLOSE, 0, 0);
    else
      PostQuitMessage(0);
  };
  driver->onConnectionLost = [] { SaveSettings(); };
  const int code = FlintoMain(reinterpret_cast<HINSTANCE>(0x400000));
  portable::SetDriver(nullptr);
  driver.reset();
  return code;
}
