#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/app.h"
#include "platform/portable/registry.h"
#include "scenario_helpers.h"
#include "sim_fixture.h"

namespace {

std::string SavedLine(const std::string &out) {
  const size_t at = out.find("saved ");
  if (at == std::string::npos)
    return "";
  return out.substr(at, out.find('\n', at) - at);
}

TEST(Startup, FirstRunPlacesTheKeyboardBottomRightAndSavesAllSix) {
  const auto dir = FreshDir("first-run");
  const std::string file = (dir / "flinto" / "registry.txt").string();
  const ScenarioResult r = RunScript("start\nprint state\nend\n", file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tray add\n"
                   "window 806 604 474 156\n"
                   "state face=2 unit=3 winkey=0 transparent=0 alpha=224 "
                   "visible=0 rect=806,604,474,156 target=none "
                   "captured=none repeat=0x00/0 down= latched= locked=\n"
                   "tray delete\n"
                   "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0\n"
                   "exit 0\n");
  const std::string text = ReadFile(file);
  EXPECT_TRUE(Contains(text, "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]"));
  for (const char *line :
       {"\"Face\"=dword:00000002", "\"Unit\"=dword:00000003",
        "\"X\"=dword:00000326", "\"Y\"=dword:0000025c",
        "\"WinKey\"=dword:00000000", "\"Transparent\"=dword:00000000"})
    EXPECT_TRUE(Contains(text, line)) << line << "\n" << text;

  // The second run reads what the first wrote.
  const ScenarioResult again = RunScript("start\nend\n", file);
  EXPECT_EQ(SavedLine(again.out),
            "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0");
  std::filesystem::remove_all(dir);
}

TEST(Startup, ClampsAndDefaults) {
  struct Case {
    const char *settings;
    const char *saved;
  } cases[] = {
      {"setting Face dword 7\nsetting Unit sz hello\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      {"setting Face dword -4\nsetting Unit dword 9\n",
       "saved Face=0 Unit=6 X=992 Y=448 WinKey=0 Transparent=0"},
      {"setting Face dword 1\nsetting Unit dword 1\n",
       "saved Face=1 Unit=2 X=1184 Y=656 WinKey=0 Transparent=0"},
      // The bounds themselves and one past them.
      {"setting Face dword 3\nsetting Unit dword 7\n",
       "saved Face=2 Unit=6 X=332 Y=448 WinKey=0 Transparent=0"},
      {"setting Face dword -1\nsetting Unit dword 6\n",
       "saved Face=0 Unit=6 X=992 Y=448 WinKey=0 Transparent=0"},
      {"setting Face dword 2\nsetting Unit dword 2\n",
       "saved Face=2 Unit=2 X=964 Y=656 WinKey=0 Transparent=0"},
      // Only X unset, or only Y: both coordinates are placed anew.
      {"setting X dword -32767\nsetting Y dword 100\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      {"setting X dword 100\nsetting Y dword -32767\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      {"setting X dword -32766\nsetting Y dword 100\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      // A stored position is kept while at least half the keyboard's width
      // (237 of 474) and half its height (78 of 156) lie in the work area
      // (0,0)-(1280,760); otherwise the keyboard goes to the corner.
      {"setting X dword -237\nsetting Y dword -78\n",
       "saved Face=2 Unit=3 X=-237 Y=-78 WinKey=0 Transparent=0"},
      {"setting X dword -238\nsetting Y dword 0\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      {"setting X dword 0\nsetting Y dword -79\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      {"setting X dword 1043\nsetting Y dword 682\n",
       "saved Face=2 Unit=3 X=1043 Y=682 WinKey=0 Transparent=0"},
      {"setting X dword 1044\nsetting Y dword 0\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      {"setting X dword 0\nsetting Y dword 683\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      // A single visible pixel is not enough; the other values stay.
      {"setting X dword -473\nsetting Y dword -155\nsetting WinKey dword 5\n"
       "setting Transparent dword 1\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=5 Transparent=1"},
      {"setting X dword 5000\nsetting Y dword 100\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
      // Values of other types read as missing.
      {"setting Face sz 0\nsetting X absent\n",
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.settings);
    const ScenarioResult r = RunScript(std::string(c.settings) + "start\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(SavedLine(r.out), c.saved);
  }
}

TEST(Startup, AnEmptyWorkAreaKeepsTheStoredPosition) {
  // A work area with no height (a panel's strut taking it all): nothing
  // can be judged against it, and the stored position is kept.
  const ScenarioResult r = RunScript(
      "workarea 0 100 1280 100\nsetting X dword 5\nsetting Y dword 7\nstart\n");
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=2 Unit=3 X=5 Y=7 WinKey=0 Transparent=0");
}

TEST(Startup, WorkAreaUnavailableUsesTheScreen) {
  // The screen is 1280 x 800: the keyboard goes to its corner, not off it.
  ScenarioResult r = RunScript("workarea fail\nstart\n");
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=2 Unit=3 X=806 Y=644 WinKey=0 Transparent=0");
  // A stored position is judged against the screen too.
  r = RunScript("workarea fail\nsetting X dword 1043\nsetting Y dword 722\n"
                "start\n");
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=2 Unit=3 X=1043 Y=722 WinKey=0 Transparent=0");
}

TEST(Startup, UnreadableAndUnwritableRegistry) {
  const auto dir = FreshDir("registry-fail");
  const std::string file = (dir / "registry.txt").string();
  WriteFile(file, "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
                  "\"Face\"=dword:00000000\n");
  ScenarioResult r = RunScript("registry fail-write\nstart\n", file);
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=0 Unit=3 X=1136 Y=604 WinKey=0 Transparent=0");
  // The failed save left the file as it was.
  EXPECT_EQ(ReadFile(file), "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
                            "\"Face\"=dword:00000000\n");
  EXPECT_TRUE(Contains(r.out, "save failed\n"));
  // Values that could not be read run as defaults, but are not written
  // over what is stored...
  r = RunScript("registry fail-read\nstart\n", file);
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0");
  EXPECT_FALSE(Contains(r.out, "save failed"));
  EXPECT_EQ(ReadFile(file), "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
                            "\"Face\"=dword:00000000\n");
  // ...unless the user changed them: here the unit and the position.
  r = RunScript("registry fail-read\nstart\ntray left\nmenu 40005\n"
                "tray right\n",
                file);
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=2 Unit=4 X=648 Y=552 WinKey=0 Transparent=0");
  const std::string text = ReadFile(file);
  EXPECT_TRUE(Contains(text, "\"Face\"=dword:00000000")) << text;
  EXPECT_TRUE(Contains(text, "\"Unit\"=dword:00000004")) << text;
  EXPECT_TRUE(Contains(text, "\"X\"=dword:00000288")) << text;
  EXPECT_FALSE(Contains(text, "WinKey")) << text;
  std::filesystem::remove_all(dir);
}

TEST(Startup, OneSaveReplacesTheFileOnce) {
  const auto dir = FreshDir("once");
  const std::string file = (dir / "flinto" / "registry.txt").string();
  // The first save creates the keys and sets six values: one replacement.
  int before = portable::RegistryFileWrites();
  ScenarioResult r = RunScript("start\n", file);
  EXPECT_EQ(portable::RegistryFileWrites() - before, 1);
  // A later one likewise; at WM_ENDSESSION and exit, one each.
  before = portable::RegistryFileWrites();
  r = RunScript("start\nmessage endsession\ntick\n", file);
  EXPECT_EQ(portable::RegistryFileWrites() - before, 2);
  std::filesystem::remove_all(dir);
}

TEST(Startup, SettingsThatCannotBeSavedAreReported) {
  const auto dir = FreshDir("save-report");
  // A folder where the file should be: nothing can be read or saved, the
  // save says so, and the folder is left alone.
  const auto folder = dir / "registry.txt";
  std::filesystem::create_directories(folder / "inside");
  ScenarioResult r = RunScript("start\n", folder.string());
  EXPECT_EQ(SavedLine(r.out),
            "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0");
  EXPECT_TRUE(Contains(r.out, "save failed\n"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "inside"));
  // A full disk: the values are set but the file cannot be replaced; the
  // save says so.
  r = RunScript("registry disk-full\nstart\n",
                (dir / "full" / "registry.txt").string());
  EXPECT_TRUE(Contains(r.out, "save failed\n"));
  EXPECT_FALSE(std::filesystem::exists(dir / "full" / "registry.txt"));
  // A settings path under a plain file cannot be saved either.
  WriteFile(dir / "plain", "x");
  r = RunScript("start\n", (dir / "plain" / "registry.txt").string());
  EXPECT_TRUE(Contains(r.out, "save failed\n"));
  EXPECT_EQ(ReadFile(dir / "plain"), "x");
  std::filesystem::remove_all(dir);
}

TEST(Startup, SavingWritesThroughASymbolicLink) {
  const auto dir = FreshDir("symlink");
  std::filesystem::create_directories(dir / "dotfiles");
  const auto target = dir / "dotfiles" / "flinto.txt";
  WriteFile(target, "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
                    "\"Face\"=dword:00000001\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  const auto link = dir / "registry.txt";
  std::filesystem::create_symlink("dotfiles/flinto.txt", link);
  const ScenarioResult r = RunScript("start\n", link.string());
  EXPECT_FALSE(Contains(r.out, "save failed"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const std::string text = ReadFile(target);
  EXPECT_TRUE(Contains(text, "\"Face\"=dword:00000001")) << text;
  EXPECT_TRUE(Contains(text, "\"Unit\"=dword:00000003")) << text;
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Only the target was written: nothing else appeared beside the link.
  int entries = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2);
  // A link whose target does not exist yet: the target is made.
  std::filesystem::remove(target);
  const ScenarioResult again = RunScript("start\n", link.string());
  EXPECT_FALSE(Contains(again.out, "save failed"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(Contains(ReadFile(target), "\"Face\"=dword:00000002"));
  std::filesystem::remove_all(dir);
}

TEST(Startup, WithoutTranslucencyOrTray) {
  ScenarioResult r = RunScript("layered off\nsetting Transparent dword 1\n"
                               "start\nmenu 40008\ntray right\nend\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "menu ID_TRANSLUCENT=grayed,checked\n"));
  EXPECT_FALSE(Contains(r.out, "alpha"));
  // A greyed item cannot be chosen; the stored setting is kept.
  EXPECT_TRUE(Contains(r.out, "Transparent=1\n"));

  // No tray icon: the keyboard shows itself, without taking the foreground.
  r = RunScript("app editor\ntray fail\nstart\nprint state\n");
  EXPECT_EQ(r.out.substr(0, r.out.find("state")),
            "foreground editor\ntray add failed\nwindow 806 604 474 156\n"
            "show\n");
  EXPECT_TRUE(Contains(r.out, "visible=1"));
  EXPECT_TRUE(Contains(r.out, "target=editor"));
}

TEST(Startup, ScriptErrorsStopTheRunWithStatusTwo) {
  ScenarioResult r = RunScript("start\nfrobnicate\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "line 2")) << r.err;
  r = RunScript("tick\n");
  EXPECT_EQ(r.status, 2);
  r = RunScript("start\nclick left key 0x5b\n"); // no Win key
  EXPECT_EQ(r.status, 2);
  r = RunScript("start\ntick 12x\n");
  EXPECT_EQ(r.status, 2);
  r = RunScript("# only a comment\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

class RegistryTest : public SimTest {};

TEST_F(RegistryTest, PathWalk) {
  EXPECT_TRUE(RegWriteDword("Orsel\\Flinto", "Face", 1));
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "Face", 9), 1);
  EXPECT_EQ(RegReadDword("orsel\\FLINTO", "face", 9), 1); // no case
  for (const char *bad : {"\\Orsel\\Flinto", "Orsel\\\\Flinto", "Orsel\\"}) {
    EXPECT_EQ(RegOpenPath(bad, false), nullptr) << bad;
    EXPECT_EQ(RegReadDword(bad, "Face", 9), 9) << bad;
    EXPECT_FALSE(RegWriteDword(bad, "Face", 3)) << bad;
  }
  HKEY software = RegOpenPath("", false);
  ASSERT_NE(software, nullptr);
  RegCloseKey(software);
  EXPECT_EQ(RegReadDword("Orsel\\Missing", "Face", 7), 7);
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "Missing", 7), 7);

  // A component whose double-byte character ends in 0x5C stays whole.
  const char *path = "Orsel\\\x95\x5c\x8e\xa6"; // 表示
  EXPECT_TRUE(RegWriteDword(path, "V", 42));
  EXPECT_EQ(RegReadDword(path, "V", 0), 42);
  EXPECT_EQ(RegOpenPath("Orsel\\\x95", false), nullptr);

  // The store's own limits: 32 keys deep and names of 255 bytes, each at
  // the bound and one past it.
  auto create = [](const std::string &sub) {
    HKEY key = nullptr;
    const LSTATUS status =
        RegCreateKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (key != nullptr)
      RegCloseKey(key);
    return status;
  };
  std::string deep = "k";
  for (int i = 1; i < 32; ++i)
    deep += "\\k";
  EXPECT_EQ(create(deep), ERROR_SUCCESS);
  EXPECT_NE(create(deep + "\\k"), ERROR_SUCCESS);
  EXPECT_EQ(create("Orsel\\" + std::string(255, 'n')), ERROR_SUCCESS);
  EXPECT_NE(create("Orsel\\" + std::string(256, 'n')), ERROR_SUCCESS);
}

TEST_F(RegistryTest, WrongTypeOrSizeReadsAsDefault) {
  HKEY key = RegOpenPath("Orsel\\Flinto", true);
  ASSERT_NE(key, nullptr);
  const char text[] = "3";
  RegSetValueExA(key, "Unit", 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                 2);
  const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  RegSetValueExA(key, "Face", 0, REG_DWORD, eight, 8);
  RegSetValueExA(key, "X", 0, REG_BINARY, eight, 4);
  RegCloseKey(key);
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "Unit", -1), -1);
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "Face", -1), -1);
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "X", -1), -1);
  LoadSettings();
  EXPECT_EQ(g_unit, 3);
  EXPECT_EQ(g_face, 2);
  EXPECT_EQ(g_x, kUnsetPosition);
  g_unit = 4;
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "Unit", -1), 4);
  EXPECT_EQ(RegReadDword("Orsel\\Flinto", "X", 0), kUnsetPosition);
}

} // namespace

namespace {

std::string SavedOf(const std::string &file) {
  const ScenarioResult r = RunScript("start\n", file);
  const size_t at = r.out.find("saved ");
  return at == std::string::npos ? r.out
                                 : r.out.substr(at, r.out.find('\n', at) - at);
}

// Whether every line of `before` is in `after`, whole and in its order.
bool KeepsEveryLine(const std::string &before, const std::string &after) {
  std::istringstream a(before), b(after);
  std::string wanted, line;
  while (std::getline(a, wanted)) {
    do {
      if (!std::getline(b, line))
        return false;
    } while (line != wanted);
  }
  return true;
}

const char kDefaults[] =
    "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=0";

TEST(SettingsFile, DamagedFilesGiveDefaultsForWhatCannotBeRead) {
  const auto dir = FreshDir("damaged");
  const std::string file = (dir / "registry.txt").string();
  const std::string header = "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n";
  struct Case {
    std::string text;
    std::string saved;
  } cases[] = {
      // Truncated in the middle of a value: the whole values before it count.
      {header + "\"Face\"=dword:00000000\n\"Unit\"=dword:0000",
       "saved Face=0 Unit=3 X=1136 Y=604 WinKey=0 Transparent=0"},
      // Binary junk, NUL bytes included.
      {std::string("\x00\xff\xfe[\x01\n\"Face\"=dword:0\0\0\0", 18) + "\n",
       kDefaults},
      // Wrong types and sizes, duplicated and badly formed lines.
      {header + "\"Face\"=\"1\"\n\"Unit\"=hex(4):05,00,00\n"
                "\"X\"=dword:zzzzzzzz\n\"Y\"=dword:00000001\n\"Y\"=dword:"
                "00000002\n\"WinKey\"\n=dword:00000001\n\"Transparent\"=hex"
                "(4):01,00,00,00\n",
       // X unreadable: both coordinates are placed anew.
       "saved Face=2 Unit=3 X=806 Y=604 WinKey=0 Transparent=1"},
      // A hostile header: very deep, very long, escapes that go nowhere.
      {"[HKEY_CURRENT_USER" + std::string(100000, '\\') + "]\n" +
           "[HKEY_CURRENT_USER\\%zz]\n[HKEY_LOCAL_MACHINE\\Software\\Orsel\\"
           "Flinto]\n\"Face\"=dword:00000000\n" +
           std::string(200000, 'x') + "\n" + header +
           "\"Unit\"=dword:00000002\n",
       "saved Face=2 Unit=2 X=964 Y=656 WinKey=0 Transparent=0"},
  };
  for (const Case &c : cases) {
    WriteFile(file, c.text);
    EXPECT_EQ(SavedOf(file), c.saved);
    // What was written back reads as the same values.
    EXPECT_EQ(SavedOf(file), c.saved);
  }
  // A huge file: the first megabytes are read, the rest is not, and the run
  // goes on; the file, which could not be read whole, is not written.
  std::string huge = header + "\"Face\"=dword:00000001\n";
  huge += std::string(8u << 20, 'A');
  huge += "\n" + header + "\"Unit\"=dword:00000005\n";
  WriteFile(file, huge);
  const ScenarioResult r = RunScript("start\n", file);
  EXPECT_TRUE(Contains(
      r.out, "saved Face=1 Unit=3 X=1136 Y=604 WinKey=0 Transparent=0\n"
             "save failed\n"));
  EXPECT_EQ(ReadFile(file), huge);
  std::filesystem::remove_all(dir);
}

// Files a user may bring from elsewhere, and the parser's limits, each at
// the bound and one past it.
TEST(SettingsFile, FilesFromElsewhereAndTheLimits) {
  const auto dir = FreshDir("elsewhere");
  const std::string file = (dir / "registry.txt").string();
  const std::string header = "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]";
  struct Case {
    std::string text;
    std::string saved;
  } cases[] = {
      // Windows line endings, a byte order mark, trailing blanks, comments.
      {header + "\r\n\"Face\"=dword:00000001\r\n\"Unit\"=dword:00000004\r\n",
       "saved Face=1 Unit=4 X=1088 Y=552 WinKey=0 Transparent=0"},
      {"\xEF\xBB\xBF" + header + "\n\"Face\"=dword:00000001\n",
       "saved Face=1 Unit=3 X=1136 Y=604 WinKey=0 Transparent=0"},
      {header + "  \t\n\"Face\"=dword:00000001 \t \n",
       "saved Face=1 Unit=3 X=1136 Y=604 WinKey=0 Transparent=0"},
      {"# written by hand\n; and kept\n" + header +
           "\n# \"Face\"=dword:00000001\n\"Unit\"=dword:00000004\n",
       "saved Face=2 Unit=4 X=648 Y=552 WinKey=0 Transparent=0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    WriteFile(file, c.text);
    EXPECT_EQ(SavedOf(file), c.saved);
  }
  // The parser's limits, each at the bound and one past it: what is past a
  // limit is not read, and a save keeps its line byte for byte all the same.
  auto bigValue = [](size_t lineLength) {
    // "Big"="aaa...a" : 7 bytes besides the text.
    return "\"Big\"=\"" + std::string(lineLength - 8, 'a') + "\"\n";
  };
  auto deep = [](int depth, const char *name) {
    std::string path = "[HKEY_CURRENT_USER";
    for (int i = 0; i < depth; ++i)
      path += "\\k";
    return path + "]\n\"" + name + "\"=dword:00000001\n";
  };
  struct Limit {
    const char *what;
    std::string text;
    int read; // values read from it
  } limits[] = {
      // A line of exactly 64 KiB is read; one byte more and it is not.
      {"lines",
       header + "\n" + bigValue(65536) +
           "[HKEY_CURRENT_USER\\Software\\Other]\n" + bigValue(65537),
       1},
      // Key and value names of 255 bytes are read, of 256 not; a string
      // value with anything after its closing quote is not a value.
      {"names",
       "[HKEY_CURRENT_USER\\Software\\" + std::string(255, 'K') + "]\n\"" +
           std::string(255, 'N') + "\"=dword:00000001\n\"" +
           std::string(256, 'M') +
           "\"=dword:00000001\n\"Tail\"=\"text\"junk\n"
           "\"Kept\"=\"text\"\n[HKEY_CURRENT_USER\\Software\\" +
           std::string(256, 'L') + "]\n\"Lost\"=dword:00000001\n",
       2},
      // Keys 32 deep are read, 33 deep are not.
      {"depth", deep(32, "Deep32") + deep(33, "Deep33"), 1},
  };
  for (const Limit &l : limits) {
    SCOPED_TRACE(l.what);
    EXPECT_EQ(portable::ParseRegistry(l.text), l.read);
    WriteFile(file, l.text);
    SavedOf(file);
    const std::string text = ReadFile(file);
    EXPECT_TRUE(KeepsEveryLine(l.text, text));
    EXPECT_TRUE(Contains(text, "\"Face\"=dword:00000002"));
  }
  std::filesystem::remove_all(dir);
}

TEST(SettingsFile, SavingReplacesTheFileWhole) {
  const auto dir = FreshDir("atomic");
  const auto folder = dir / "flinto";
  const std::string file = (folder / "registry.txt").string();
  // Other programs' keys and values of other types are kept.
  std::filesystem::create_directories(folder);
  WriteFile(file, "[HKEY_CURRENT_USER\\Software\\Other]\n\"Name\"=\"a \\\"b\\\""
                  "\\x81\"\n\"Blob\"=hex(3):00,ff\n");
  SavedOf(file);
  const std::string text = ReadFile(file);
  EXPECT_TRUE(Contains(text, "\"Name\"=\"a \\\"b\\\"\\x81\"")) << text;
  EXPECT_TRUE(Contains(text, "\"Blob\"=hex(3):00,ff")) << text;
  EXPECT_TRUE(Contains(text, "\"Face\"=dword:00000002")) << text;
  // No temporary file is left behind.
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
  // A folder that cannot be written: the save fails and the old file stays.
  if (::geteuid() != 0) {
    std::filesystem::permissions(folder,
                                 std::filesystem::perms::owner_read |
                                     std::filesystem::perms::owner_exec);
    WriteFile(file + ".probe", "");
    EXPECT_EQ(ReadFile(file), text);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  }
  // A pipe or a folder where the file should be is not read (a pipe would
  // block), and the run goes on with the defaults.
  const auto odd = dir / "odd";
  std::filesystem::create_directories(odd);
  ASSERT_EQ(::mkfifo((odd / "pipe.txt").c_str(), 0600), 0);
  EXPECT_EQ(SavedOf((odd / "pipe.txt").string()), kDefaults);
  std::filesystem::create_directories(odd / "folder.txt");
  EXPECT_EQ(SavedOf((odd / "folder.txt").string()), kDefaults);
  // A settings path under a file (not a folder) cannot be saved: no crash.
  const std::string blocked = (dir / "registry.txt" / "x" / "y.txt").string();
  WriteFile(dir / "registry.txt", "not a folder");
  EXPECT_EQ(SavedOf(blocked), kDefaults);
  std::filesystem::remove_all(dir);
}

} // namespace

namespace {

// Saves one value through the store, as the program's settings are saved.
bool SaveFace(const std::string &file, int32_t face) {
  portable::SetRegistryFile(file);
  return RegWriteDword("Orsel\\Flinto", "Face", face);
}

} // namespace

TEST_F(RegistryTest, ASaveChangesOnlyWhatWasSet) {
  const auto dir = FreshDir("merge");
  const std::string file = (dir / "registry.txt").string();
  // Comments, a blank line, lines the store cannot read, another program's
  // key and CRLF line ends: all kept byte for byte around the new value.
  const std::string before =
      "; mine\r\n[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\r\n"
      "\"Face\"=dword:00000001\r\n# note\r\n\"Odd\"=what\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Name\"=\"x\"\r\n"
      "[not a key\r\n";
  WriteFile(file, before);
  ASSERT_TRUE(SaveFace(file, 2));
  std::string expected = before;
  expected.replace(expected.find("00000001"), 8, "00000002");
  EXPECT_EQ(ReadFile(file), expected);

  // Another program edits the file while Flinto runs: its edit stays, and
  // Flinto's next save still lands.
  WriteFile(file, expected + "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                             "\"Later\"=dword:00000007\r\n");
  ASSERT_TRUE(RegWriteDword("Orsel\\Flinto", "Face", 0));
  ASSERT_TRUE(RegWriteDword("Orsel\\Flinto", "Unit", 4));
  const std::string text = ReadFile(file);
  EXPECT_TRUE(Contains(text, "\"Later\"=dword:00000007")) << text;
  EXPECT_EQ(RegReadDword("Other", "Later", 0), 7);
  // A new value goes after the last one of its key, with the file's ends.
  EXPECT_TRUE(Contains(text, "\"Face\"=dword:00000000\r\n"
                             "\"Unit\"=dword:00000004\r\n# note\r\n"))
      << text;
  // A new key is added at the end; a file without a last line end keeps
  // its last line whole.
  WriteFile(file, "[HKEY_CURRENT_USER\\Software\\Other]\n\"A\"=dword:00000001");
  ASSERT_TRUE(SaveFace(file, 1));
  EXPECT_EQ(ReadFile(file),
            "[HKEY_CURRENT_USER\\Software\\Other]\n\"A\"=dword:00000001\n"
            "\n[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
            "\"Face\"=dword:00000001\n");
  // The value's last line is the one replaced (a reader takes the last).
  WriteFile(file, "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
                  "\"Face\"=dword:00000001\n[HKEY_CURRENT_USER\\Software\\"
                  "orsel\\flinto]\n\"face\"=dword:00000002\n");
  ASSERT_TRUE(SaveFace(file, 0));
  EXPECT_EQ(ReadFile(file),
            "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
            "\"Face\"=dword:00000001\n[HKEY_CURRENT_USER\\"
            "Software\\orsel\\flinto]\n\"Face\"=dword:00000000\n");
  std::filesystem::remove_all(dir);
}

TEST_F(RegistryTest, FilesThatMustNotBeWrittenAreLeftAlone) {
  const auto dir = FreshDir("refuse");
  const std::string file = (dir / "registry.txt").string();
  const std::string text = "[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"
                           "\"Face\"=dword:00000001\n";
  // Read-only: refused (also for root, who could write it), and said.
  WriteFile(file, text);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveFace(file, 2));
  EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(), "read-only"));
  EXPECT_EQ(ReadFile(file), text);
  // Writable again by its owner: saved.
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  EXPECT_TRUE(SaveFace(file, 2));
  // Larger than the store reads whole: untouched, and said. At the limit
  // itself it is saved.
  const std::string limit =
      text + std::string((4u << 20) - text.size() - 1, ';') + "\n";
  ASSERT_EQ(limit.size(), size_t(4u << 20));
  WriteFile(file, limit);
  EXPECT_TRUE(SaveFace(file, 0));
  WriteFile(file, limit + ";");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveFace(file, 2));
  EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(), "4 MiB"));
  EXPECT_EQ(ReadFile(file), limit + ";");
  std::filesystem::remove_all(dir);
}

