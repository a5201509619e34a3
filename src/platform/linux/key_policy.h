// How a Linux desktop driver turns one of Flinto's key events into what it
// sends: one policy for every way keys are injected (XTest on X11, the
// virtual keyboard on Wayland), decided here from what the driver knows and
// carried out by the driver, step by step.
#pragma once

#include <cstdint>
#include <map>
#include <set>
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

// Some applications repeat a key held down whatever the keymap says (X11
// applications under Xwayland repeat at the compositor's rate): a key that
// repeats, held down for Flinto's own reasons (latched, locked, or pressed
// with the pointer gone), is let go for the compositor once it has been
// down this long, shorter than any usual repeat delay. Flinto's own
// repeats, every 100 ms, press it again; its release then sends nothing.
constexpr uint64_t kLetGoAfterMs = 400;
struct LetGo {
  std::vector<unsigned> now;  // keys to let go now
  uint64_t next = UINT64_MAX; // when the next one is due
};
// Of the keys pressed at the times given (evdev codes), those not let go
// yet and down for `after` ms (kLetGoAfterMs) or longer at `now`.
LetGo HeldKeysToLetGo(const std::map<unsigned, uint64_t> &pressedAt,
                      const std::set<unsigned> &letGo, uint64_t now,
                      uint64_t after = kLetGoAfterMs);

// On X11 by XTest the server repeats a key held down after its repeat
// delay: Flinto turns that off for a key it holds once it has been down
// half the delay (so a click, shorter, changes nothing on the server).
inline uint64_t ServerRepeatOffAfter(unsigned repeatDelayMs) {
  return repeatDelayMs / 2;
}

} // namespace linuxhost
