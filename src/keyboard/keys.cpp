// The key state machine: clicks, latches, locks, releases and auto-repeat.
#include "app/app.h"
#include "keyboard/keyboard.h"
#include "render/render.h"

namespace {

// The key state machine's own state, with its starting values.
struct KeysState {
  uint32_t repeatKey = 0;
  int32_t repeatCountdown = 0;
  ModifierState modifiers;
};
KeysState keys;

} // namespace

uint32_t &g_repeatKey = keys.repeatKey;
int32_t &g_repeatCountdown = keys.repeatCountdown;
ModifierState &g_modifiers = keys.modifiers;

namespace {

// Issues a KeyCommand by calling the keyboard window procedure directly, so
// that the command and every broadcast it causes finish before we go on.
void IssueKeyCommand(HWND window, const KeyEntry &entry, UINT action) {
  const WPARAM word = (entry.id & 0xFFFF) | (static_cast<WPARAM>(action) << 16);
  KeyboardWndProc(window, WM_COMMAND, word, 0);
}

// Clears Down (with `alsoClear`), redraws, and injects the key-up.
void ReleaseKey(HWND window, KeyEntry &entry, int32_t alsoClear) {
  entry.flags &= ~(Down | alsoClear);
  RedrawKey(window, entry, false);
  IssueKeyCommand(window, entry, kActionUp);
}

void ButtonDown(HWND window, KeyEntry &entry, int32_t held) {
  if (IsAnyKeyCaptured() && !IsCapturedKey(entry))
    return;
  if (IsCapturedKey(entry)) {
    if (entry.flags & held) { // the same button again: its release was lost
      entry.flags &= ~(LeftHeld | RightHeld);
      ClearCapturedKey();
      BroadcastToKeys(window, MSG_RELEASE_LATCHED, 0, 0);
    } else if (entry.flags & Down) { // the other button holds it: lock
      entry.flags = (entry.flags & ~Latched) | Locked;
      ClearCapturedKey();
      IssueKeyCommand(window, entry, kActionLock);
    }
    return;
  }
  SetCapturedKey(entry);
  entry.flags |= held;
  if (held == LeftHeld) {
    entry.flags &= ~Locked;
  } else if (entry.flags & Locked) {
    entry.flags = (entry.flags & ~Locked) | Latched;
  }
  if (!(entry.flags & Down)) {
    entry.flags |= Down;
    RedrawKey(window, entry, false);
    IssueKeyCommand(window, entry, kActionDown);
  }
}

// A left click on a latched key takes it up for good: a latch left on a key
// that is up would make the next right click release instead of latch.
void LeftUp(HWND window, KeyEntry &entry) {
  if (!IsCapturedKey(entry))
    return;
  entry.flags &= ~LeftHeld;
  ClearCapturedKey();
  if (entry.flags & Down)
    ReleaseKey(window, entry, Latched);
}

void RightUp(HWND window, KeyEntry &entry) {
  if (!IsCapturedKey(entry))
    return;
  entry.flags &= ~RightHeld;
  ClearCapturedKey();
  if (!(entry.flags & Latched)) {
    entry.flags |= Latched;
    return;
  }
  entry.flags &= ~Latched;
  if (entry.flags & Down)
    ReleaseKey(window, entry, 0);
}

} // namespace

bool KeyHandler(HWND window, KeyEntry &entry, UINT message, WPARAM wParam,
                LPARAM lParam) {
  switch (message) {
  case WM_LBUTTONDOWN:
    ButtonDown(window, entry, LeftHeld);
    return true;
  case WM_RBUTTONDOWN:
    ButtonDown(window, entry, RightHeld);
    return true;
  case WM_LBUTTONUP:
    LeftUp(window, entry);
    return true;
  case WM_RBUTTONUP:
    RightUp(window, entry);
    return true;
  case MSG_RELEASE_LATCHED:
    if (!(entry.flags & Locked) && (entry.flags & Down))
      ReleaseKey(window, entry, Latched);
    return true;
  case MSG_RELEASE_ALL:
    if (entry.flags & Down)
      ReleaseKey(window, entry, Latched | Locked);
    return true;
  case MSG_MODIFIERS_CHANGED:
    if (!entry.label.empty() && entry.label[0] == '\t')
      RedrawKey(window, entry, false);
    return true;
  case WM_PAINT:
    PaintKey(reinterpret_cast<HDC>(lParam), entry);
    (void)wParam;
    return true;
  default:
    return false;
  }
}

