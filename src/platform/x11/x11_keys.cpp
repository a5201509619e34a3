// Keys: injection by XTest as the physical keys of a JIS 106/109 keyboard,
// the keyboard state from XKB, and the server's repeat kept off Flinto's
// keys.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstring>

#include "platform/linux/evdev.h"
#include "platform/linux/key_policy.h"
#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/keymap.h"
#include "platform/x11/compositor_keys.h"
#include "platform/x11/x11_driver.h"

namespace x11 {

unsigned KeycodeForVirtualKey(unsigned vk, unsigned scan, DWORD flags) {
  const unsigned evdev = linuxhost::EvdevCodeForVirtualKey(vk, scan, flags);
  return evdev != 0 ? evdev + 8 : 0;
}

// The server repeats a key that is held down, also one pressed through
// XTest. The keyboard repeats its keys itself, at its own pace and only
// while the pointer is over it, so the server must not: its repeat is
// turned off for the XTest keyboard (not for the physical one) while
// Flinto runs, and, since the core keyboard takes the controls of the
// keyboard used last, also for each key of the core keyboard while Flinto
// holds it down. What was changed is noted on the root window, so that a
// Flinto that was killed is made good by the next one: it lets go of every
// key the XTest keyboard still holds and restores the repeat as it was.
// Nothing of it is needed to show the keyboard, and a start that only hands
// over to a running Flinto must not touch what that one holds: it is done
// when the program first waits, or before its first key.
void X11Driver::PrepareKeys() {
  if (keysPrepared_)
    return;
  keysPrepared_ = true;
  StopServerRepeat();
}

void X11Driver::StopServerRepeat() {
  int count = 0;
  XDeviceInfo *devices = XListInputDevices(dpy_, &count);
  for (int i = 0; devices != nullptr && i < count; ++i)
    if (devices[i].use == IsXExtensionKeyboard && devices[i].name != nullptr &&
        std::strcmp(devices[i].name, "Virtual core XTEST keyboard") == 0)
      xtestKeyboard_ = int(devices[i].id);
  if (devices != nullptr)
    XFreeDeviceList(devices);
  RecoverFromKilledInstance();
  if (xtestKeyboard_ < 0)
    return;
  XkbDescPtr desc = XkbGetMap(dpy_, 0, unsigned(xtestKeyboard_));
  if (desc != nullptr) {
    if (XkbGetControls(dpy_, XkbAllControlsMask, desc) == Success &&
        desc->ctrls != nullptr)
      xtestRepeated_ = (desc->ctrls->enabled_ctrls & XkbRepeatKeysMask) != 0;
    XkbFreeKeyboard(desc, 0, True);
  }
  // A Flinto before this one may have turned it off and not lived to turn
  // it on again: what it found is on the root window.
  const std::vector<long> saved =
      Property(root_, "_FLINTO_XTEST_REPEAT", XA_CARDINAL, 0, 1);
  if (saved.size() == 1)
    xtestRepeated_ = saved[0] != 0;
  const long value = xtestRepeated_ ? 1 : 0;
  XChangeProperty(dpy_, root_, atom("_FLINTO_XTEST_REPEAT"), XA_CARDINAL, 32,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&value), 1);
  if (xtestRepeated_)
    XkbChangeEnabledControls(dpy_, unsigned(xtestKeyboard_), XkbRepeatKeysMask,
                             0);
}

void X11Driver::RestoreServerRepeat() {
  if (!keysPrepared_)
    return; // the records on the root window may be another Flinto's
  for (unsigned keycode : noRepeat_)
    SetKeyRepeat(keycode, true);
  noRepeat_.clear();
  XDeleteProperty(dpy_, root_, atom("_FLINTO_NO_REPEAT"));
  if (xtestRepeated_)
    XkbChangeEnabledControls(dpy_, unsigned(xtestKeyboard_), XkbRepeatKeysMask,
                             XkbRepeatKeysMask);
  XDeleteProperty(dpy_, root_, atom("_FLINTO_XTEST_REPEAT"));
}

void X11Driver::RecoverFromKilledInstance() {
  // Keys whose repeat a killed Flinto turned off.
  const std::vector<long> keys =
      Property(root_, "_FLINTO_NO_REPEAT", XA_CARDINAL, 0, 256);
  for (long keycode : keys)
    if (keycode > 7 && keycode < 256)
      SetKeyRepeat(unsigned(keycode), true);
  XDeleteProperty(dpy_, root_, atom("_FLINTO_NO_REPEAT"));
  // Keys the XTest keyboard still holds down: nobody will let them go.
  if (xtestKeyboard_ < 0)
    return;
  XDevice *device = XOpenDevice(dpy_, XID(xtestKeyboard_));
  if (device == nullptr)
    return;
  if (XDeviceState *state = XQueryDeviceState(dpy_, device)) {
    const XInputClass *c = state->data;
    for (int i = 0; i < state->num_classes; ++i) {
      if (c->c_class == KeyClass) {
        const XKeyState *k = reinterpret_cast<const XKeyState *>(c);
        for (int code = 8; code < k->num_keys && code < 256; ++code)
          if ((k->keys[code / 8] >> (code % 8)) & 1)
            XTestFakeKeyEvent(dpy_, unsigned(code), False, CurrentTime);
      }
      c = reinterpret_cast<const XInputClass *>(
          reinterpret_cast<const char *>(c) + c->length);
    }
    XFreeDeviceState(state);
  }
  XCloseDevice(dpy_, device);
  XFlush(dpy_);
}

