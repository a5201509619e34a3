#pragma once

#include <string>

namespace portable {
// Shift-JIS (code page 932) text as UTF-8; bytes that are not CP932 are
// left out.
std::string Cp932ToUtf8(const std::string &text);

// Turns font lookup off (every CreateFontIndirectA fails) to show how the
// keyboard looks on a system without a Japanese font.
void SetFontsEnabled(bool enabled);
} // namespace portable
