// The scenario runner: starts the real program on the simulated desktop and
// drives it from a script, one command per line.
#include "platform/sim/scenario.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "model/keyset.h"
#include "platform/linux/menu_view.h"
#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/png.h"
#include "platform/portable/registry.h"
#include "platform/portable/testing.h"
#include "platform/portable/text.h"
#include "platform/portable/trace.h"
#include "platform/resources/context_menu.h"
#include "platform/sim/sim_driver.h"
#include "render/render.h"

namespace sim {

namespace {

struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string Hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%02x", value);
  return buffer;
}

class Runner {
public:
  Runner(std::istream &script, std::ostream &out, const std::string &settings)
      : script_(script), out_(out), driver_(out), settings_(settings) {}

  int Run();

private:
  bool NextCommand(); // false at the end of the script
  void Execute(const std::vector<std::string> &words);
  void BeforeStart(const std::vector<std::string> &words);
  bool MonitorCommand(const std::vector<std::string> &words);
  void AfterStart(const std::vector<std::string> &words);
  void Setting(const std::vector<std::string> &words);
  [[noreturn]] void Fail(const std::string &why) {
    throw ScenarioError("line " + std::to_string(line_) + ": " + why);
  }
  long Number(const std::string &text, long min, long max);
  uint32_t KeyId(const std::string &text);
  POINT KeyCentre(uint32_t id);
  void PrintState();
  void PrintKeys();
  void PrintLayout();

  std::istream &script_;
  std::ostream &out_;
  SimDriver driver_;
  std::string settings_;
  int line_ = 0;
  bool started_ = false;
  bool ended_ = false;
  bool closeSent_ = false;
  bool exited_ = false;
};

long Runner::Number(const std::string &text, long min, long max) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || end == nullptr || *end != '\0' || errno != 0 ||
      value < min || value > max)
    Fail("not a number in range: " + text);
  return value;
}

uint32_t Runner::KeyId(const std::string &text) {
  return static_cast<uint32_t>(Number(text, 0, 0xFFFF));
}

POINT Runner::KeyCentre(uint32_t id) {
  const KeyEntry *entry = FindKey(id);
  if (entry == nullptr)
    Fail("no key " + Hex(id) + " on the keyboard");
  RECT window = {0, 0, 0, 0};
  GetWindowRect(g_keyboardWindow, &window);
  const RECT r = KeyPixelRect(*entry);
  return {window.left + (r.left + r.right) / 2,
          window.top + (r.top + r.bottom) / 2};
}

void Runner::Setting(const std::vector<std::string> &words) {
  if (words.size() < 3)
    Fail("setting NAME dword N | sz TEXT | absent");
  const std::string &name = words[1];
  const std::string &kind = words[2];
  const std::string path = std::string("Software\\") + kSettingsPath;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                      KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    Fail("cannot write the settings");
  if (kind == "dword" && words.size() == 4) {
    const DWORD value =
        static_cast<DWORD>(Number(words[3], -2147483648L, 4294967295L));
    RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                   reinterpret_cast<const BYTE *>(&value), sizeof value);
  } else if (kind == "sz" && words.size() >= 4) {
    std::string text = words[3];
    for (size_t i = 4; i < words.size(); ++i)
      text += " " + words[i];
    RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  } else if (kind == "absent" && words.size() == 3) {
    // Writing nothing leaves the value missing; a value written earlier in
    // the script is replaced by one of no type, which reads as missing too.
    RegSetValueExA(key, name.c_str(), 0, REG_NONE, nullptr, 0);
  } else {
    RegCloseKey(key);
    Fail("setting NAME dword N | sz TEXT | absent");
  }
  RegCloseKey(key);
}

// "monitor add L T R B [WL WT WR WB]" and "monitor remove N": true when
// the line was one of them.
bool Runner::MonitorCommand(const std::vector<std::string> &w) {
  if (w[0] != "monitor")
    return false;
  auto coordinate = [&](size_t i) { return LONG(Number(w[i], -32768, 32767)); };
  if (w.size() >= 2 && w[1] == "add" && (w.size() == 6 || w.size() == 10)) {
    portable::Driver::Monitor m;
    m.rect = {coordinate(2), coordinate(3), coordinate(4), coordinate(5)};
    m.work = w.size() == 10 ? RECT{coordinate(6), coordinate(7), coordinate(8),
                                   coordinate(9)}
                            : m.rect;
    driver_.AddMonitor(m);
  } else if (w.size() == 3 && w[1] == "remove") {
    driver_.RemoveMonitor(size_t(Number(w[2], 1, 65535) - 1));
  } else {
    Fail("monitor add L T R B [WL WT WR WB] | remove N");
  }
  return true;
}

