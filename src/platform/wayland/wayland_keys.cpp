// Keys: a virtual keyboard with a keymap of its own, compiled for the
// Japanese 106/109 keyboard; the physical keys' codes as on X11, and the
// modifier state kept by an xkb_state fed with what Flinto sends.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/evdev.h"
#include "platform/linux/key_policy.h"
#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/keymap.h"
#include "platform/wayland/wayland_driver.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace wayland {

// No key of the keymap repeats: the keyboard repeats its keys itself, at
// its own pace and only while the pointer is over it, and an application
// repeats a key held down by the keymap's word (a latched key would run
// on). Each key's description gets "repeat= false".
std::string KeymapWithoutRepeat(const std::string &keymap) {
  std::string out;
  out.reserve(keymap.size() + 8192);
  size_t at = 0;
  for (;;) {
    const size_t key = keymap.find("key <", at);
    if (key == std::string::npos)
      break;
    const size_t open = keymap.find('{', key);
    const size_t close = keymap.find('>', key);
    // Only "key <NAME> {" in the symbols section opens a key's body; the
    // key codes section says "<NAME> = 9;".
    if (open == std::string::npos || close == std::string::npos ||
        keymap.find_first_not_of(" \t", close + 1) != open) {
      out.append(keymap, at, key + 5 - at);
      at = key + 5;
      continue;
    }
    out.append(keymap, at, open + 1 - at);
    out += " repeat= false,";
    at = open + 1;
  }
  out.append(keymap, at, std::string::npos);
  return out;
}

bool WaylandDriver::InitKeyboard(std::string *error) {
  xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (xkb_ == nullptr) {
    *error = "xkbcommon cannot start";
    return false;
  }
  const xkb_rule_names names = {"evdev", "jp106", "jp", "", ""};
  xkb_keymap *jp =
      xkb_keymap_new_from_names(xkb_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (jp == nullptr) {
    *error = "the Japanese keymap (evdev, jp106, jp) cannot be compiled";
    return false;
  }
  for (xkb_keycode_t k = xkb_keymap_min_keycode(jp);
       k <= xkb_keymap_max_keycode(jp) && k < 512; ++k)
    if (k >= 8 && xkb_keymap_key_repeats(jp, k))
      repeating_.insert(k - 8);
  char *text = xkb_keymap_get_as_string(jp, XKB_KEYMAP_FORMAT_TEXT_V1);
  const std::string keymap = KeymapWithoutRepeat(text != nullptr ? text : "");
  std::free(text);
  // Only the repeat differs: the state follows the keymap as compiled.
  keymap_ = jp;
  state_ = xkb_state_new(keymap_);

  const int fd = memfd_create("flinto-keymap", MFD_CLOEXEC);
  const size_t size = keymap.size() + 1;
  if (fd < 0 || ftruncate(fd, off_t(size)) != 0) {
    if (fd >= 0)
      close(fd);
    *error = "no memory for the keymap";
    return false;
  }
  void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    close(fd);
    *error = "no memory for the keymap";
    return false;
  }
  std::memcpy(map, keymap.c_str(), size);
  munmap(map, size);
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
      keyboardManager_, seat_);
  zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1,
                                 fd, uint32_t(size));
  close(fd);
  return true;
}

void WaylandDriver::EnsureKeyboard() {
  if (keyboardTried_)
    return;
  keyboardTried_ = true;
  // What was drawn goes to the compositor before the keymap is made: the
  // first picture does not wait for it.
  wl_display_flush(display_);
  std::string error;
  if (!InitKeyboard(&error))
    std::fprintf(stderr, "flinto: %s: no key can be typed\n", error.c_str());
  wl_display_flush(display_);
}

void WaylandDriver::DropKeyboard() {
  if (keyboard_ != nullptr) {
    // Nothing stays down behind us.
    for (unsigned code : held_)
      if (!releasedEarly_.count(code))
        zwp_virtual_keyboard_v1_key(keyboard_, uint32_t(Now()), code,
                                    WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_destroy(keyboard_);
    keyboard_ = nullptr;
  }
  if (state_ != nullptr)
    xkb_state_unref(state_);
  if (keymap_ != nullptr)
    xkb_keymap_unref(keymap_);
  if (xkb_ != nullptr)
    xkb_context_unref(xkb_);
  state_ = nullptr;
  keymap_ = nullptr;
  xkb_ = nullptr;
}

// The compositor is told the modifiers whenever they change, as a keyboard
// driver tells it.
void WaylandDriver::SendModifiers() {
  const uint32_t now[4] = {
      xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
      xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE)};
  if (std::memcmp(now, sentMods_, sizeof now) == 0)
    return;
  std::memcpy(sentMods_, now, sizeof now);
  zwp_virtual_keyboard_v1_modifiers(keyboard_, now[0], now[1], now[2], now[3]);
  portable::KeyEventSeen(VK_SHIFT, 0, 0); // modifiers changed: look again
}

