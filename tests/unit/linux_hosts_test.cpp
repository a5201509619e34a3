// What the Linux hosts share: the key policy, rule by rule, each at its
// bounds, and the poll timeout.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "platform/linux/key_policy.h"
#include "platform/linux/poll_timeout.h"

namespace {

using linuxhost::KeyFacts;
using linuxhost::KeyStep;
using linuxhost::KeySteps;
using Steps = std::vector<KeyStep>;

KeyFacts Key(unsigned vk, bool down) {
  KeyFacts k;
  k.vk = vk;
  k.down = down;
  k.numLockOn = true;
  return k;
}

TEST(KeyPolicy, APressAndAReleaseSendTheKey) {
  EXPECT_EQ(KeySteps(Key('A', true)), Steps{KeyStep::kPress});
  KeyFacts up = Key('A', false);
  up.held = true;
  EXPECT_EQ(KeySteps(up), Steps{KeyStep::kRelease});
}

TEST(KeyPolicy, AKeyRepeatsOnlyWhereTheKeymapRepeatsIt) {
  KeyFacts again = Key('A', true);
  again.held = true;
  EXPECT_EQ(KeySteps(again), Steps{}); // Shift, Caps, Kana: no repeat
  again.keymapRepeats = true;          // as a repeating keyboard: up, then down
  EXPECT_EQ(KeySteps(again), (Steps{KeyStep::kRelease, KeyStep::kPress}));
  again.letGoEarly = true; // already let go for the compositor
  EXPECT_EQ(KeySteps(again), Steps{KeyStep::kPress});
  // A key let go early sends no release of its own at the end.
  KeyFacts up = Key('A', false);
  up.held = true;
  up.letGoEarly = true;
  EXPECT_EQ(KeySteps(up), Steps{KeyStep::kForget});
}

TEST(KeyPolicy, CapsAndKanaAreSentAsThePhysicalKeysAre) {
  // The keymap and the input method decide what they mean: Caps alone is
  // 英数 and Caps Lock with Shift on a Japanese keymap. Neither is toggled
  // by Flinto itself, and a held one is pressed once.
  for (unsigned vk : {0x14u, 0x15u}) {
    EXPECT_EQ(KeySteps(Key(vk, true)), Steps{KeyStep::kPress}) << vk;
    KeyFacts held = Key(vk, true);
    held.held = true;
    EXPECT_EQ(KeySteps(held), Steps{}) << vk;
    KeyFacts up = Key(vk, false);
    up.held = true;
    EXPECT_EQ(KeySteps(up), Steps{KeyStep::kRelease}) << vk;
  }
}

TEST(KeyPolicy, KanaShowsWhereTheKeymapTypesKana) {
  // The Katakana set's first and last keysyms and their neighbours.
  EXPECT_FALSE(linuxhost::IsKanaKeysym(0x4A0));
  EXPECT_TRUE(linuxhost::IsKanaKeysym(0x4A1)); // kana_fullstop
  EXPECT_TRUE(linuxhost::IsKanaKeysym(0x4C1)); // kana_CHI, on A in jp(kana)
  EXPECT_TRUE(linuxhost::IsKanaKeysym(0x4DF)); // semivoicedsound
  EXPECT_FALSE(linuxhost::IsKanaKeysym(0x4E0));
  EXPECT_FALSE(linuxhost::IsKanaKeysym('a'));
  // Unicode keysyms of hiragana and katakana (ぁ to ヿ).
  EXPECT_FALSE(linuxhost::IsKanaKeysym(0x1003040));
  EXPECT_TRUE(linuxhost::IsKanaKeysym(0x1003041));
  EXPECT_TRUE(linuxhost::IsKanaKeysym(0x10030C1));
  EXPECT_TRUE(linuxhost::IsKanaKeysym(0x10030FF));
  EXPECT_FALSE(linuxhost::IsKanaKeysym(0x1003100));

  const bool secondIsKana[4] = {false, true, false, false};
  EXPECT_FALSE(linuxhost::KanaShown(false, secondIsKana, 0));
  EXPECT_TRUE(linuxhost::KanaShown(false, secondIsKana, 1));
  EXPECT_TRUE(linuxhost::KanaShown(true, secondIsKana, 0));   // Kana Lock
  EXPECT_FALSE(linuxhost::KanaShown(false, secondIsKana, 4)); // no group 5
}

TEST(KeyPolicy, PadDigitsLockNumLockWhileDown) {
  // The digits 0x60 to 0x69 and the point 0x6E; not 0x5F, 0x6A to 0x6D,
  // 0x6F.
  for (unsigned vk = 0x5F; vk <= 0x6F; ++vk) {
    KeyFacts k = Key(vk, true);
    k.numLockOn = false;
    const bool digit = (vk >= 0x60 && vk <= 0x69) || vk == 0x6E;
    EXPECT_EQ(linuxhost::IsPadDigit(vk), digit) << vk;
    const Steps want = digit ? Steps{KeyStep::kLockNumLock, KeyStep::kPress}
                             : Steps{KeyStep::kPress};
    EXPECT_EQ(KeySteps(k), want) << vk;
  }
  // Already on: left as it is.
  EXPECT_EQ(KeySteps(Key(0x61, true)), Steps{KeyStep::kPress});
  // Unlocked at the release of the last key that locked it, not before.
  KeyFacts up = Key(0x61, false);
  up.held = true;
  EXPECT_EQ(KeySteps(up), Steps{KeyStep::kRelease});
  up.lastToHoldNumLock = true;
  EXPECT_EQ(KeySteps(up), (Steps{KeyStep::kRelease, KeyStep::kUnlockNumLock}));
}

TEST(LinuxHosts, ThePollTimeoutToADeadline) {
  EXPECT_EQ(linuxhost::PollTimeout(UINT64_MAX, 5), -1); // none: for ever
  EXPECT_EQ(linuxhost::PollTimeout(4, 5), 0);           // passed
  EXPECT_EQ(linuxhost::PollTimeout(5, 5), 0);           // now
  EXPECT_EQ(linuxhost::PollTimeout(6, 5), 1);
  // At most a minute.
  EXPECT_EQ(linuxhost::PollTimeout(60005, 5), 60000);
  EXPECT_EQ(linuxhost::PollTimeout(60006, 5), 60000);
  EXPECT_EQ(linuxhost::PollTimeout(60004, 5), 59999);
}

TEST(KeyLetGo, AHeldKeyIsLetGoAtTheBoundAndOnlyOnce) {
  // "a" (30) pressed at 1000, "s" (31) at 1200, "d" (32) already let go.
  const std::map<unsigned, uint64_t> pressed = {
      {30, 1000}, {31, 1200}, {32, 900}};
  const std::set<unsigned> letGo = {32};
  const uint64_t bound = 1000 + linuxhost::kLetGoAfterMs;
  linuxhost::LetGo before =
      linuxhost::HeldKeysToLetGo(pressed, letGo, bound - 1);
  EXPECT_TRUE(before.now.empty());
  EXPECT_EQ(before.next, bound);
  linuxhost::LetGo at = linuxhost::HeldKeysToLetGo(pressed, letGo, bound);
  EXPECT_EQ(at.now, std::vector<unsigned>{30});
  EXPECT_EQ(at.next, 1200 + linuxhost::kLetGoAfterMs);
  linuxhost::LetGo after =
      linuxhost::HeldKeysToLetGo(pressed, letGo, bound + 1);
  EXPECT_EQ(after.now, std::vector<unsigned>{30});
  // Once let go, a key is not let go again; with none left, nothing is due.
  linuxhost::LetGo done =
      linuxhost::HeldKeysToLetGo(pressed, {30, 31, 32}, bound + 1000);
  EXPECT_TRUE(done.now.empty());
  EXPECT_EQ(done.next, UINT64_MAX);
}

TEST(KeyLetGo, TheServersRepeatGoesOffAtHalfItsDelay) {
  // The X server repeats after 660 ms by default: off at 330 ms, so that a
  // click (shorter) changes nothing on the server.
  const uint64_t after = linuxhost::ServerRepeatOffAfter(660);
  EXPECT_EQ(after, 330u);
  const std::map<unsigned, uint64_t> pressed = {{38, 1000}};
  EXPECT_TRUE(linuxhost::HeldKeysToLetGo(pressed, {}, 1329, after).now.empty());
  EXPECT_EQ(linuxhost::HeldKeysToLetGo(pressed, {}, 1329, after).next, 1330u);
  EXPECT_EQ(linuxhost::HeldKeysToLetGo(pressed, {}, 1330, after).now,
            std::vector<unsigned>{38});
  // A short delay (xset r rate 100): off at 50 ms.
  EXPECT_EQ(linuxhost::ServerRepeatOffAfter(100), 50u);
}

} // namespace