void Runner::BeforeStart(const std::vector<std::string> &w) {
  const std::string &c = w[0];
  if (MonitorCommand(w)) {
  } else if (c == "dpi" && w.size() == 2) {
    driver_.SetDpi(int(Number(w[1], 1, 10000)));
  } else if (c == "scale" && w.size() == 2) {
    driver_.SetScale(int(Number(w[1], 1, 8)));
  } else if (c == "screen" && w.size() == 3) {
    driver_.SetScreen(int(Number(w[1], 1, 16384)), int(Number(w[2], 1, 16384)));
  } else if (c == "workarea" && w.size() == 2 && w[1] == "fail") {
    driver_.FailWorkArea();
  } else if (c == "workarea" && w.size() == 5) {
    driver_.SetWorkArea(RECT{
        LONG(Number(w[1], -32768, 32767)), LONG(Number(w[2], -32768, 32767)),
        LONG(Number(w[3], -32768, 32767)), LONG(Number(w[4], -32768, 32767))});
  } else if (c == "setting") {
    Setting(w);
  } else if (c == "registry" && w.size() == 2 && w[1] == "fail-read") {
    portable::SetRegistryFailures(true, false);
  } else if (c == "registry" && w.size() == 2 && w[1] == "fail-write") {
    portable::SetRegistryFailures(false, true);
  } else if (c == "registry" && w.size() == 2 && w[1] == "disk-full") {
    portable::SetRegistryFailures(false, false, true);
  } else if (c == "other-instance" && w.size() == 1) {
    // Flinto already runs on this desktop: its owner window is there.
    driver_.AddOtherInstance();
  } else if (c == "layered" && w.size() == 2 && w[1] == "off") {
    driver_.SetLayeredAvailable(false);
  } else if (c == "tray" && w.size() == 2 && w[1] == "fail") {
    driver_.FailTray();
  } else if (c == "hooks" && w.size() == 2 && w[1] == "off") {
    driver_.DisableHooks();
  } else if (c == "hooks" && w.size() == 2 && w[1] == "changes") {
    driver_.ReportChangesOnly();
  } else if (c == "hooks" && w.size() == 2 && w[1] == "silent") {
    driver_.SilenceForeground();
  } else if (c == "font" && w.size() == 2 && w[1] == "missing") {
    portable::SetFontsEnabled(false);
  } else {
    Fail("unknown command before start: " + c);
  }
}