void WaylandDriver::InjectKey(BYTE vk, BYTE scan, DWORD flags) {
  EnsureKeyboard();
  if (keyboard_ == nullptr)
    return;
  const unsigned code = linuxhost::EvdevCodeForVirtualKey(vk, scan, flags);
  if (code == 0)
    return;
  const xkb_keycode_t keycode = code + 8;
  linuxhost::KeyFacts facts;
  facts.vk = vk;
  facts.down = !(flags & KEYEVENTF_KEYUP);
  facts.held = held_.count(code) != 0;
  facts.keymapRepeats = repeating_.count(code) != 0;
  const xkb_mod_index_t num =
      xkb_keymap_mod_get_index(keymap_, XKB_MOD_NAME_NUM);
  facts.numLockOn =
      num == XKB_MOD_INVALID ||
      xkb_state_mod_index_is_active(state_, num, XKB_STATE_MODS_LOCKED) > 0;
  facts.lastToHoldNumLock =
      numLockedFor_.count(code) != 0 && numLockedFor_.size() == 1;
  facts.letGoEarly = releasedEarly_.count(code) != 0;
  // A lock flipped in the state the compositor is told of.
  auto setLock = [&](xkb_mod_index_t mod, bool on) {
    uint32_t locked = xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED);
    locked = on ? locked | (1u << mod) : locked & ~(1u << mod);
    xkb_state_update_mask(
        state_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED), locked, 0, 0,
        xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_LOCKED));
  };
  const uint32_t time = uint32_t(Now());
  auto send = [&](bool press) {
    zwp_virtual_keyboard_v1_key(keyboard_, time, code,
                                press ? WL_KEYBOARD_KEY_STATE_PRESSED
                                      : WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(state_, keycode, press ? XKB_KEY_DOWN : XKB_KEY_UP);
  };
  for (const linuxhost::KeyStep step : linuxhost::KeySteps(facts)) {
    switch (step) {
    case linuxhost::KeyStep::kLockNumLock:
      setLock(num, true);
      numLockedFor_.insert(code);
      break;
    case linuxhost::KeyStep::kRelease:
      send(false);
      break;
    case linuxhost::KeyStep::kPress:
      send(true);
      releasedEarly_.erase(code);
      held_.insert(code);
      if (facts.keymapRepeats)
        pressedAt_[code] = Now();
      break;
    case linuxhost::KeyStep::kUnlockNumLock:
      setLock(num, false);
      break;
    case linuxhost::KeyStep::kForget:
      break;
    }
  }
  if (!facts.down) {
    held_.erase(code);
    pressedAt_.erase(code);
    releasedEarly_.erase(code);
    numLockedFor_.erase(code);
  }
  SendModifiers();
  // Sent with the next flush, as the loop goes to wait.
}

uint64_t WaylandDriver::NextLetGo() {
  const linuxhost::LetGo due =
      linuxhost::HeldKeysToLetGo(pressedAt_, releasedEarly_, Now());
  return due.now.empty() ? due.next : 0;
}

void WaylandDriver::LetGoHeldKeys() {
  const uint64_t now = Now();
  const linuxhost::LetGo due =
      linuxhost::HeldKeysToLetGo(pressedAt_, releasedEarly_, now);
  for (unsigned code : due.now) {
    zwp_virtual_keyboard_v1_key(keyboard_, uint32_t(now), code,
                                WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(state_, code + 8, XKB_KEY_UP);
    releasedEarly_.insert(code);
  }
  if (!due.now.empty()) {
    SendModifiers();
    wl_display_flush(display_);
  }
}

SHORT WaylandDriver::AsyncKeyState(int vk) {
  if (vk == VK_SHIFT && state_ != nullptr)
    return xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_SHIFT,
                                        XKB_STATE_MODS_DEPRESSED) > 0
               ? SHORT(0x8000)
               : SHORT(0);
  return 0;
}

// What the labels follow: Flinto's own Shift and Caps Lock (no client sees
// the state of the physical keyboard on Wayland). Flinto's keymap types no
// kana, so the labels never show kana: the Kana key goes to the input
// method, which keeps its own mode.
SHORT WaylandDriver::KeyState(int vk) {
  if (vk == VK_CAPITAL && state_ != nullptr)
    return xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_CAPS,
                                        XKB_STATE_MODS_LOCKED) > 0
               ? 1
               : 0;
  return AsyncKeyState(vk);
}

} // namespace wayland
