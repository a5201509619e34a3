// Reading Windows bitmap files (uncompressed 1, 4, 8, 16, 24 and 32 bits per
// pixel). The bytes come from a file anyone may have written: every offset
// and size is checked before it is used, and anything unexpected is refused.
#include <cstring>

#include "platform/portable/internal.h"

namespace portable {

namespace {

uint32_t U32(const uint8_t *p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
uint16_t U16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }

} // namespace

bool DecodeBmp(const uint8_t *bytes, size_t size, Bitmap *out) {
  constexpr size_t kFileHeader = 14;
  if (bytes == nullptr || size < kFileHeader + 12 || bytes[0] != 'B' ||
      bytes[1] != 'M')
    return false;
  const uint32_t pixelOffset = U32(bytes + 10);
  const uint8_t *info = bytes + kFileHeader;
  const uint32_t infoSize = U32(info);
  int64_t width, height;
  uint16_t bits, planes;
  uint32_t compression = BI_RGB, coloursUsed = 0;
  size_t paletteEntry;
  if (infoSize == 12) { // the old core header
    width = U16(info + 4);
    height = int16_t(U16(info + 6));
    planes = U16(info + 8);
    bits = U16(info + 10);
    paletteEntry = 3;
  } else if (infoSize >= 40 && infoSize <= 256 &&
             kFileHeader + infoSize <= size) {
    width = int32_t(U32(info + 4));
    height = int32_t(U32(info + 8));
    planes = U16(info + 12);
    bits = U16(info + 14);
    compression = U32(info + 16);
    coloursUsed = U32(info + 32);
    paletteEntry = 4;
  } else {
    return false;
  }
  if (planes != 1 || compression != BI_RGB || width <= 0 || height == 0)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
      bits != 32)
    return false;
  const bool bottomUp = height > 0;
  if (height < 0)
    height = -height;
  if (width > 16384 || height > 16384)
    return false;

  // Palette.
  uint32_t palette[256] = {};
  if (bits <= 8) {
    const uint32_t maxColours = 1u << bits;
    const uint32_t colours = coloursUsed == 0 ? maxColours : coloursUsed;
    if (colours > maxColours)
      return false;
    const size_t paletteStart = kFileHeader + infoSize;
    if (paletteStart + size_t(colours) * paletteEntry > size)
      return false;
    for (uint32_t i = 0; i < colours; ++i) {
      const uint8_t *p = bytes + paletteStart + i * paletteEntry;
      palette[i] = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
  }

  const uint64_t stride = ((uint64_t(bits) * width + 31) / 32) * 4;
  if (pixelOffset > size || stride * uint64_t(height) > size - pixelOffset)
    return false;

  out->Allocate(int(width), int(height), 32, false);
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t *src = bytes + pixelOffset + stride * uint64_t(row);
    const int y = int(bottomUp ? height - 1 - row : row);
    for (int64_t x = 0; x < width; ++x) {
      uint32_t rgb = 0;
      switch (bits) {
      case 1:
        rgb = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        rgb = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
        break;
      case 8:
        rgb = palette[src[x]];
        break;
      case 16: {
        const uint16_t v = U16(src + 2 * x);
        const uint32_t r = ((v >> 10) & 31) * 255 / 31;
        const uint32_t g = ((v >> 5) & 31) * 255 / 31;
        const uint32_t b = (v & 31) * 255 / 31;
        rgb = (r << 16) | (g << 8) | b;
        break;
      }
      case 24:
        rgb = (uint32_t(src[3 * x + 2]) << 16) |
              (uint32_t(src[3 * x + 1]) << 8) | src[3 * x];
        break;
      case 32:
        rgb = (uint32_t(src[4 * x + 2]) << 16) |
              (uint32_t(src[4 * x + 1]) << 8) | src[4 * x];
        break;
      }
      out->Set(int(x), y, rgb);
    }
  }
  return true;
}

} // namespace portable
