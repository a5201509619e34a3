#include "platform/linux/key_policy.h"

namespace linuxhost {

namespace {

constexpr unsigned kVkCapital = 0x14;
constexpr unsigned kVkKana = 0x15;

} // namespace

bool IsPadDigit(unsigned vk) {
  return (vk >= 0x60 && vk <= 0x69) || vk == 0x6E;
}

std::vector<KeyStep> KeySteps(const KeyFacts &key) {
  std::vector<KeyStep> steps;
  const bool again = key.down && key.held;
  if (again && !key.keymapRepeats)
    return steps;
  if (key.vk == kVkKana && key.down && !again)
    steps.push_back(KeyStep::kToggleKana);
  if (key.vk == kVkCapital && !key.capsKeyIsCapsLock) {
    steps.push_back(key.down ? KeyStep::kToggleCapsLock : KeyStep::kForget);
    return steps;
  }
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

} // namespace linuxhost