void X11Driver::LetGoAfterLoss() {
  // Once: losing the new connection too ends up here again.
  static bool tried = false;
  DropKeyPath(); // its keys are let go its own way
  if (tried || (held_.empty() && noRepeat_.empty() && numLockedFor_.empty() &&
                !xtestRepeated_))
    return;
  tried = true;
  Display *lost = dpy_;
  dpy_ = XOpenDisplay(displayName_.c_str());
  if (dpy_ != nullptr) {
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion,
        minor = XkbMinorVersion;
    const bool xkb =
        XkbQueryExtension(dpy_, &opcode, &event, &error, &major, &minor);
    for (unsigned keycode : held_)
      XTestFakeKeyEvent(dpy_, keycode, False, CurrentTime);
    if (xkb && !numLockedFor_.empty())
      XkbLockModifiers(dpy_, XkbUseCoreKbd, numLockMask_, 0);
    if (xkb)
      RestoreServerRepeat();
    XSync(dpy_, False);
    XCloseDisplay(dpy_);
  }
  held_.clear();
  numLockedFor_.clear();
  dpy_ = lost;
}

void X11Driver::SetKeyRepeat(unsigned keycode, bool on) {
  XKeyboardControl control;
  control.key = int(keycode);
  control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
  XChangeKeyboardControl(dpy_, KBKey | KBAutoRepeatMode, &control);
}

void X11Driver::PublishNoRepeatKeys() {
  std::vector<long> keys(noRepeat_.begin(), noRepeat_.end());
  if (keys.empty()) {
    XDeleteProperty(dpy_, root_, atom("_FLINTO_NO_REPEAT"));
    return;
  }
  XChangeProperty(
      dpy_, root_, atom("_FLINTO_NO_REPEAT"), XA_CARDINAL, 32, PropModeReplace,
      reinterpret_cast<const unsigned char *>(keys.data()), int(keys.size()));
}

void X11Driver::ReadKeyboardMap() {
  // Kana shows in the labels when the letter keys type kana: in a group
  // (layout) whose A key types a kana keysym, or where something lights
  // the keymap's "Kana" indicator (a Kana Lock).
  const KeyCode a = KeyCode(KeycodeForVirtualKey('A', 0, 0));
  for (unsigned group = 0; group < 4; ++group)
    kanaGroup_[group] =
        a != 0 &&
        linuxhost::IsKanaKeysym(XkbKeycodeToKeysym(dpy_, a, int(group), 0));
  kanaIndicator_ = -1;
  kanaIndicatorOn_ = false;
  int index = -1;
  Bool on = False;
  if (XkbGetNamedIndicator(dpy_, atom("Kana"), &index, &on, nullptr, nullptr) &&
      index >= 0) {
    kanaIndicator_ = index;
    kanaIndicatorOn_ = on;
  }
  portable::KeyEventSeen(0x15, 0, 0); // the map changed: look again
  numLockMask_ = XkbKeysymToModifiers(dpy_, XK_Num_Lock);
  // Which keys the server repeats: the core keyboard's per-key repeat, as
  // the keymap sets it (modifiers and locks do not repeat).
  std::memset(perKeyRepeat_, 0xFF, sizeof perKeyRepeat_);
  XkbDescPtr desc = XkbGetMap(dpy_, 0, XkbUseCoreKbd);
  if (desc != nullptr) {
    if (XkbGetControls(dpy_, XkbPerKeyRepeatMask | XkbRepeatKeysMask, desc) ==
            Success &&
        desc->ctrls != nullptr) {
      std::memcpy(perKeyRepeat_, desc->ctrls->per_key_repeat,
                  sizeof perKeyRepeat_);
      repeatDelay_ = desc->ctrls->repeat_delay;
    }
    XkbFreeKeyboard(desc, 0, True);
  }
}

