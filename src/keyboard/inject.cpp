// Synthesised key events.
#include "keyboard/keyboard.h"

namespace {

bool IsExtendedKey(uint32_t code) {
  return code == VK_SHIFT || (code >= VK_PRIOR && code <= VK_DOWN) ||
         code == VK_INSERT || code == VK_DELETE;
}

} // namespace

void SendKeyEvent(uint32_t code, bool down) {
  DWORD flags = down ? 0 : KEYEVENTF_KEYUP;
  if (IsExtendedKey(code))
    flags |= KEYEVENTF_EXTENDEDKEY;
  const UINT scan = MapVirtualKeyA(code, MAPVK_VK_TO_VSC);
  keybd_event(static_cast<BYTE>(code & 0xFF), static_cast<BYTE>(scan & 0xFF),
              flags, 0);
}

void SendCtrlChord(BYTE letter) {
  SendKeyEvent(VK_CONTROL, true);
  SendKeyEvent(letter, true);
  SendKeyEvent(letter, false);
  SendKeyEvent(VK_CONTROL, false);
}
