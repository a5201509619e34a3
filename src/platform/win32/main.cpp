// The Windows entry: the program proper is FlintoMain. The command line
// answers --help and --version (on the console Flinto was started from, or
// in a message box) before anything else happens.
#include <cstring>
#include <string>

#include "app/app.h"

namespace {

constexpr char kUsage[] =
    "Usage: flinto [OPTION]\r\n"
    "An on-screen keyboard with a Japanese (JIS) layout for people who work\r\n"
    "with the mouse alone. Its keys type into the application you were\r\n"
    "typing in; it never takes the keyboard focus. Its icon is in the\r\n"
    "notification area; starting flinto while it runs shows its keyboard.\r\n"
    "\r\n"
    "Options:\r\n"
    "  -h, --help     show this help and exit\r\n"
    "      --version  show the version and exit\r\n"
    "\r\n"
    "Settings: HKEY_CURRENT_USER\\Software\\Orsel\\Flinto\r\n";

// Where the text goes: the standard output when it leads somewhere (a pipe,
// a file, Wine's terminal), else the console of the program that started
// Flinto, else a message box.
void Say(const std::string &text, bool error) {
  const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (AttachConsole(ATTACH_PARENT_PROCESS))
      out = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
  }
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE &&
      WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr) &&
      written == text.size())
    return;
  MessageBoxA(nullptr, text.c_str(), "Flinto",
              MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

// Returns the exit status when the program is to end at once, -1 to run.
int ReadOptions(const char *commandLine) {
  std::string line = commandLine != nullptr ? commandLine : "";
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == ' ')
      ++at;
    if (at >= line.size())
      break;
    size_t end = line.find(' ', at);
    if (end == std::string::npos)
      end = line.size();
    const std::string arg = line.substr(at, end - at);
    at = end;
    if (arg == "-h" || arg == "--help" || arg == "/?") {
      Say(kUsage, false);
      return 0;
    }
    if (arg == "--version") {
      Say(std::string("flinto ") + FLINTO_VERSION + "\r\n", false);
      return 0;
    }
    Say("flinto: unknown option \"" + arg +
            "\"\r\nTry \"flinto --help\" for the options.\r\n",
        true);
    return 2;
  }
  return -1;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const int status = ReadOptions(commandLine);
  if (status >= 0)
    return status;
  return FlintoMain(instance);
}
