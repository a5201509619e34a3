#include "model/keyset.h"

std::map<uint32_t, KeyEntry> KeySet;

namespace {
uint32_t capturedKey = kNoCapturedKey;
}

KeyKind KindOfId(uint32_t id) {
  if (id == KEY_FRAME)
    return Frame;
  if ((id >= KEY_CLOSE && id <= KEY_PREV_FACE) ||
      (id >= KEY_CUT && id <= KEY_PASTE))
    return SystemButton;
  return Key;
}

void BuildKeySet(const KeyDef *keys, int32_t keyCount) {
  // Every entry is made anew: no key of the old set owns the pointer.
  capturedKey = kNoCapturedKey;
  KeySet.clear();
  if (keyCount <= 0)
    return;
  for (int32_t i = 0; i < keyCount; ++i) {
    const KeyDef &def = keys[i];
    uint32_t id = def.id;
    if (id & SEL_WINKEY_ON) {
      if (g_winKey == 0)
        continue;
      id &= ~SEL_WINKEY_ON;
    } else if (id & SEL_WINKEY_OFF) {
      if (g_winKey != 0)
        continue;
      id &= ~SEL_WINKEY_OFF;
    }
    KeyEntry &entry = KeySet[id];
    entry.id = id;
    entry.kind = KindOfId(id);
    entry.flags = 0;
    entry.x = def.x;
    entry.y = def.y;
    entry.width = def.width;
    entry.height = def.height;
    entry.label = def.label;
  }
}

KeyEntry *FindKey(uint32_t id) {
  auto it = KeySet.lower_bound(id);
  if (it == KeySet.end() || it->first != id)
    return nullptr;
  return &it->second;
}

RECT KeyPixelRect(const KeyEntry &entry) {
  return KeyPixelRectAt(entry, g_unit);
}

RECT KeyPixelRectAt(const KeyEntry &entry, int32_t unit) {
  RECT r;
  r.left = unit * entry.x;
  r.top = unit * entry.y;
  r.right = unit * (entry.x + entry.width);
  r.bottom = unit * entry.y + unit * entry.height;
  return r;
}

KeyEntry *HitTestKey(int32_t x, int32_t y) {
  for (auto &[id, entry] : KeySet) {
    if (entry.kind == Frame)
      continue;
    RECT r = KeyPixelRect(entry);
    if (r.left <= x && x < r.right && r.top <= y && y < r.bottom)
      return &entry;
  }
  return nullptr;
}

SIZE DefaultWindowSize() {
  SIZE size{1, 1};
  if (const KeyEntry *frame = FindKey(KEY_FRAME)) {
    size.cx = g_unit * frame->width;
    size.cy = g_unit * frame->height;
  }
  return size;
}

uint32_t GetCapturedKey() { return capturedKey; }
void SetCapturedKey(const KeyEntry &entry) { capturedKey = entry.id; }
void ClearCapturedKey() { capturedKey = kNoCapturedKey; }
bool IsAnyKeyCaptured() { return capturedKey != kNoCapturedKey; }
bool IsCapturedKey(const KeyEntry &entry) { return capturedKey == entry.id; }