TEST_F(RegistryTest, LinksOnlyWhenNoOtherUserCouldHavePutThemThere) {
  const auto dir = FreshDir("links");
  const auto victim = dir / "victim.txt";
  WriteFile(victim, "precious\n");
  // A link in a folder anyone may write to (no sticky bit): another user
  // could have put it there. Not followed, and said.
  const auto shared = dir / "shared";
  std::filesystem::create_directories(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
  std::filesystem::create_symlink(victim, shared / "registry.txt");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveFace((shared / "registry.txt").string(), 2));
  EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(),
                       "other users can change"));
  EXPECT_EQ(ReadFile(victim), "precious\n");
  // The same folder made the user's own: followed.
  ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
  EXPECT_TRUE(SaveFace((shared / "registry.txt").string(), 2));
  EXPECT_TRUE(Contains(ReadFile(victim), "\"Face\"=dword:00000002"));
  EXPECT_TRUE(std::filesystem::is_symlink(shared / "registry.txt"));
  // A link another user owns, in the user's own folder (only root can make
  // one here).
  if (::geteuid() == 0) {
    WriteFile(victim, "precious\n");
    const auto link = dir / "theirs.txt";
    std::filesystem::create_symlink(victim, link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SaveFace(link.string(), 2));
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(),
                         "symbolic link of another user"));
    EXPECT_EQ(ReadFile(victim), "precious\n");
  }
  std::filesystem::remove_all(dir);
}

TEST(FirstRunUnit, NearestToThreeTimesTheScaleHalvesGoingDown) {
  EXPECT_EQ(UnitForDpi(96), 3);
  EXPECT_EQ(UnitForDpi(111), 3); // 3.47
  EXPECT_EQ(UnitForDpi(112), 3); // 3.5: down
  EXPECT_EQ(UnitForDpi(113), 4); // 3.53
  EXPECT_EQ(UnitForDpi(144), 4); // 4.5: down
  EXPECT_EQ(UnitForDpi(145), 5);
  EXPECT_EQ(UnitForDpi(176), 5); // 5.5: down
  EXPECT_EQ(UnitForDpi(192), 6);
  EXPECT_EQ(UnitForDpi(400), 6); // no larger than 6
  EXPECT_EQ(UnitForDpi(48), 2);  // 1.5: no smaller than 2
  EXPECT_EQ(UnitForDpi(0), 3);   // nothing known: the usual
}
