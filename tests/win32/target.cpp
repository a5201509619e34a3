// A small Win32 application that logs every key message it receives, one
// line each, to the file named on its command line:
//   keydown vk=0x41 scan=0x1e ext=0
//   char 0x41
#include <windows.h>

#include <cstdio>

namespace {

FILE *logFile = nullptr;

void Log(const char *kind, WPARAM wParam, LPARAM lParam) {
  std::fprintf(logFile, "%s vk=0x%02x scan=0x%02x ext=%d\n", kind,
               unsigned(wParam), unsigned((lParam >> 16) & 0xFF),
               int((lParam >> 24) & 1));
  std::fflush(logFile);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_KEYDOWN:
    Log("keydown", wParam, lParam);
    return 0;
  case WM_KEYUP:
    Log("keyup", wParam, lParam);
    return 0;
  case WM_SYSKEYDOWN:
    Log("syskeydown", wParam, lParam);
    return 0;
  case WM_SYSKEYUP:
    Log("syskeyup", wParam, lParam);
    return 0;
  case WM_CHAR:
    std::fprintf(logFile, "char 0x%02x\n", unsigned(wParam));
    std::fflush(logFile);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
  logFile =
      std::fopen(cmdLine != nullptr && *cmdLine ? cmdLine : "target.log", "w");
  if (logFile == nullptr)
    return 1;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "FlintoTestTarget";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "FlintoTestTarget", "Flinto test target",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 500,
                              300, nullptr, nullptr, instance, nullptr);
  SetForegroundWindow(hwnd);
  SetFocus(hwnd);
  std::fprintf(logFile, "ready\n");
  std::fflush(logFile);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