void Runner::AfterStart(const std::vector<std::string> &w) {
  const std::string &c = w[0];
  auto button = [&](const std::string &which) {
    if (which == "left")
      return true;
    if (which == "right")
      return false;
    Fail("left or right expected: " + which);
  };
  if (c == "tray" && w.size() == 2 && w[1] == "gone") {
    driver_.TrayGone();
  } else if (c == "tray" && w.size() == 2 && w[1] == "back") {
    driver_.TrayBack();
  } else if (c == "second-instance" && w.size() == 1) {
    // Flinto started again on this desktop: its start-up finds this one.
    const bool found = SignalRunningInstance();
    out_ << "second instance " << (found ? "signalled" : "found none")
         << ", exit 0\n";
  } else if (c == "print" && w.size() == 2 && w[1] == "texts") {
    // The boxes of the lines of text (the caption, the labels, the text
    // buttons), by drawing the whole keyboard again.
    std::vector<RECT> boxes;
    portable::textBoxObserver = [&](const RECT &r) { boxes.push_back(r); };
    const FaceDef &face = BuiltInFaces[g_face];
    RebuildBackBuffer(g_keyboardWindow, g_unit, face.bitmapFile, face.colourA,
                      face.colourB, false, false, true);
    portable::textBoxObserver = nullptr;
    for (const RECT &r : boxes)
      out_ << "text " << r.left << " " << r.top << " " << r.right - r.left
           << " " << r.bottom - r.top << "\n";
  } else if (c == "print" && w.size() == 2 && w[1] == "timers") {
    out_ << "timers owner="
         << (portable::TimerRunning(g_ownerWindow, 1) ? 1 : 0) << " keyboard="
         << (portable::TimerRunning(g_keyboardWindow, 2) ? 1 : 0)
         << " fired=" << portable::TimerMessageCount() << "\n";
  } else if (c == "command" && w.size() == 3 &&
             (w[1] == "owner" || w[1] == "keyboard")) {
    // A WM_COMMAND posted as another program (or a stale menu) could.
    const WPARAM id = WPARAM(Number(w[2], 0, 0xFFFFFFFFL));
    PostMessageA(w[1] == "owner" ? g_ownerWindow : g_keyboardWindow, WM_COMMAND,
                 id, 0);
  } else if (c == "scale" && w.size() == 2) {
    // The keyboard goes to an output of another scale.
    driver_.SetScale(int(Number(w[1], 1, 8)));
    portable::SetWindowScale(g_keyboardWindow, int(Number(w[1], 1, 8)));
  } else if (MonitorCommand(w)) {
    // A monitor plugged in or taken away: as a change of the display.
    portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 24, 0);
  } else if (c == "screen" && w.size() == 3) {
    // The screen changes size: the system tells every top-level window.
    driver_.SetScreen(int(Number(w[1], 1, 16384)), int(Number(w[2], 1, 16384)));
    portable::PostToTopLevelWindows(WM_DISPLAYCHANGE, 24, 0);
  } else if (c == "workarea" && w.size() == 5) {
    driver_.SetWorkArea(RECT{
        LONG(Number(w[1], -32768, 32767)), LONG(Number(w[2], -32768, 32767)),
        LONG(Number(w[3], -32768, 32767)), LONG(Number(w[4], -32768, 32767))});
    portable::PostToTopLevelWindows(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  } else if (c == "move" && w.size() == 3) {
    // Someone else moves the keyboard (a window manager, a pager).
    portable::WindowMovedByHost(g_keyboardWindow,
                                LONG(Number(w[1], -32768, 32767)),
                                LONG(Number(w[2], -32768, 32767)));
    RECT moved = {0, 0, 0, 0};
    GetWindowRect(g_keyboardWindow, &moved);
    driver_.WindowMoved(g_keyboardWindow, moved);
  } else if (c == "taskbar" && w.size() == 2 && w[1] == "front") {
    driver_.SetForeground(FindWindowA("Shell_TrayWnd", nullptr));
  } else if (c == "tray" && w.size() == 2) {
    const UINT message = w[1] == "left"     ? WM_LBUTTONDOWN
                         : w[1] == "double" ? WM_LBUTTONDBLCLK
                         : w[1] == "right"  ? WM_RBUTTONUP
                                            : 0;
    if (message == 0)
      Fail("tray left|double|right");
    driver_.TrayNotify(message);
  } else if (c == "pointer" && w.size() == 3 && w[1] == "key") {
    driver_.MovePointer(KeyCentre(KeyId(w[2])));
  } else if (c == "pointer" && w.size() == 2 && w[1] == "bg") {
    RECT window = {0, 0, 0, 0};
    GetWindowRect(g_keyboardWindow, &window);
    driver_.MovePointer(POINT{window.left + 1, window.top + 1});
  } else if (c == "pointer" && w.size() == 2 && w[1] == "outside") {
    RECT window = {0, 0, 0, 0};
    GetWindowRect(g_keyboardWindow, &window);
    int sw = 0, sh = 0;
    driver_.ScreenSize(&sw, &sh);
    const POINT candidates[] = {
        {0, 0}, {sw / 2, 0}, {0, sh / 2}, {sw - 1, 0}, {0, sh - 60}};
    POINT chosen = candidates[0];
    for (const POINT &p : candidates)
      if (!(p.x >= window.left && p.x < window.right && p.y >= window.top &&
            p.y < window.bottom)) {
        chosen = p;
        break;
      }
    driver_.MovePointer(chosen);
  } else if (c == "pointer" && w.size() == 3) {
    driver_.MovePointer(POINT{LONG(Number(w[1], -32768, 32767)),
                              LONG(Number(w[2], -32768, 32767))});
  } else if ((c == "press" || c == "release") && w.size() == 2) {
    driver_.Button(button(w[1]), c == "press");
  } else if (c == "click" &&
             (w.size() == 2 || (w.size() == 4 && w[2] == "key"))) {
    const bool left = button(w[1]);
    if (w.size() == 4)
      driver_.MovePointer(KeyCentre(KeyId(w[3])));
    driver_.Button(left, true);
    driver_.Button(left, false);
  } else if (c == "tick" && w.size() <= 2) {
    driver_.AdvanceClock(w.size() == 2 ? uint64_t(Number(w[1], 0, 86400000))
                                       : 100);
  } else if (c == "menu" && w.size() == 2) {
    driver_.SetMenuChoice(
        w[1] == "cancel" ? 0 : UINT(Number(w[1], ID_EXIT, ID_TRANSLUCENT)));
  } else if (c == "print" && w.size() == 2 && w[1] == "state") {
    PrintState();
  } else if (c == "print" && w.size() == 2 && w[1] == "keys") {
    PrintKeys();
  } else if (c == "print" && w.size() == 2 && w[1] == "layout") {
    PrintLayout();
  } else if (c == "print" && w.size() == 2 && w[1] == "menu") {
    // The context menu as the Linux hosts lay it out: its size, then each
    // command's row (from its top to below its bottom), so that tests
    // click entries by their place on the screen.
    const std::vector<portable::MenuItem> items = linuxhost::ContextMenuItems();
    const linuxhost::MenuView view(items);
    out_ << "menu " << view.width() << " " << view.height() << "\n";
    for (size_t i = 0; i < items.size(); ++i)
      if (!items[i].separator)
        out_ << "menu-item " << items[i].id << " " << view.Top(i) << " "
             << view.Bottom(i) << "\n";
  } else if (c == "dump" && w.size() == 2) {
    const portable::Bitmap *bitmap = portable::BitmapOf(BackBuffer);
    if (bitmap == nullptr || !portable::WritePng(*bitmap, w[1]))
      Fail("cannot dump the keyboard to " + w[1]);
  } else if (c == "dump" && w.size() == 3 && w[1] == "window") {
    // What the host shows: the window's picture as the program painted it.
    const portable::Bitmap *bitmap = portable::WindowSurface(g_keyboardWindow);
    if (bitmap == nullptr || !portable::WritePng(*bitmap, w[2]))
      Fail("cannot dump the keyboard's window to " + w[2]);
  } else if (c == "message" && w.size() == 3 && w[1] == "close") {
    if (w[2] != "keyboard" && w[2] != "owner")
      Fail("message close keyboard|owner");
    PostMessageA(w[2] == "owner" ? g_ownerWindow : g_keyboardWindow, WM_CLOSE,
                 0, 0);
  } else if (c == "message" && w.size() == 2 && w[1] == "endsession") {
    PostMessageA(g_ownerWindow, WM_ENDSESSION, TRUE, 0);
  } else {
    Fail("unknown command: " + c);
  }
}

