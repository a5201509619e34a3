// How a Linux desktop driver turns one of Flinto's key events into what it
// sends: one policy for every way keys are injected (XTest on X11, the
// virtual keyboard on Wayland), decided here from what the driver knows and
// carried out by the driver, step by step.
#pragma once

#include <cstdint>
#include <vector>

namespace linuxhost {

// What the driver knows of the key and of the keyboard when Flinto sends
// the key going down or up.
struct KeyFacts {
  unsigned vk = 0;            // the virtual-key code Flinto sends
  bool down = false;          // going down (else up)
  bool held = false;          // the driver holds the key down already
  bool keymapRepeats = false; // the keymap repeats the key when held
  bool numLockOn = false;     // NumLock is locked now
  // Up: the key locked NumLock when it went down, and no other key still
  // down did.
  bool lastToHoldNumLock = false;
  // The key was already let go for the compositor (see KeyRepeatLetGo).
  bool letGoEarly = false;
};

enum class KeyStep : uint8_t {
  kLockNumLock,   // NumLock locked for as long as the key is down
  kRelease,       // the key's release is sent
  kPress,         // the key's press is sent
  kUnlockNumLock, // NumLock back off
  kForget,        // the key counts as up again, nothing sent
};

// The steps for the event, in the order the driver carries them out; none
// when the event has nothing to do (a repeat of a key the keymap does not
// repeat).
//
// - A key repeats only where the keymap repeats it: modifiers, Caps Lock
//   and Kana do not, and a held Caps or Kana key toggles once.
// - Every key is sent as the physical key of a Japanese keyboard is: the
//   keymap and the input method decide what it means. Caps alone is
//   Eisu_toggle (英数, for the input method) and Caps Lock with Shift; Kana
//   goes to the input method, and Flinto keeps no Kana state of its own.
// - The numeric pad's digits and point type digits whatever the NumLock
//   state, as on Windows: NumLock is locked while such a key is down.
// - A repeat reaches applications as a repeating keyboard's does: the key
//   up and at once down again (only down, if it was let go already).
std::vector<KeyStep> KeySteps(const KeyFacts &key);

// Whether the virtual-key code is one of the pad's digits or its point.
bool IsPadDigit(unsigned vk);

// Whether the keysym is a kana: the keysyms of the Katakana set
// (kana_fullstop to semivoicedsound) or a Unicode keysym of hiragana or
// katakana.
bool IsKanaKeysym(unsigned long keysym);

// Whether the labels show kana, after what the keymap says: its Kana
// indicator is lit, or the letter keys type kana in the effective group
// (kanaGroup holds that for each of the four groups).
bool KanaShown(bool kanaIndicatorOn, const bool (&kanaGroup)[4],
               unsigned group);

} // namespace linuxhost
