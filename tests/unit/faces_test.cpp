#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "model/faces.h"
#include "model/keyset.h"

namespace {

struct Counts {
  int total = 0, keys = 0, buttons = 0, frames = 0;
};

Counts Build(int face, int winKey) {
  g_winKey = winKey;
  BuildKeySet(BuiltInFaces[face].keys, BuiltInFaces[face].keyCount);
  Counts c;
  for (const auto &[id, entry] : KeySet) {
    ++c.total;
    c.keys += entry.kind == Key;
    c.buttons += entry.kind == SystemButton;
    c.frames += entry.kind == Frame;
  }
  return c;
}

class FacesTest : public ::testing::Test {
protected:
  ~FacesTest() override { ResetProcessState(); }
};

TEST_F(FacesTest, TableShape) {
  ASSERT_EQ(FaceCount, 3);
  EXPECT_EQ(BuiltInFaces[0].keyCount, 22);
  EXPECT_EQ(BuiltInFaces[1].keyCount, 32);
  EXPECT_EQ(BuiltInFaces[2].keyCount, 105);
  const uint32_t colours[3][2] = {{0x00FF4000, 0x00FFC080},
                                  {0x000000FF, 0x0000C0FF},
                                  {0x000080FF, 0x0080FFFF}};
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(BuiltInFaces[f].bitmapFile, nullptr);
    EXPECT_EQ(BuiltInFaces[f].colourA, colours[f][0]);
    EXPECT_EQ(BuiltInFaces[f].colourB, colours[f][1]);
    for (int i = 0; i < BuiltInFaces[f].keyCount; ++i) {
      const KeyDef &k = BuiltInFaces[f].keys[i];
      ASSERT_NE(k.label, nullptr);
      EXPECT_FALSE((k.id & SEL_WINKEY_ON) && (k.id & SEL_WINKEY_OFF));
    }
  }
}

TEST_F(FacesTest, EntryCountsPerFaceAndWinKeySetting) {
  const int expected[3][2][4] = {
      // total, Key, SystemButton, Frame
      {{21, 13, 7, 1}, {22, 14, 7, 1}},
      {{31, 26, 4, 1}, {32, 27, 4, 1}},
      {{97, 89, 7, 1}, {99, 91, 7, 1}},
  };
  for (int face = 0; face < 3; ++face)
    for (int winKey = 0; winKey < 2; ++winKey) {
      SCOPED_TRACE(testing::Message()
                   << "face " << face << " winkey " << winKey);
      const Counts c = Build(face, winKey);
      EXPECT_EQ(c.total, expected[face][winKey][0]);
      EXPECT_EQ(c.keys, expected[face][winKey][1]);
      EXPECT_EQ(c.buttons, expected[face][winKey][2]);
      EXPECT_EQ(c.frames, expected[face][winKey][3]);
    }
}

TEST_F(FacesTest, NoFaceYieldsTwoRecordsWithOneId) {
  for (int face = 0; face < 3; ++face)
    for (uint32_t winKey = 0; winKey < 2; ++winKey) {
      std::set<uint32_t> ids;
      for (int i = 0; i < BuiltInFaces[face].keyCount; ++i) {
        uint32_t id = BuiltInFaces[face].keys[i].id;
        if ((id & SEL_WINKEY_ON) && !winKey)
          continue;
        if ((id & SEL_WINKEY_OFF) && winKey)
          continue;
        id &= 0xFFFF;
        EXPECT_TRUE(ids.insert(id).second) << std::hex << id;
      }
    }
}