LRESULT KeyCommandHandler(HWND window, WPARAM wParam) {
  const uint32_t code = static_cast<uint32_t>(wParam & 0xFFFF);
  const uint32_t action = static_cast<uint32_t>(wParam) >> 16;
  if (action == kActionDown) {
    // Only a key drawn down goes down: a key action posted from elsewhere
    // cannot press a key that nothing on the keyboard shows, or releases.
    const KeyEntry *entry = FindKey(code);
    if (entry == nullptr || entry->kind != Key || !(entry->flags & Down))
      return 0;
    SendKeyEvent(code, true);
    g_repeatKey = code;
    g_repeatCountdown = kRepeatDelayTicks;
  } else if (action == kActionUp) {
    SendKeyEvent(code, false);
    BroadcastToKeys(window, MSG_RELEASE_LATCHED, 0, 0);
    g_repeatKey = 0;
    g_repeatCountdown = 0;
  }
  KeepTargetForeground(window);
  return 0;
}

void ReleaseOnLeaving(HWND window, bool pointerOver) {
  if (pointerOver || !IsAnyKeyCaptured())
    return;
  KeyEntry *entry = FindKey(GetCapturedKey());
  if (entry == nullptr) {
    ClearCapturedKey();
    return;
  }
  entry->flags &= ~(LeftHeld | RightHeld);
  ClearCapturedKey();
  if (entry->kind == SystemButton) {
    // Its release may have happened away from the keyboard: drawn up, and
    // no command.
    if (entry->flags & Down) {
      entry->flags &= ~Down;
      RedrawKey(window, *entry, false);
    }
    return;
  }
  if (entry->flags & Down)
    ReleaseKey(window, *entry, Latched);
}

void ReleaseEverything(HWND window) {
  if (GetCapture() == window)
    ReleaseCapture();
  if (IsAnyKeyCaptured()) {
    KeyEntry *entry = FindKey(GetCapturedKey());
    ClearCapturedKey();
    if (entry != nullptr) {
      entry->flags &= ~(LeftHeld | RightHeld);
      if (entry->kind == SystemButton && (entry->flags & Down)) {
        entry->flags &= ~Down;
        RedrawKey(window, *entry, false);
      }
    }
  }
  BroadcastToKeys(window, MSG_RELEASE_ALL, 0, 0);
}

void PollModifiers(HWND window) {
  ModifierState now;
  now.shift = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
  now.caps = (GetKeyState(VK_CAPITAL) & 1) != 0;
  now.kana = (GetKeyState(VK_KANA) & 1) != 0;
  if (now.shift != g_modifiers.shift || now.caps != g_modifiers.caps ||
      now.kana != g_modifiers.kana) {
    g_modifiers = now;
    BroadcastToKeys(window, MSG_MODIFIERS_CHANGED, 0, 0);
  }
}

void AutoRepeatStep(bool pointerOver) {
  if (!pointerOver || g_repeatCountdown <= 0)
    return;
  if (--g_repeatCountdown > 0)
    return;
  g_repeatCountdown = 1;
  SendKeyEvent(g_repeatKey, true);
}

void ReleaseOnDestruction(HWND window) {
  if (!IsAnyKeyCaptured())
    return;
  // The window goes: its owning key will see no button release.
  if (KeyEntry *owner = FindKey(GetCapturedKey()))
    owner->flags &= ~(LeftHeld | RightHeld);
  ClearCapturedKey();
  BroadcastToKeys(window, MSG_RELEASE_ALL, 0, 0);
}

void ResetKeyboardState() {
  keys = KeysState();
  ForgetKeyboardTick();
}
