#include <gtest/gtest.h>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "model/keyset.h"
#include "sim_fixture.h"

namespace {

class KeySetTest : public SimTest {
protected:
  void Build(int face, int winKey) {
    g_winKey = winKey;
    BuildKeySet(BuiltInFaces[face].keys, BuiltInFaces[face].keyCount);
  }
};

TEST_F(KeySetTest, HitTestAtUnitThree) {
  g_unit = 3;
  Build(2, 0);
  ASSERT_NE(HitTestKey(45, 78), nullptr);
  EXPECT_EQ(HitTestKey(45, 78)->id, 0x51u); // q: 45..68 x 78..95
  EXPECT_EQ(HitTestKey(68, 94)->id, 0x51u);
  EXPECT_EQ(HitTestKey(69, 78)->id, 0x57u); // w, not q
  EXPECT_EQ(HitTestKey(44, 78)->id, 0x09u); // Tab
  EXPECT_EQ(HitTestKey(51, 96)->id, 0x41u); // a starts at 17 * 3
  EXPECT_EQ(HitTestKey(50, 96)->id, 0x14u); // Caps ends there
  EXPECT_EQ(HitTestKey(3, 3), nullptr);     // caption band
  EXPECT_EQ(HitTestKey(-1, 78), nullptr);
  const KeyEntry *close = HitTestKey(453, 6);
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->id, KEY_CLOSE);
  EXPECT_EQ(close->kind, SystemButton);
  EXPECT_EQ(HitTestKey(467, 20)->id, KEY_CLOSE);
  EXPECT_EQ(HitTestKey(468, 20), nullptr);
  EXPECT_EQ(HitTestKey(467, 21), nullptr);
}

TEST_F(KeySetTest, DefaultWindowSize) {
  Build(2, 0);
  const int units[] = {2, 3, 6};
  const SIZE sizes[] = {{316, 104}, {474, 156}, {948, 312}};
  for (int i = 0; i < 3; ++i) {
    g_unit = units[i];
    EXPECT_EQ(DefaultWindowSize().cx, sizes[i].cx);
    EXPECT_EQ(DefaultWindowSize().cy, sizes[i].cy);
  }
  g_unit = 3;
  Build(0, 0);
  EXPECT_EQ(DefaultWindowSize().cx, 144);
  EXPECT_EQ(DefaultWindowSize().cy, 156);
  Build(1, 1);
  EXPECT_EQ(DefaultWindowSize().cx, 144);
  BuildKeySet(nullptr, 0);
  EXPECT_TRUE(KeySet.empty());
  EXPECT_EQ(DefaultWindowSize().cx, 1);
  EXPECT_EQ(DefaultWindowSize().cy, 1);
}

TEST_F(KeySetTest, WinKeyToggleRebuildsAndRestores) {
  Build(2, 0);
  const auto before = KeySet;
  EXPECT_EQ(FindKey(0x12)->x, 14);
  FindKey(0x41)->flags = Down | Latched;
  SetCapturedKey(*FindKey(0x41));
  Build(2, 1);
  // The new set's A is a new key: it does not own the pointer.
  EXPECT_EQ(GetCapturedKey(), kNoCapturedKey);
  EXPECT_EQ(FindKey(0x12)->x, 26);
  EXPECT_EQ(FindKey(0x20)->width, 17);
  Build(2, 0);
  ASSERT_EQ(KeySet.size(), before.size());
  for (const auto &[id, entry] : KeySet) {
    const KeyEntry &old = before.at(id);
    EXPECT_EQ(entry.flags, 0);
    EXPECT_EQ(entry.x, old.x);
    EXPECT_EQ(entry.y, old.y);
    EXPECT_EQ(entry.width, old.width);
    EXPECT_EQ(entry.height, old.height);
    EXPECT_EQ(entry.label, old.label);
    EXPECT_EQ(entry.kind, old.kind);
  }
}

TEST_F(KeySetTest, LaterRecordWithSameIdWins) {
  const KeyDef records[] = {
      {0xFF00, 0, 0, 10, 10, "frame"},
      {0x0041, 1, 2, 3, 4, "first"},
      {0x20041, 5, 6, 7, 8, "second"}, // kept with WinKey off
      {0x10041, 9, 9, 9, 9, "skipped"},
  };
  g_winKey = 0;
  BuildKeySet(records, 4);
  ASSERT_EQ(KeySet.size(), 2u);
  const KeyEntry *a = FindKey(0x41);
  EXPECT_EQ(a->x, 5);
  EXPECT_EQ(a->height, 8);
  EXPECT_EQ(a->label, "second");
  BuildKeySet(records, -1);
  EXPECT_TRUE(KeySet.empty());
}

TEST_F(KeySetTest, CapturedKeyOperations) {
  Build(0, 0);
  EXPECT_FALSE(IsAnyKeyCaptured());
  EXPECT_EQ(GetCapturedKey(), 0xFF00u);
  KeyEntry &shift = *FindKey(0x10);
  SetCapturedKey(shift);
  EXPECT_TRUE(IsAnyKeyCaptured());
  EXPECT_TRUE(IsCapturedKey(shift));
  EXPECT_FALSE(IsCapturedKey(*FindKey(0x11)));
  ClearCapturedKey();
  EXPECT_FALSE(IsAnyKeyCaptured());
  EXPECT_FALSE(IsCapturedKey(shift));
}

TEST_F(KeySetTest, FrameAndButtonsTakeNoMessages) {
  Build(2, 0);
  EXPECT_FALSE(SendToKey(nullptr, *FindKey(KEY_FRAME), WM_LBUTTONDOWN, 0, 0));
  EXPECT_FALSE(SendToKey(nullptr, *FindKey(KEY_CLOSE), WM_RBUTTONDOWN, 0, 0));
  EXPECT_FALSE(SendToKey(nullptr, *FindKey(0x41), WM_MOUSEMOVE, 0, 0));
  EXPECT_TRUE(SendToKey(nullptr, *FindKey(0x41), MSG_RELEASE_ALL, 0, 0));
  BuildKeySet(nullptr, 0);
  EXPECT_FALSE(BroadcastToKeys(nullptr, MSG_RELEASE_ALL, 0, 0));
}

// Releases walk the keys in ascending id order, and a nested release (each
// key-up broadcasts again) does not disturb the outer walk.
TEST_F(KeySetTest, BroadcastOrderUnderNesting) {
  Build(2, 0);
  FindKey(0x112)->flags = Down | Latched;
  FindKey(0x10)->flags = Down | Latched;
  FindKey(0x11)->flags = Down | Locked;
  FindKey(0x12)->flags = Down | Latched;
  FindKey(KEY_CUT)->flags = Down; // a system button: never broadcast to
  TakeLog();
  BroadcastToKeys(nullptr, MSG_RELEASE_ALL, 0, 0);
  std::vector<int> ups;
  for (const sim::KeyEvent &e : driver.events())
    ups.push_back(e.vk);
  EXPECT_EQ(ups, (std::vector<int>{0x10, 0x12, 0x12, 0x11}));
  for (const auto &[id, entry] : KeySet) {
    if (entry.kind == Key) {
      EXPECT_EQ(entry.flags & (Down | Latched | Locked), 0) << std::hex << id;
    }
  }
  EXPECT_EQ(FindKey(KEY_CUT)->flags, Down);
}

} // namespace
