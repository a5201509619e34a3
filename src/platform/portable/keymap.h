#pragma once

#include "platform/portable/win32_subset.h"

namespace portable {
// 0 when the code has no key on the keyboard.
unsigned ScanCodeForVirtualKey(unsigned code);
} // namespace portable