void X11Driver::InjectKey(BYTE vk, BYTE scan, DWORD flags) {
  PrepareKeys();
  const unsigned keycode = KeycodeForVirtualKey(vk, scan, flags);
  // Until the desktop grants the session, nothing is typed, and nothing is
  // kept to be typed later.
  if (keycode == 0 || KeysWaitForGrant())
    return;
  linuxhost::KeyFacts facts;
  facts.vk = vk;
  facts.down = !(flags & KEYEVENTF_KEYUP);
  facts.held = held_.count(keycode) != 0;
  facts.keymapRepeats = KeyRepeats(keycode);
  facts.numLockOn = numLockMask_ == 0 || (xkbLocked_ & numLockMask_) != 0;
  facts.lastToHoldNumLock =
      numLockedFor_.count(keycode) != 0 && numLockedFor_.size() == 1;
  facts.letGoEarly = releasedEarly_.count(keycode) != 0;
  for (const linuxhost::KeyStep step : linuxhost::KeySteps(facts)) {
    switch (step) {
    case linuxhost::KeyStep::kLockNumLock:
      XkbLockModifiers(dpy_, XkbUseCoreKbd, numLockMask_, numLockMask_);
      xkbLocked_ |= numLockMask_;
      numLockedFor_.insert(keycode);
      break;
    case linuxhost::KeyStep::kRelease:
      SendKeyEvent(keycode, false);
      break;
    case linuxhost::KeyStep::kPress:
      SendKeyEvent(keycode, true);
      // A key held down is repeated by the server (XTest: its repeat is
      // turned off for the key once it has been down a while, see
      // HoldHeldKeys) or by the compositor (let go for it before its
      // repeat begins). A repeat of Flinto's own counts from the first
      // press.
      if (facts.keymapRepeats && !pressedAt_.count(keycode))
        pressedAt_[keycode] = Now();
      held_.insert(keycode);
      releasedEarly_.erase(keycode);
      break;
    case linuxhost::KeyStep::kUnlockNumLock:
      XkbLockModifiers(dpy_, XkbUseCoreKbd, numLockMask_, 0);
      xkbLocked_ &= ~numLockMask_;
      break;
    case linuxhost::KeyStep::kForget:
      break;
    }
  }
  if (!facts.down) {
    held_.erase(keycode);
    pressedAt_.erase(keycode);
    releasedEarly_.erase(keycode);
    numLockedFor_.erase(keycode);
    if (noRepeat_.erase(keycode)) {
      SetKeyRepeat(keycode, true);
      PublishNoRepeatKeys();
    }
  }
  // Sent with the next flush, as the loop goes to wait: a click's key and
  // its picture go to the server together.
}

bool X11Driver::KeyRepeats(unsigned keycode) const {
  if (keycode >= 256)
    return false;
  if (noRepeat_.count(keycode))
    return true; // turned off by us while we hold it
  return (perKeyRepeat_[keycode / 8] >> (keycode % 8)) & 1;
}

SHORT X11Driver::AsyncKeyState(int vk) {
  if (vk != 0x10)
    return 0;
  // Through the compositor, the X server sees the keys only while an X11
  // window has the focus: Flinto's own Shift counts too.
  const bool ownShift =
      keyPath_ != nullptr && ((held_.count(50) && !releasedEarly_.count(50)) ||
                              (held_.count(62) && !releasedEarly_.count(62)));
  return (xkbMods_ & ShiftMask) || ownShift ? SHORT(0x8000) : SHORT(0);
}

SHORT X11Driver::KeyState(int vk) {
  const int compositorLocks = CompositorLocks();
  if (vk == 0x14 && compositorLocks >= 0)
    return (compositorLocks & kKeyPathCapsLock) ? 1 : 0;
  if (vk == 0x14)
    return (xkbLocked_ & LockMask) ? 1 : 0;
  if (vk == 0x15)
    return linuxhost::KanaShown(kanaIndicatorOn_, kanaGroup_, xkbGroup_) ? 1
                                                                         : 0;
  return AsyncKeyState(vk);
}

void X11Driver::HandleXkb(XEvent &event) {
  XkbEvent &xkb = reinterpret_cast<XkbEvent &>(event);
  switch (xkb.any.xkb_type) {
  case XkbStateNotify:
    if (xkbMods_ != xkb.state.mods || xkbLocked_ != xkb.state.locked_mods ||
        xkbGroup_ != unsigned(xkb.state.group)) {
      xkbMods_ = xkb.state.mods;
      xkbLocked_ = xkb.state.locked_mods;
      xkbGroup_ = unsigned(xkb.state.group);
      // What the server knows of the locks is the truth while it knows.
      ownLocks_ = ((xkbLocked_ & LockMask) ? kKeyPathCapsLock : 0) |
                  ((numLockMask_ & xkbLocked_) ? kKeyPathNumLock : 0);
      portable::KeyEventSeen(0x10, 0, 0); // modifiers changed: look again
    }
    break;
  case XkbIndicatorStateNotify:
    if (kanaIndicator_ >= 0 && (xkb.indicators.changed >> kanaIndicator_) & 1) {
      kanaIndicatorOn_ = (xkb.indicators.state >> kanaIndicator_) & 1;
      portable::KeyEventSeen(0x15, 0, 0);
    }
    break;
  case XkbMapNotify:
    // Each key whose repeat is turned on or off (each click on a key that
    // repeats) changes only the map's explicit components, on every
    // keyboard device: nothing read from the map changes with it.
    if ((xkb.map.changed & ~unsigned(XkbExplicitComponentsMask)) != 0)
      ReadKeyboardMap();
    break;
  case XkbNewKeyboardNotify:
    ReadKeyboardMap();
    break;
  case XkbControlsNotify:
    // The repeat delay (xset r rate): when a held key's repeat goes off.
    if (xkb.ctrls.changed_ctrls & XkbRepeatKeysMask)
      ReadKeyboardMap();
    break;
  default:
    break;
  }
}

// --- Tray icon ---------------------------------------------------------

} // namespace x11