void Runner::Execute(const std::vector<std::string> &w) {
  const std::string &c = w[0];
  if (c == "end" && w.size() == 1) {
    ended_ = true;
  } else if (exited_) {
    if (!(c == "print" && w.size() == 2 && w[1] == "keys"))
      Fail("the program has ended: only \"print keys\" can follow");
    PrintKeys();
  } else if (c == "app" && w.size() == 2) {
    driver_.App(w[1]);
  } else if (c == "close-app" && w.size() == 4 && w[2] == "after-posting") {
    // Something is posted to the keyboard and, before it is taken from the
    // queue, the application closes (and its keyboard window with it).
    if (w[3] == "close")
      PostMessageA(g_keyboardWindow, WM_CLOSE, 0, 0);
    else
      PostMessageA(g_keyboardWindow, WM_COMMAND,
                   WPARAM(Number(w[3], 0, 0xFFFFFFFFL)), 0);
    if (!driver_.CloseApp(w[1]))
      Fail("no application " + w[1]);
  } else if (c == "close-app" && w.size() == 2) {
    if (!driver_.CloseApp(w[1]))
      Fail("no application " + w[1]);
  } else if (c == "physical" && w.size() == 3 && w[1] == "shift" &&
             (w[2] == "down" || w[2] == "up")) {
    driver_.SetPhysicalShift(w[2] == "down");
  } else if (c == "physical" && w.size() == 3 &&
             (w[1] == "caps" || w[1] == "kana") &&
             (w[2] == "on" || w[2] == "off")) {
    driver_.SetPhysicalToggle(w[1] == "caps" ? VK_CAPITAL : VK_KANA,
                              w[2] == "on");
  } else if (c == "start" && w.size() == 1) {
    if (started_)
      Fail("start given twice");
    started_ = true;
  } else if (!started_) {
    BeforeStart(w);
  } else {
    AfterStart(w);
  }
}

bool Runner::NextCommand() {
  std::string text;
  while (!ended_ && std::getline(script_, text)) {
    ++line_;
    const size_t hash = text.find('#');
    if (hash != std::string::npos)
      text.erase(hash);
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string word; words >> word;)
      w.push_back(word);
    if (w.empty())
      continue;
    const bool wasStarted = started_;
    Execute(w);
    if (ended_)
      return false;
    if (!wasStarted && started_)
      return true; // the caller starts the program
    if (started_)
      return true;
  }
  return false;
}