TEST_F(FacesTest, FullFaceIdOrder) {
  Build(2, 0);
  std::vector<uint32_t> ids;
  for (const auto &[id, entry] : KeySet)
    ids.push_back(id);
  const std::vector<uint32_t> head = {0x0008, 0x0009, 0x000D, 0x0010};
  const std::vector<uint32_t> tail = {0xFF00, 0xFF01, 0xFF02, 0xFF03,
                                      0xFF04, 0xFF10, 0xFF11, 0xFF12};
  EXPECT_EQ(std::vector<uint32_t>(ids.begin(), ids.begin() + 4), head);
  EXPECT_EQ(std::vector<uint32_t>(ids.end() - 8, ids.end()), tail);
  EXPECT_EQ(FindKey(0x5B), nullptr);
  EXPECT_EQ(FindKey(0x20)->width, 41);

  Build(2, 1);
  ASSERT_NE(FindKey(0x5B), nullptr);
  ASSERT_NE(FindKey(0x5D), nullptr);
  EXPECT_EQ(FindKey(0x20)->width, 17);
  for (const auto &[id, entry] : KeySet)
    EXPECT_LE(id, 0xFF12u);
}

TEST_F(FacesTest, LabelsAreShiftJisBytes) {
  Build(2, 0);
  EXPECT_EQ(FindKey(KEY_FRAME)->label, "Flinto\n(Full)");
  EXPECT_EQ(FindKey(0x51)->label, "\t2\nq\nQ\n\x83\x5e\n\x83\x5e");  // タ
  EXPECT_EQ(FindKey(0xDC)->label, "\t1\n\\\n|\n\x81\x5b\n\x81\x5b"); // ー
  EXPECT_EQ(FindKey(0xE2)->label, "\t1\n\\\n_\n\x83\x8d\n\x83\x8d"); // ロ
  EXPECT_EQ(FindKey(0x30)->label, "\t1\n0\n \n\x83\x8f\n\x83\x92");  // ワ ヲ
  EXPECT_EQ(FindKey(0x19)->label, "\x91\x53");                       // 全
  EXPECT_EQ(FindKey(0x15)->label, "\x83\x4a\x83\x69");               // カナ
  EXPECT_EQ(FindKey(KEY_CUT)->label, "\tCUT");
  Build(1, 0);
  EXPECT_EQ(FindKey(0xBC)->label, "\t1\n,\n<\n\xc8\n\xa4");
  EXPECT_EQ(FindKey(0x0D)->label, "E");
  EXPECT_EQ(FindKey(0x6B)->height, 12);
}

TEST_F(FacesTest, FrameSizes) {
  const int frames[3][2] = {{48, 52}, {48, 52}, {158, 52}};
  for (int face = 0; face < 3; ++face) {
    Build(face, 0);
    const KeyEntry *frame = FindKey(KEY_FRAME);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->x, 0);
    EXPECT_EQ(frame->y, 0);
    EXPECT_EQ(frame->width, frames[face][0]);
    EXPECT_EQ(frame->height, frames[face][1]);
  }
}

// Inside the frame, a margin of 2 units left, right and bottom, nothing
// above y = 12 but the buttons, and no two selectable rectangles overlap.
TEST_F(FacesTest, GeometryInvariants) {
  for (int face = 0; face < 3; ++face)
    for (int winKey = 0; winKey < 2; ++winKey) {
      Build(face, winKey);
      const KeyEntry *frame = FindKey(KEY_FRAME);
      std::vector<const KeyEntry *> entries;
      for (const auto &[id, e] : KeySet) {
        if (e.kind == Frame)
          continue;
        EXPECT_GE(e.x, 2);
        EXPECT_LE(e.x + e.width, frame->width - 2);
        EXPECT_LE(e.y + e.height, frame->height - 2);
        if (e.kind == Key) {
          EXPECT_GE(e.y, 12) << std::hex << id;
        }
        entries.push_back(&e);
      }
      for (size_t i = 0; i < entries.size(); ++i)
        for (size_t j = i + 1; j < entries.size(); ++j) {
          const KeyEntry &a = *entries[i], &b = *entries[j];
          const bool overlap = a.x < b.x + b.width && b.x < a.x + a.width &&
                               a.y < b.y + b.height && b.y < a.y + a.height;
          EXPECT_FALSE(overlap) << std::hex << a.id << " " << b.id;
        }
    }
}

} // namespace
