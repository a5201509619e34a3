#include "platform/x11/x11_pixels.h"

#include <algorithm>
#include <cstring>

#include "platform/portable/bitmap.h"

namespace x11 {

int StripRows(int width, int height) {
  if (width <= 0 || height <= 0)
    return 0;
  const size_t fit = kStripBytes / (size_t(width) * 4);
  return int(std::clamp<size_t>(fit, 1, size_t(height)));
}

void MakeStrip(const portable::Bitmap &source, int sx, int sy, int width,
               int rows, bool grey, uint32_t *into) {
  for (int j = 0; j < rows; ++j, into += width) {
    const uint8_t *from = source.Row(sy + j);
    if (source.bpp == 32) {
      std::memcpy(into, from + size_t(sx) * 4, size_t(width) * 4);
    } else {
      from += size_t(sx) * 3; // blue, green, red
      for (int i = 0; i < width; ++i, from += 3)
        into[i] = uint32_t(from[0]) | (uint32_t(from[1]) << 8) |
                  (uint32_t(from[2]) << 16);
    }
    if (grey) // half the colour, lifted by a quarter
      for (int i = 0; i < width; ++i)
        into[i] = (into[i] & 0xFF000000u) |
                  (((into[i] >> 1) & 0x7F7F7Fu) + 0x404040u);
  }
}

} // namespace x11
