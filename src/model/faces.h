// The three built-in keyboard layouts ("faces") as constant data.
#pragma once

#include <cstdint>

// Key ids of the frame and the system buttons (whole low 16 bits).
constexpr uint32_t KEY_FRAME = 0xFF00;
constexpr uint32_t KEY_CLOSE = 0xFF01;
constexpr uint32_t KEY_HIDE = 0xFF02;
constexpr uint32_t KEY_NEXT_FACE = 0xFF03;
constexpr uint32_t KEY_PREV_FACE = 0xFF04;
constexpr uint32_t KEY_CUT = 0xFF10;
constexpr uint32_t KEY_COPY = 0xFF11;
constexpr uint32_t KEY_PASTE = 0xFF12;

// A second key with the same virtual-key code (right Shift, Ctrl, Alt).
constexpr uint32_t KEY_SECOND = 0x100;
// Selection bits: use the record only while the WinKey setting is on / off.
constexpr uint32_t SEL_WINKEY_ON = 0x10000;
constexpr uint32_t SEL_WINKEY_OFF = 0x20000;

struct KeyDef {
  uint32_t id;
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
  const char *label; // Shift-JIS bytes, NUL-terminated, never null
};

struct FaceDef {
  const KeyDef *keys;
  int32_t keyCount;
  const char *bitmapFile; // null or empty: gradient background
  uint32_t colourA;       // 0x00BBGGRR, top-left corner
  uint32_t colourB;       // 0x00BBGGRR, towards the bottom-right corner
};

extern const FaceDef BuiltInFaces[];
extern const int32_t FaceCount;
