// Handing messages to the keys: one key by its kind, or every ordinary key.
#include "keyboard/keyboard.h"

bool SendToKey(HWND window, KeyEntry &entry, UINT message, WPARAM wParam,
               LPARAM lParam) {
  switch (entry.kind) {
  case SystemButton:
    return SystemButtonHandler(window, entry, message, wParam, lParam) != 0;
  case Key:
    return KeyHandler(window, entry, message, wParam, lParam);
  default:
    return false;
  }
}

bool BroadcastToKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Handlers re-enter this walk (a key-up broadcasts again), so each step
  // looks the next entry up by id instead of holding an iterator.
  bool result = false;
  for (auto it = KeySet.begin(); it != KeySet.end();) {
    uint32_t id = it->first;
    if (it->second.kind == Key)
      result |= SendToKey(window, it->second, message, wParam, lParam);
    it = KeySet.upper_bound(id);
  }
  return result;
}
