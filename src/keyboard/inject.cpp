// Synthesised key events.
#include "keyboard/keyboard.h"

namespace {

bool IsExtendedKey(uint32_t code) {
  return code == VK_SHIFT || (code >= VK_PRIOR && code <= VK_DOWN) ||
         code == VK_INSERT || code == VK_DELETE;
}

// The right Ctrl and the right Alt: the same virtual-key codes as the left
// keys, told apart by the extended-key flag, as the system reports them.
bool IsRightControlOrAlt(uint32_t code) {
  return code == 0x111 || code == 0x112;
}

} // namespace

void SendKeyEvent(uint32_t code, bool down) {
  DWORD flags = down ? 0 : KEYEVENTF_KEYUP;
  if (IsExtendedKey(code) || IsRightControlOrAlt(code))
    flags |= KEYEVENTF_EXTENDEDKEY;
  // The right Ctrl and Alt have the left keys' scan codes (the extended
  // flag tells them apart); the system has no translation for 0x111/0x112.
  const UINT scan = MapVirtualKeyA(
      IsRightControlOrAlt(code) ? code & 0xFF : code, MAPVK_VK_TO_VSC);
  keybd_event(static_cast<BYTE>(code & 0xFF), static_cast<BYTE>(scan & 0xFF),
              flags, 0);
}

void SendCtrlChord(BYTE letter) {
  SendKeyEvent(VK_CONTROL, true);
  SendKeyEvent(letter, true);
  SendKeyEvent(letter, false);
  SendKeyEvent(VK_CONTROL, false);
}
