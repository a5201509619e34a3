#include "platform/linux/key_policy.h"

#include <algorithm>

namespace linuxhost {

bool IsPadDigit(unsigned vk) {
  return (vk >= 0x60 && vk <= 0x69) || vk == 0x6E;
}

bool IsKanaKeysym(unsigned long keysym) {
  if (keysym >= 0x4A1 && keysym <= 0x4DF)
    return true;
  const unsigned long unicode = 0x1000000;
  return keysym >= unicode + 0x3041 && keysym <= unicode + 0x30FF;
}

bool KanaShown(bool kanaIndicatorOn, const bool (&kanaGroup)[4],
               unsigned group) {
  return kanaIndicatorOn || (group < 4 && kanaGroup[group]);
}

std::vector<KeyStep> KeySteps(const KeyFacts &key) {
  std::vector<KeyStep> steps;
  const bool again = key.down && key.held;
  if (again && !key.keymapRepeats)
    return steps;
  if (IsPadDigit(key.vk) && key.down && !again && !key.numLockOn)
    steps.push_back(KeyStep::kLockNumLock);
  if (!key.down) {
    steps.push_back(key.letGoEarly ? KeyStep::kForget : KeyStep::kRelease);
    if (key.lastToHoldNumLock)
      steps.push_back(KeyStep::kUnlockNumLock);
    return steps;
  }
  if (again && !key.letGoEarly)
    steps.push_back(KeyStep::kRelease);
  steps.push_back(KeyStep::kPress);
  return steps;
}

LetGo HeldKeysToLetGo(const std::map<unsigned, uint64_t> &pressedAt,
                      const std::set<unsigned> &letGo, uint64_t now,
                      uint64_t after) {
  LetGo result;
  for (const auto &[code, at] : pressedAt) {
    if (letGo.count(code))
      continue;
    if (now >= at + after)
      result.now.push_back(code);
    else
      result.next = std::min(result.next, at + after);
  }
  return result;
}

} // namespace linuxhost
