// The parts of the Wayland host that need no compositor: when requests are
// sent, the keymap that no application repeats, the let-go of held keys,
// and where the instance socket may be kept.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/wayland/wayland_driver.h"

namespace {

// A click's few messages go in one write; a long queue flushes every few
// messages; and while the compositor's socket is full, before every one.
TEST(WaylandFlushPace, AClickIsOneWriteAndAFullSocketSetsThePace) {
  wayland::FlushPace pace;
  for (int i = 1; i < wayland::kMessagesPerFlush; ++i)
    EXPECT_FALSE(pace.BeforeMessage()) << "message " << i;
  EXPECT_TRUE(pace.BeforeMessage());
  pace.Flushed(true);
  // Counted afresh from a flush that sent everything (the loop's wait).
  for (int i = 1; i < wayland::kMessagesPerFlush; ++i)
    EXPECT_FALSE(pace.BeforeMessage()) << "message " << i;
  pace.Flushed(true);
  EXPECT_FALSE(pace.BeforeMessage());
  // Requests left unsent: every message waits for the compositor first,
  // until a flush sends them all.
  pace.Flushed(false);
  EXPECT_TRUE(pace.BeforeMessage());
  EXPECT_TRUE(pace.BeforeMessage());
  pace.Flushed(false);
  EXPECT_TRUE(pace.BeforeMessage());
  pace.Flushed(true);
  EXPECT_FALSE(pace.BeforeMessage());
}

TEST(WaylandKeymap, NoKeyRepeatsAndEveryKeyTypesWhatItDid) {
  xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  ASSERT_NE(context, nullptr);
  const xkb_rule_names names = {"evdev", "jp106", "jp", "", ""};
  xkb_keymap *jp =
      xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  ASSERT_NE(jp, nullptr);
  char *text = xkb_keymap_get_as_string(jp, XKB_KEYMAP_FORMAT_TEXT_V1);
  const std::string changed = wayland::KeymapWithoutRepeat(text);
  std::free(text);
  xkb_keymap *ours = xkb_keymap_new_from_string(context, changed.c_str(),
                                                XKB_KEYMAP_FORMAT_TEXT_V1,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS);
  ASSERT_NE(ours, nullptr);
  int repeatedBefore = 0, keys = 0;
  for (xkb_keycode_t k = xkb_keymap_min_keycode(jp);
       k <= xkb_keymap_max_keycode(jp); ++k) {
    repeatedBefore += xkb_keymap_key_repeats(jp, k) ? 1 : 0;
    EXPECT_FALSE(xkb_keymap_key_repeats(ours, k)) << k;
    for (xkb_level_index_t level = 0; level < 2; ++level) {
      const xkb_keysym_t *before = nullptr, *after = nullptr;
      const int n = xkb_keymap_key_get_syms_by_level(jp, k, 0, level, &before);
      ASSERT_EQ(xkb_keymap_key_get_syms_by_level(ours, k, 0, level, &after), n)
          << k;
      for (int i = 0; i < n; ++i)
        EXPECT_EQ(before[i], after[i]) << k;
      keys += n > 0 ? 1 : 0;
    }
  }
  EXPECT_GT(repeatedBefore, 80); // letters, digits, the pad: they did
  EXPECT_GT(keys, 100);
  xkb_keymap_unref(ours);
  xkb_keymap_unref(jp);
  xkb_context_unref(context);
}

} // namespace

TEST(WaylandInstance, TheSocketOnlyInAFolderNoOtherUserReaches) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("flinto-private-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string why;
  for (const auto &[mode, ok] :
       {std::pair{0700, true}, std::pair{0750, false}, std::pair{0701, false},
        std::pair{0777, false}, std::pair{01700, false}}) {
    ASSERT_EQ(::chmod(dir.c_str(), mode_t(mode)), 0);
    EXPECT_EQ(wayland::IsPrivateFolder(dir.string(), &why), ok)
        << std::oct << mode;
    if (!ok) {
      EXPECT_NE(why.find("not 0700"), std::string::npos) << why;
    }
  }
  ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
  EXPECT_FALSE(wayland::IsPrivateFolder((dir / "missing").string(), &why));
  if (::geteuid() == 0) {
    // Mode 0700, but another user's.
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(wayland::IsPrivateFolder(dir.string(), &why));
    EXPECT_NE(why.find("another user"), std::string::npos) << why;
  }
  std::filesystem::remove_all(dir);
}
