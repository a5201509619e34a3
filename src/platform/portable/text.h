#pragma once

#include <functional>
#include <string>

#include "platform/portable/win32_subset.h"

namespace portable {
// Shift-JIS (code page 932) text as UTF-8; bytes that are not CP932 are
// left out.
std::string Cp932ToUtf8(const std::string &text);

// Turns font lookup off (every CreateFontIndirectA fails) to show how the
// keyboard looks on a system without a Japanese font.
void SetFontsEnabled(bool enabled);

// Told the box of every line of text drawn (its cell: the line's width,
// with a bold face's overhang, by the font's height, clipped), where the
// tests compare pictures outside the text.
extern std::function<void(const RECT &)> textBoxObserver;
} // namespace portable