void Runner::PrintState() {
  RECT r = {0, 0, 0, 0};
  GetWindowRect(g_keyboardWindow, &r);
  std::string down, latched, locked;
  for (const auto &[key, entry] : KeySet) {
    const uint32_t id = key;
    auto add = [&](std::string &list) {
      list += (list.empty() ? "" : ",") + Hex(id);
    };
    if (entry.flags & Down)
      add(down);
    if (entry.flags & Latched)
      add(latched);
    if (entry.flags & Locked)
      add(locked);
  }
  out_ << "state face=" << g_face << " unit=" << g_unit
       << " winkey=" << g_winKey << " transparent=" << g_transparent
       << " alpha=" << g_alpha
       << " visible=" << (IsWindowVisible(g_keyboardWindow) ? 1 : 0)
       << " rect=" << r.left << "," << r.top << "," << r.right - r.left << ","
       << r.bottom - r.top << " target=" << driver_.NameOf(g_targetWindow)
       << " captured="
       << (IsAnyKeyCaptured() ? Hex(GetCapturedKey()) : std::string("none"))
       << " repeat=" << Hex(g_repeatKey) << "/" << g_repeatCountdown
       << " down=" << down << " latched=" << latched << " locked=" << locked
       << "\n";
}

// Every key and button with its client rectangle and the text of its label
// as shown with no modifier (UTF-8, a space written as \s).
void Runner::PrintLayout() {
  for (const auto &[id, entry] : KeySet) {
    if (entry.kind == Frame)
      continue;
    const RECT r = KeyPixelRect(entry);
    std::string text = entry.label;
    if (entry.kind == SystemButton && !text.empty() && text[0] == '\t')
      text.erase(0, 1);
    else if (IsFourLineLabel(text))
      text = std::string(LabelLineFor(text, ModifierState()));
    std::string shown;
    for (char ch : portable::Cp932ToUtf8(text))
      shown += ch == ' ' ? std::string("\\s") : std::string(1, ch);
    out_ << "layout " << Hex(id) << " " << r.left << " " << r.top << " "
         << r.right - r.left << " " << r.bottom - r.top << " " << shown << "\n";
  }
}

void Runner::PrintKeys() {
  std::string list;
  for (int vk : driver_.KeysDown())
    list += (list.empty() ? "" : ",") + Hex(unsigned(vk));
  out_ << "keys down=" << list << "\n";
}

std::ostream *savedLog = nullptr;

void OnSaved(bool ok) {
  if (savedLog == nullptr)
    return;
  *savedLog << "saved Face=" << g_face << " Unit=" << g_unit << " X=" << g_x
            << " Y=" << g_y << " WinKey=" << g_winKey
            << " Transparent=" << g_transparent << "\n";
  if (!ok)
    *savedLog << "save failed\n";
}

int Runner::Run() {
  ResetProcessState();
  portable::ResetAll();
  portable::SetFontsEnabled(true);
  portable::SetRegistryFile(settings_);
  driver_.Install();
  savedLog = &out_;
  g_settingsSavedHook = OnSaved;
  driver_.onIdle = [this] {
    if (!ended_ && NextCommand())
      return true;
    ended_ = true;
    if (closeSent_)
      return false;
    // The end of the script: close the keyboard as a user would, and let
    // the program finish.
    closeSent_ = true;
    SendMessageA(g_keyboardWindow, WM_CLOSE, 0, 0);
    return true;
  };

  // Commands up to `start` run before the program exists.
  if (NextCommand() && started_) {
    const int code = FlintoMain(reinterpret_cast<HINSTANCE>(0x400000));
    out_ << "exit " << code << "\n";
    exited_ = true;
    // After the program has ended, the system's key state can still be
    // looked at.
    while (!ended_ && NextCommand()) {
    }
  }
  return 0;
}

} // namespace

int RunScenario(std::istream &script, std::ostream &out, std::ostream &err,
                const std::string &settingsFile) {
  int status = 0;
  {
    Runner runner(script, out, settingsFile);
    try {
      status = runner.Run();
    } catch (const ScenarioError &e) {
      out.flush();
      err << "flinto-sim: " << e.what() << "\n";
      status = 2;
    }
    out.flush();
  }
  g_settingsSavedHook = nullptr;
  savedLog = nullptr;
  ResetProcessState();
  portable::SetDriver(nullptr);
  portable::ResetAll();
  return status;
}

} // namespace sim
