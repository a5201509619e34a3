// The live key set of the current face and the pointer ownership.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "model/faces.h"
#include "platform/platform.h"

enum KeyKind : int32_t { Frame = 1, SystemButton = 2, Key = 3 };

enum KeyFlags : int32_t {
  Down = 0x01,
  Latched = 0x02,
  Locked = 0x04,
  LeftHeld = 0x08,
  RightHeld = 0x10,
};

struct KeyEntry {
  uint32_t id = 0;
  int32_t kind = Key;
  int32_t flags = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::string label; // Shift-JIS bytes, no terminating NUL
};

// Ordered by id; iteration is in ascending id order.
extern std::map<uint32_t, KeyEntry> KeySet;

constexpr uint32_t kNoCapturedKey = KEY_FRAME;

// Settings the geometry and the key selection read (defined with the other
// settings): the grid unit in pixels and whether the Windows keys are shown.
extern int32_t &g_unit;
extern int32_t &g_winKey;

KeyKind KindOfId(uint32_t id);
void BuildKeySet(const KeyDef *keys, int32_t keyCount);
KeyEntry *FindKey(uint32_t id);
KeyEntry *HitTestKey(int32_t x, int32_t y);
RECT KeyPixelRect(const KeyEntry &entry); // at the current unit
RECT KeyPixelRectAt(const KeyEntry &entry, int32_t unit);
SIZE DefaultWindowSize();

uint32_t GetCapturedKey();
void SetCapturedKey(const KeyEntry &entry);
void ClearCapturedKey();
bool IsAnyKeyCaptured();
bool IsCapturedKey(const KeyEntry &entry);
