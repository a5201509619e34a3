// Commands from the menus, the tray and the system buttons, and the context
// menu.
#include "app/app.h"
#include "keyboard/keyboard.h"
#include "platform/resources/resource_ids.h"
#include "render/render.h"

namespace {

const FaceDef &CurrentFace() { return BuiltInFaces[g_face]; }

void RebuildForUnit(HWND window) {
  const FaceDef &face = CurrentFace();
  RebuildBackBuffer(window, g_unit, face.bitmapFile, face.colourA, face.colourB,
                    true, true, true);
}

// A new key set replaces the old one: keys that are down go up first, so
// that nothing stays pressed in the system with no key on screen to show it.
void RebuildFace(HWND window) {
  ReleaseEverything(window);
  const FaceDef &face = CurrentFace();
  BuildKeySet(face.keys, face.keyCount);
  RebuildForUnit(window);
}

void ToggleDisplay() {
  if (IsWindowVisible(g_keyboardWindow))
    HideKeyboard();
  else
    ShowKeyboard();
}

} // namespace

void ShowKeyboard() {
  if (g_transparent) {
    g_alpha = kAlphaInitial;
    SetTranslucency(g_keyboardWindow, true, kAlphaInitial);
  }
  g_keyboardShown = true;
  PlaceForFirstShow();
  ShowWindow(g_keyboardWindow, SW_SHOWNOACTIVATE);
  // A re-creation that waited while the keyboard was hidden happens now.
  UpdateOwnerTimer();
}

// Nothing stays pressed in the system while the keyboard cannot show it.
void HideKeyboard() {
  ReleaseEverything(g_keyboardWindow);
  g_keyboardShown = false;
  ShowWindow(g_keyboardWindow, SW_HIDE);
  UpdateOwnerTimer();
}

LRESULT DispatchCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (LOWORD(wParam)) {
  case ID_EXIT:
  case KEY_CLOSE:
    ReleaseEverything(window);
    g_exiting = true;
    DestroyWindow(g_ownerWindow);
    return 0;
  case ID_NEXT_FACE:
  case KEY_NEXT_FACE:
    if (++g_face >= FaceCount)
      g_face = 0;
    RebuildFace(window);
    return 0;
  case ID_PREV_FACE:
  case KEY_PREV_FACE:
    if (--g_face < 0)
      g_face = FaceCount - 1;
    RebuildFace(window);
    return 0;
  case ID_TOGGLE_DISPLAY:
  case KEY_HIDE:
    ToggleDisplay();
    return 0;
  case ID_ENLARGE:
    // Greyed in the menu where the next size would not fit the monitor's
    // work area; arriving by another path it changes nothing.
    if (g_unit >= 6 || !NextUnitFits(window))
      return 0;
    ++g_unit;
    RebuildForUnit(window);
    return 0;
  case ID_SHRINK:
    if (g_unit > 2)
      --g_unit;
    RebuildForUnit(window);
    return 0;
  case ID_WINKEY:
    g_winKey = g_winKey == 0 ? 1 : 0;
    RebuildFace(window);
    return 0;
  case ID_TRANSLUCENT:
    // Greyed in the menu without the translucency function; arriving by
    // another path it changes nothing, so the stored setting stays.
    if (g_setLayered == nullptr)
      return 0;
    g_transparent = g_transparent == 0 ? 1 : 0;
    if (g_transparent)
      g_alpha = kAlphaInitial;
    SetTranslucency(g_keyboardWindow, g_transparent != 0, g_alpha);
    WakeKeyboardTick();
    return 0;
  case KEY_CUT:
  case KEY_COPY:
  case KEY_PASTE: {
    BroadcastToKeys(g_keyboardWindow, MSG_RELEASE_ALL, 0, 0);
    const WORD id = LOWORD(wParam);
    SendCtrlChord(id == KEY_CUT ? 'X' : id == KEY_COPY ? 'C' : 'V');
    return 0;
  }
  default:
    return KeyCommandHandler(window, wParam);
  }
}

bool ShowContextMenu(int x, int y, HWND owner) {
  HMENU menu = LoadMenuA(g_instance, MAKEINTRESOURCEA(IDR_CONTEXT_MENU));
  if (menu == nullptr)
    return false;
  HMENU popup = GetSubMenu(menu, 0);
  if (popup == nullptr) {
    DestroyMenu(menu);
    return false;
  }
  if (g_unit >= 6 || !NextUnitFits(g_keyboardWindow))
    EnableMenuItem(popup, ID_ENLARGE, MF_BYCOMMAND | MF_GRAYED);
  if (g_unit <= 2)
    EnableMenuItem(popup, ID_SHRINK, MF_BYCOMMAND | MF_GRAYED);
  if (g_winKey)
    CheckMenuItem(popup, ID_WINKEY, MF_BYCOMMAND | MF_CHECKED);
  if (g_setLayered == nullptr)
    EnableMenuItem(popup, ID_TRANSLUCENT, MF_BYCOMMAND | MF_GRAYED);
  if (g_transparent)
    CheckMenuItem(popup, ID_TRANSLUCENT, MF_BYCOMMAND | MF_CHECKED);
  SetForegroundWindow(g_keyboardWindow);
  g_menuOpen = true;
  // The choice is posted here rather than by the menu: a keyboard window
  // that went with its application while the menu was open is gone, and
  // the choice then goes by the owner window to the keyboard made anew.
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      popup, TPM_RIGHTBUTTON | TPM_RETURNCMD, x, y, 0, owner, nullptr));
  g_menuOpen = false;
  if (chosen != 0)
    PostMessageA(IsWindow(owner) ? owner : g_ownerWindow, WM_COMMAND, chosen,
                 0);
  // The foreground may have changed while the menu was open.
  WakeOwnerTimer();
  PostMessageA(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
  return chosen != 0;
}
