// flinto-x11 and flinto-wayland: the on-screen keyboard on a Linux desktop,
// each with one host, as flinto (launcher.cpp) chooses: the Wayland host
// where the compositor offers layer surfaces and virtual keyboards, else
// the X11 host ($DISPLAY, Xwayland included); FLINTO_HOST=x11 or
// FLINTO_HOST=wayland chooses. One line on stderr says which and why.
// --help and --version answer without touching any display.
//
// Built twice, so that neither loads the other's libraries (a start on X11
// would spend a third of its time loading the Wayland and D-Bus stack it
// never uses). flinto-wayland hands the start to flinto-x11, beside it,
// with the reason, when the compositor is not one it can run on;
// flinto-x11 started for a Wayland session (not through flinto) hands it to
// flinto-wayland first.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "platform/desktop/host_choice.h"
#include "platform/linux/program_folder.h"
#include "platform/portable/registry.h"
#ifdef FLINTO_WAYLAND_PROGRAM
#include "platform/wayland/wayland_driver.h"
#else
#include "platform/x11/x11_driver.h"
#endif

namespace {

// Why the Wayland host did not run, as flinto-wayland hands it back.
constexpr char kRefusedVariable[] = "FLINTO_WAYLAND_REFUSED";

// Runs the other program of the two, beside this one (as built and as
// installed). Returns only when it does not run.
void ExecOther(const char *name, char **argv) {
  const std::string folder = linuxhost::ProgramFolder();
  if (folder.empty())
    return;
  std::string program = folder + name;
  argv[0] = program.data();
  execv(program.c_str(), argv);
}

// SIGTERM, SIGINT, SIGHUP: the usual way out, as the close button takes it
// (keys released, tray icon removed, settings saved).
void Terminate() {
  if (IsWindow(g_keyboardWindow))
    PostMessageA(g_keyboardWindow, WM_CLOSE, 0, 0);
  else if (IsWindow(g_ownerWindow)) // it makes a lost keyboard anew
    PostMessageA(g_ownerWindow, WM_COMMAND, ID_EXIT, 0);
  else
    PostQuitMessage(0);
}

template <typename Driver> int Run(std::unique_ptr<Driver> driver) {
  static const std::string settingsFile = portable::DefaultRegistryFile();
  portable::SetRegistryFile(settingsFile);
  g_settingsSavedHook = [](bool ok) {
    if (!ok)
      std::fprintf(stderr, "flinto: the settings could not be saved to %s\n",
                   settingsFile.c_str());
  };
  portable::SetDriver(driver.get());
  driver->onTerminate = Terminate;
  driver->onConnectionLost = [] { SaveSettings(); };
  const int code = FlintoMain(reinterpret_cast<HINSTANCE>(0x400000));
  portable::SetDriver(nullptr);
  driver.reset();
  return code;
}

constexpr char kUsage[] =
    "Usage: flinto [OPTION]\n"
    "An on-screen keyboard with a Japanese (JIS) layout for people who work\n"
    "with the mouse alone. Its keys type into the application you were\n"
    "typing in; it never takes the keyboard focus. Its icon is in the tray;\n"
    "starting flinto while it runs shows its keyboard.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Environment:\n"
    "  WAYLAND_DISPLAY  a Wayland compositor: used when it offers layer\n"
    "                   surfaces and virtual keyboards (wlroots compositors)\n"
    "  DISPLAY          the X display, used otherwise (Xwayland included)\n"
    "  FLINTO_HOST      x11 or wayland: use that host and no other\n"
    "  FLINTO_INJECT    xtest, portal or kwin: on X11, how keys are typed\n"
    "                   (by default XTest, or under Xwayland on GNOME and\n"
    "                   KDE the compositor's fake input, else the desktop\n"
    "                   portal's remote desktop session)\n"
    "  XDG_CONFIG_HOME  where the settings live: $XDG_CONFIG_HOME/flinto/\n"
    "                   registry.txt, or ~/.config/flinto/registry.txt\n";

// The options, read before any display is touched. Returns the exit status
// when the program is to end at once, -1 to run.
int ReadOptions(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("flinto %s\n", FLINTO_VERSION);
      return 0;
    }
    std::fprintf(stderr,
                 "flinto: unknown option \"%s\"\nTry \"flinto --help\" for "
                 "the options.\n",
                 arg.c_str());
    return 2;
  }
  return -1;
}

