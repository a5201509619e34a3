// flinto: the on-screen keyboard on an X11 desktop.
#include <cstdio>
#include <string>

#include "app/app.h"
#include "keyboard/keyboard.h"
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
  static const std::string settingsFile = portable::DefaultRegistryFile();
  portable::SetRegistryFile(settingsFile);
  g_settingsSavedHook = [](bool ok) {
    if (!ok)
      std::fprintf(stderr, "flinto: the settings could not be saved to %s\n",
                   settingsFile.c_str());
  };
  portable::SetDriver(driver.get());
  // SIGTERM, SIGINT, SIGHUP: the usual way out, as the close button takes
  // it (keys released, tray icon removed, settings saved).
  driver->onTerminate = [] {
    if (IsWindow(g_keyboardWindow))
      PostMessageA(g_keyboardWindow, WM_CLOSE, 0, 0);
    else if (IsWindow(g_ownerWindow)) // it makes a lost keyboard anew
      PostMessageA(g_ownerWindow, WM_COMMAND, ID_EXIT, 0);
    else
      PostQuitMessage(0);
  };
  driver->onConnectionLost = [] { SaveSettings(); };
  const int code = FlintoMain(reinterpret_cast<HINSTANCE>(0x400000));
  portable::SetDriver(nullptr);
  driver.reset();
  return code;
}
