#include <gtest/gtest.h>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "platform/portable/internal.h"
#include "platform/portable/trace.h"
#include "render/render.h"
#include "scenario_helpers.h"
#include "sim_fixture.h"

namespace {

class InjectTest : public SimTest {
protected:
  sim::KeyEvent Last() { return driver.events().back(); }
};

TEST_F(InjectTest, FlagsAndScanCodes) {
  struct Case {
    uint32_t code;
    bool down;
    int vk, scan, flags;
  } cases[] = {
      {0x25, true, 0x25, 0x4B, 1},  {0x25, false, 0x25, 0x4B, 3},
      {0x41, false, 0x41, 0x1E, 2}, {0x10, true, 0x10, 0x2A, 1},
      {0x110, true, 0x10, 0x36, 0}, {0x111, false, 0x11, 0x1D, 3},
      {0x112, true, 0x12, 0x38, 1}, {0x11, true, 0x11, 0x1D, 0},
      {0x12, true, 0x12, 0x38, 0},  {0x2C, true, 0x2C, 0x54, 0},
      {0x21, true, 0x21, 0x49, 1},  {0x22, true, 0x22, 0x51, 1},
      {0x23, true, 0x23, 0x4F, 1},  {0x24, true, 0x24, 0x47, 1},
      {0x26, true, 0x26, 0x48, 1},  {0x27, true, 0x27, 0x4D, 1},
      {0x28, true, 0x28, 0x50, 1},  {0x2D, true, 0x2D, 0x52, 1},
      {0x2E, true, 0x2E, 0x53, 1},  {0x29, true, 0x29, 0x00, 0},
      {0x0D, true, 0x0D, 0x1C, 0},  {0x5B, true, 0x5B, 0x5B, 0},
      {0x5D, true, 0x5D, 0x5D, 0},  {0x6F, true, 0x6F, 0x35, 0},
      {0xDC, true, 0xDC, 0x7D, 0},  {0xE2, true, 0xE2, 0x73, 0},
      {0x1C, true, 0x1C, 0x79, 0},  {0x1D, true, 0x1D, 0x7B, 0},
      {0x15, true, 0x15, 0x70, 0},  {0x19, true, 0x19, 0x29, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    SendKeyEvent(c.code, c.down);
    EXPECT_EQ(Last().vk, c.vk);
    EXPECT_EQ(Last().scan, c.scan);
    EXPECT_EQ(Last().flags, DWORD(c.flags));
  }
}

TEST_F(InjectTest, EveryKeyOfEveryFaceHasAScanCode) {
  for (int face = 0; face < FaceCount; ++face)
    for (int i = 0; i < BuiltInFaces[face].keyCount; ++i) {
      const uint32_t id = BuiltInFaces[face].keys[i].id & 0xFFFF;
      if (KindOfId(id) != Key)
        continue;
      EXPECT_NE(MapVirtualKeyA(id, MAPVK_VK_TO_VSC), 0u) << std::hex << id;
    }
}

TEST_F(InjectTest, CtrlChord) {
  SendCtrlChord('C');
  const auto &e = driver.events();
  ASSERT_EQ(e.size(), 4u);
  const int vks[] = {0x11, 0x43, 0x43, 0x11};
  const DWORD flags[] = {0, 0, 2, 2};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(e[i].vk, vks[i]);
    EXPECT_EQ(e[i].flags, flags[i]);
  }
  EXPECT_EQ(TakeLog(), "key 0x11 down scan=0x1d flags=0\n"
                       "key 0x43 down scan=0x2e flags=0\n"
                       "key 0x43 up scan=0x2e flags=2\n"
                       "key 0x11 up scan=0x1d flags=2\n");
}

TEST_F(InjectTest, SystemKeyStateFollowsInjectedEvents) {
  EXPECT_EQ(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
  SendKeyEvent(0x110, true); // the right Shift is Shift too
  EXPECT_NE(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
  SendKeyEvent(0x110, false);
  EXPECT_EQ(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  SendKeyEvent(VK_CAPITAL, true);
  SendKeyEvent(VK_CAPITAL, true); // a repeat is no new press
  SendKeyEvent(VK_CAPITAL, false);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  SendKeyEvent(VK_CAPITAL, true);
  SendKeyEvent(VK_CAPITAL, false);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  SendKeyEvent(VK_KANA, true);
  SendKeyEvent(VK_KANA, false);
  EXPECT_EQ(GetKeyState(VK_KANA) & 1, 1);
  driver.SetPhysicalShift(true);
  EXPECT_NE(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
}

TEST(CharNext, ShiftJisLeadBytes) {
  const char *text = "a\x95\x5c"
                     "b\x81";
  EXPECT_EQ(CharNextA(text), text + 1);
  EXPECT_EQ(CharNextA(text + 1), text + 3); // 表: 0x95 0x5C is one character
  EXPECT_EQ(CharNextA(text + 3), text + 4);
  EXPECT_EQ(CharNextA(text + 4), text + 5); // a lead byte before the end
  EXPECT_EQ(CharNextA(text + 5), text + 5);
  EXPECT_EQ(CharNextA("\xe0\x40"), CharNextA("\xe0\x40")); // lead range E0..
  const char *katakana = "\xc8\xa4";                       // half-width: single
  EXPECT_EQ(CharNextA(katakana), katakana + 1);
}

class FocusTest : public SimTest {
protected:
  void SetUp() override {
    g_keyboardWindow = MakeTestWindow("FlintoFrame", "", 0, 0, 10, 10);
  }
};

TEST_F(FocusTest, KeepTargetForeground) {
  HWND editor = driver.App("editor");
  HWND browser = driver.App("browser");
  g_targetWindow = editor;
  TakeLog();
  // Another application in front is left alone.
  KeepTargetForeground(g_keyboardWindow);
  EXPECT_EQ(GetForegroundWindow(), browser);
  // The taskbar, the keyboard itself, or nothing in front: the target
  // comes back.
  driver.SetForeground(FindWindowA("Shell_TrayWnd", nullptr));
  KeepTargetForeground(g_keyboardWindow);
  EXPECT_EQ(GetForegroundWindow(), editor);
  driver.SetForeground(g_keyboardWindow);
  KeepTargetForeground(g_keyboardWindow);
  EXPECT_EQ(GetForegroundWindow(), editor);
  driver.CloseApp("browser");
  driver.SetForeground(nullptr);
  KeepTargetForeground(g_keyboardWindow);
  EXPECT_EQ(GetForegroundWindow(), editor);
  // A target that was closed is forgotten.
  driver.CloseApp("editor");
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  KeepTargetForeground(g_keyboardWindow);
  EXPECT_EQ(g_targetWindow, nullptr);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST_F(FocusTest, FadeStepsAndSettles) {
  g_setLayered = reinterpret_cast<SetLayeredWindowAttributesFn>(
      reinterpret_cast<void *>(GetProcAddress(LoadLibraryA("user32.dll"),
                                              "SetLayeredWindowAttributes")));
  ASSERT_NE(g_setLayered, nullptr);
  g_transparent = 1;
  EXPECT_TRUE(SetTranslucency(g_keyboardWindow, true, 224));
  TakeLog();
  for (int i = 0; i < 6; ++i)
    FadeStep(false);
  EXPECT_EQ(TakeLog(), "alpha 176\nalpha 128\nalpha 80\nalpha 32\n");
  EXPECT_EQ(g_alpha, 32);
  for (int i = 0; i < 5; ++i)
    FadeStep(true);
  EXPECT_EQ(TakeLog(), "alpha 80\nalpha 128\nalpha 176\nalpha 224\n");
  // Off: opaque first, then the layered style goes.
  EXPECT_TRUE(SetTranslucency(g_keyboardWindow, false, 32));
  EXPECT_EQ(TakeLog(), "alpha 255\nopaque\n");
  EXPECT_EQ(GetWindowLongA(g_keyboardWindow, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
  // Without the function nothing happens, but the alpha still moves.
  g_setLayered = nullptr;
  EXPECT_FALSE(SetTranslucency(g_keyboardWindow, true, 224));
  FadeStep(false);
  EXPECT_EQ(g_alpha, 176);
  EXPECT_EQ(TakeLog(), "");
}

// Polling the modifiers redraws exactly the keys whose label begins with a
// TAB, once per change, and nothing while nothing changes.
TEST_F(FocusTest, ModifierPollingRedrawsOnlyFourLineKeys) {
  g_winKey = 0;
  BuildKeySet(BuiltInFaces[2].keys, BuiltInFaces[2].keyCount);
  RebuildBackBuffer(g_keyboardWindow, 3, nullptr, 0, 0, true, true, true);
  size_t tabKeys = 0;
  for (const auto &[id, e] : KeySet)
    tabKeys += e.kind == Key && !e.label.empty() && e.label[0] == '\t';
  EXPECT_EQ(tabKeys, 49u); // the digit, letter, sign and space keys
  std::vector<std::string> texts;
  portable::SetDrawRecorder([&](const portable::DrawCall &c) {
    if (c.kind == portable::DrawCall::Text)
      texts.push_back(c.bytes);
  });
  PollModifiers(g_keyboardWindow); // nothing changed
  EXPECT_TRUE(texts.empty());
  driver.SetPhysicalToggle(VK_CAPITAL, true);
  PollModifiers(g_keyboardWindow);
  EXPECT_EQ(texts.size(), tabKeys);
  EXPECT_TRUE(g_modifiers.caps);
  int capitals = 0;
  for (const std::string &t : texts)
    capitals += t.size() == 1 && t[0] >= 'A' && t[0] <= 'Z';
  EXPECT_EQ(capitals, 26);
  texts.clear();
  PollModifiers(g_keyboardWindow);
  EXPECT_TRUE(texts.empty());
  // Kana shows the kana lines.
  driver.SetPhysicalToggle(VK_KANA, true);
  PollModifiers(g_keyboardWindow);
  EXPECT_EQ(texts.size(), tabKeys);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "\x83\x5e"), texts.end());
  portable::SetDrawRecorder(nullptr);
}

} // namespace