std::string Quoted(const char *value) {
  return value != nullptr && *value != '\0' ? std::string("\"") + value + "\""
                                            : std::string("(not set)");
}

} // namespace

int main(int argc, char **argv) {
  const int status = ReadOptions(argc, argv);
  if (status >= 0)
    return status;
  const char *forced = std::getenv("FLINTO_HOST");
  const char *waylandName = std::getenv("WAYLAND_DISPLAY");
  const std::string host = forced != nullptr ? forced : "";
  if (!host.empty() && host != "x11" && host != "wayland") {
    std::fprintf(stderr,
                 "flinto: FLINTO_HOST is \"%s\"; it must be x11 or wayland\n",
                 host.c_str());
    return 1;
  }
  const bool waylandWanted = desktop::WaylandWanted(forced, waylandName);

#ifdef FLINTO_WAYLAND_PROGRAM
  std::string waylandError = "WAYLAND_DISPLAY is not set";
  if (waylandWanted) {
    std::unique_ptr<wayland::WaylandDriver> driver =
        wayland::WaylandDriver::Open(&waylandError);
    if (driver != nullptr) {
      std::fprintf(stderr, "flinto: running on Wayland (%s): %s\n",
                   Quoted(waylandName).c_str(),
                   host.empty() ? "the compositor offers layer surfaces and "
                                  "virtual keyboards"
                                : "FLINTO_HOST=wayland");
      return Run(std::move(driver));
    }
  }
  if (host == "wayland") {
    std::fprintf(stderr, "flinto: FLINTO_HOST=wayland, but %s\n",
                 waylandError.c_str());
    return 1;
  }
  // X11, with the reason.
  setenv(kRefusedVariable, waylandError.c_str(), 1);
  ExecOther("flinto-x11", argv);
  std::fprintf(stderr,
               "flinto: %s, and the X11 host (flinto-x11) cannot be run\n",
               waylandError.c_str());
  return 1;
#else
  const char *displayName = std::getenv("DISPLAY");
  std::string waylandError;
  if (const char *refused = std::getenv(kRefusedVariable)) {
    waylandError = refused;
    unsetenv(kRefusedVariable);
  } else if (waylandWanted) {
    ExecOther("flinto-wayland", argv);
    waylandError = "the Wayland host (flinto-wayland) cannot be run";
    if (host == "wayland") {
      std::fprintf(stderr, "flinto: FLINTO_HOST=wayland, but %s\n",
                   waylandError.c_str());
      return 1;
    }
  }

  std::string x11Error;
  std::unique_ptr<x11::X11Driver> driver =
      x11::X11Driver::Open(nullptr, &x11Error);
  if (driver == nullptr) {
    // Nothing to run on: what was tried, in one line.
    std::fprintf(stderr, "flinto: %s, and %s\n",
                 !waylandError.empty() ? waylandError.c_str()
                 : host == "x11"       ? "FLINTO_HOST=x11"
                                       : "WAYLAND_DISPLAY is not set",
                 x11Error.c_str());
    return 1;
  }
  std::string why;
  if (host == "x11")
    why = "FLINTO_HOST=x11";
  else if (!waylandError.empty())
    why = waylandError;
  else
    why = "WAYLAND_DISPLAY is not set";
  std::fprintf(stderr, "flinto: running on X11 (%s): %s\n",
               Quoted(displayName).c_str(), why.c_str());
  // Under Xwayland on a compositor the Wayland host cannot run on, XTest
  // reaches X11 applications only: the compositor's own ways are tried.
  std::string keys;
  const bool refused = !waylandError.empty() && host != "x11";
  if (!driver->ChooseKeyPath(refused, &keys)) {
    std::fprintf(stderr, "flinto: %s\n", keys.c_str());
    return 1;
  }
  if (!keys.empty())
    std::fprintf(stderr, "flinto: %s\n", keys.c_str());
  return Run(std::move(driver));
#endif
}
