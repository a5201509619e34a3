#pragma once

#include "platform/portable/win32_subset.h"

namespace portable {
// 0 when the code has no key on the keyboard.
unsigned ScanCodeForVirtualKey(unsigned code);
// The Linux input event code of the physical key of a JIS 106/109 keyboard
// for a virtual-key code (0 when there is none); `scan` tells the right
// Shift, the extended flag the right Ctrl and Alt.
unsigned EvdevCodeForVirtualKey(unsigned vk, unsigned scan, DWORD flags);
} // namespace portable
