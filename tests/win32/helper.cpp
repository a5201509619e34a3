// Asks things of a running Flinto from outside, as the tests need:
//   helper tray        the tray icon's left click (there is no tray to click)
//   helper foreground  the class of the foreground window
//   helper alpha       the keyboard's layered alpha, or "none"
//   helper rect        the keyboard window's rectangle: X Y W H
//   helper activated   "yes" when the keyboard is the active window
//   helper command ID  a WM_COMMAND to the keyboard window
//   helper close       WM_CLOSE to the keyboard window
//   helper handle      the keyboard window's handle
//   helper owned       "yes" when the keyboard belongs to the foreground
//                      window (made anew for the application in front)
//   helper version EXE  the program's version resource: "FILE PRODUCT NAME"
//   helper manifest EXE the program's manifest
//   helper icons EXE    the sizes and depths of its icon 101's images
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
  if (argc < 2)
    return 2;
  const char *what = argv[1];
  if (argc > 2 && std::strcmp(what, "version") == 0) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[2], &ignored);
    std::string data(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(argv[2], 0, size, &data[0]))
      return 1;
    auto value = [&](const char *name) -> std::string {
      char *text = nullptr;
      UINT length = 0;
      const std::string path =
          std::string("\\StringFileInfo\\040904B0\\") + name;
      if (!VerQueryValueA(data.data(), path.c_str(),
                          reinterpret_cast<void **>(&text), &length) ||
          text == nullptr)
        return "?";
      return text;
    };
    std::printf("%s %s %s\n", value("FileVersion").c_str(),
                value("ProductVersion").c_str(), value("ProductName").c_str());
    return 0;
  }
  if (argc > 2 &&
      (std::strcmp(what, "manifest") == 0 || std::strcmp(what, "icons") == 0)) {
    HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
      return 1;
    if (std::strcmp(what, "manifest") == 0) {
      HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1),
                                  MAKEINTRESOURCEA(24) /* RT_MANIFEST */);
      if (found == nullptr)
        return 1;
      const char *text =
          static_cast<const char *>(LockResource(LoadResource(module, found)));
      std::fwrite(text, 1, SizeofResource(module, found), stdout);
      return 0;
    }
    // The group icon: a header of three words, then 14 bytes an image.
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101),
                                MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    if (found == nullptr)
      return 1;
    const BYTE *group =
        static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
    const int count = group[4] | (group[5] << 8);
    for (int i = 0; i < count; ++i) {
      const BYTE *entry = group + 6 + 14 * i;
      std::printf("%d/%d\n", entry[0] == 0 ? 256 : entry[0],
                  entry[6] | (entry[7] << 8));
    }
    return 0;
  }
  HWND keyboard = FindWindowA("FlintoFrame", nullptr);
  if (std::strcmp(what, "tray") == 0) {
    HWND owner = FindWindowA("FlintoHidden", nullptr);
    if (owner == nullptr)
      return 1;
    PostMessageA(owner, WM_USER + 100, 1, WM_LBUTTONDOWN);
    return 0;
  }
  if (std::strcmp(what, "foreground") == 0) {
    char name[256] = "none";
    if (HWND f = GetForegroundWindow())
      GetClassNameA(f, name, sizeof name);
    std::printf("%s\n", name);
    return 0;
  }
  if (keyboard == nullptr)
    return 1;
  if (std::strcmp(what, "alpha") == 0) {
    BYTE alpha = 0;
    DWORD flags = 0;
    if ((GetWindowLongA(keyboard, GWL_EXSTYLE) & WS_EX_LAYERED) &&
        GetLayeredWindowAttributes(keyboard, nullptr, &alpha, &flags))
      std::printf("%u\n", unsigned(alpha));
    else
      std::printf("none\n");
    return 0;
  }
  if (std::strcmp(what, "rect") == 0) {
    RECT r;
    GetWindowRect(keyboard, &r);
    std::printf("%ld %ld %ld %ld\n", long(r.left), long(r.top),
                long(r.right - r.left), long(r.bottom - r.top));
    return 0;
  }
  if (std::strcmp(what, "command") == 0 && argc > 2) {
    PostMessageA(keyboard, WM_COMMAND, WPARAM(std::atoi(argv[2])), 0);
    return 0;
  }
  if (std::strcmp(what, "close") == 0) {
    PostMessageA(keyboard, WM_CLOSE, 0, 0);
    return 0;
  }
  if (std::strcmp(what, "handle") == 0) {
    std::printf("%p\n", static_cast<void *>(keyboard));
    return 0;
  }
  if (std::strcmp(what, "owned") == 0) {
    const HWND owner = GetWindow(keyboard, GW_OWNER);
    std::printf("%s\n", owner != nullptr && owner == GetForegroundWindow()
                            ? "yes"
                            : "no");
    return 0;
  }
  if (std::strcmp(what, "activated") == 0) {
    std::printf("%s\n", GetForegroundWindow() == keyboard ? "yes" : "no");
    return 0;
  }
  return 2;
}
