#pragma once

namespace portable {
// Turns font lookup off (every CreateFontIndirectA fails) to show how the
// keyboard looks on a system without a Japanese font.
void SetFontsEnabled(bool enabled);
} // namespace portable
