// A paint's pixels as the X server takes them: 32 bits each, 0x00RRGGBB,
// made from the program's picture (24 bits a pixel, rows bottom-up, or the
// window's own 32-bit picture) a strip of rows at a time, each strip put
// into the request before the next is made.
#pragma once

#include <cstddef>
#include <cstdint>

namespace portable {
struct Bitmap;
}

namespace x11 {

constexpr size_t kStripBytes = 64 * 1024;

// How many rows of `width` pixels one strip holds: as many as fit in
// kStripBytes, at least one, at most `height`.
int StripRows(int width, int height);

// Rows sy to sy + rows - 1 of `source`, `width` pixels each from column
// sx on, into `into` (rows of `width` pixels, top row first); greyed (the
// look of a keyboard whose keys type nothing yet) when asked. Every source
// pixel named must be there.
void MakeStrip(const portable::Bitmap &source, int sx, int sy, int width,
               int rows, bool grey, uint32_t *into);

} // namespace x11
