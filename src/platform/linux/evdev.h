// The physical keys of a Japanese 106/109 keyboard as Linux numbers them.
#pragma once

#include "platform/portable/win32_subset.h"

namespace linuxhost {

// The Linux input event code of the physical key of a JIS 106/109 keyboard
// for a virtual-key code (0 when there is none); `scan` tells the right
// Shift, the extended flag the right Ctrl and Alt. X keycodes are these
// plus 8.
unsigned EvdevCodeForVirtualKey(unsigned vk, unsigned scan, DWORD flags);

} // namespace linuxhost
