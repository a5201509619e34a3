// Reading Windows bitmap files in every form a picture file may take: 1, 4,
// 8, 16, 24 and 32 bits per pixel, uncompressed (BI_RGB), with colour masks
// (BI_BITFIELDS, 16 and 32 bits) or run-length encoded (BI_RLE8, BI_RLE4),
// rows bottom-up or top-down. The bytes come from a file anyone may have
// written: every offset and size is checked before it is used, and anything
// unexpected is refused.
#include <cstring>
#include <vector>

#include "platform/portable/internal.h"

namespace portable {

namespace {

constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitfields = 3;
constexpr int64_t kMaxPixels = 2048 * 2048;

uint32_t U32(const uint8_t *p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
uint16_t U16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }

// One colour channel under a mask, widened to 8 bits: a narrower field
// repeats its bits downwards (5 bits: v << 3 | v >> 2, so 16 gives 132 and
// 30 gives 247, as GDI gives them), a wider one keeps its top 8 bits.
struct Channel {
  int shift = 0;
  int width = 0;
  explicit Channel(uint32_t mask) {
    if (mask == 0)
      return;
    while (!((mask >> shift) & 1))
      ++shift;
    while (shift + width < 32 && ((mask >> (shift + width)) & 1))
      ++width;
  }
  uint32_t Of(uint32_t pixel) const {
    if (width == 0)
      return 0;
    uint32_t v = (pixel >> shift) & (width >= 32 ? ~0u : (1u << width) - 1);
    if (width >= 8)
      return v >> (width - 8);
    uint32_t r = v << (8 - width);
    for (int filled = width; filled < 8; filled += width)
      r |= r >> width;
    return r & 0xFF;
  }
};

// Run-length encoded pixels (always bottom-up) as palette indices; what
// the runs do not reach keeps index 0.
bool DecodeRle(const uint8_t *data, size_t size, bool four, int width,
               int height, std::vector<uint8_t> *indices) {
  indices->assign(size_t(width) * size_t(height), 0);
  size_t at = 0;
  int64_t x = 0, row = 0; // row 0 is the bottom one
  auto put = [&](uint8_t index) {
    if (x < width && row < height)
      (*indices)[size_t(row) * size_t(width) + size_t(x)] = index;
    ++x;
  };
  while (at + 2 <= size) {
    const uint8_t count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i)
        put(four ? uint8_t((i & 1) ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) { // end of line
      x = 0;
      ++row;
    } else if (value == 1) { // end of bitmap
      return true;
    } else if (value == 2) { // delta
      if (at + 2 > size)
        return false;
      x += data[at];
      row += data[at + 1];
      at += 2;
    } else { // absolute run of `value` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      if (at + bytes > size)
        return false;
      for (int i = 0; i < value; ++i) {
        const uint8_t b = data[at + (four ? size_t(i) / 2 : size_t(i))];
        put(four ? uint8_t((i & 1) ? b & 15 : b >> 4) : b);
      }
      at += bytes + (bytes & 1);
    }
    if (row > height)
      return true; // runs past the top: the rest is ignored
  }
  return true; // a missing end-of-bitmap mark ends it too
}

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
  size_t paletteStart = kFileHeader + infoSize;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F}; // 16 bits: 5-5-5
  if (infoSize == 12) {                         // the old core header
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
    if (compression == kBitfields) {
      // The masks follow a 40-byte header; later headers hold them.
      const size_t maskAt = kFileHeader + 40;
      if (maskAt + 12 > size)
        return false;
      for (int i = 0; i < 3; ++i)
        masks[i] = U32(bytes + maskAt + 4 * size_t(i));
      if (infoSize == 40)
        paletteStart += 12;
    }
  } else {
    return false;
  }
  if (bits == 32 && compression == BI_RGB) {
    masks[0] = 0xFF0000;
    masks[1] = 0x00FF00;
    masks[2] = 0x0000FF;
  }
  if (planes != 1 || width <= 0 || height == 0)
    return false;
  const bool rle = compression == kRle8 || compression == kRle4;
  if (!(compression == BI_RGB ||
        (compression == kBitfields && (bits == 16 || bits == 32)) ||
        (compression == kRle8 && bits == 8) ||
        (compression == kRle4 && bits == 4)))
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
      bits != 32)
    return false;
  const bool bottomUp = height > 0;
  if (height < 0) {
    if (rle)
      return false; // run-length encoded pictures are stored bottom-up
    height = -height;
  }
  // A face's picture is stretched over a keyboard of at most a few thousand
  // pixels a side: anything larger than 2048 x 2048 in area is refused, as
  // a few bytes of run-length code can describe a picture of gigabytes.
  if (width > 16384 || height > 16384 || width * height > kMaxPixels)
    return false;

  // Palette.
  uint32_t palette[256] = {};
  if (bits <= 8) {
    const uint32_t maxColours = 1u << bits;
    const uint32_t colours = coloursUsed == 0 ? maxColours : coloursUsed;
    if (colours > maxColours)
      return false;
    if (paletteStart + size_t(colours) * paletteEntry > size)
      return false;
    for (uint32_t i = 0; i < colours; ++i) {
      const uint8_t *p = bytes + paletteStart + i * paletteEntry;
      palette[i] = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
  }
  if (pixelOffset > size)
    return false;

  if (rle) {
    std::vector<uint8_t> indices;
    if (!DecodeRle(bytes + pixelOffset, size - pixelOffset,
                   compression == kRle4, int(width), int(height), &indices))
      return false;
    out->Allocate(int(width), int(height), 32, false);
    for (int64_t row = 0; row < height; ++row)
      for (int64_t x = 0; x < width; ++x)
        out->Set(int(x), int(height - 1 - row),
                 palette[indices[size_t(row * width + x)]]);
    return true;
  }

  const uint64_t stride = ((uint64_t(bits) * width + 31) / 32) * 4;
  if (stride * uint64_t(height) > size - pixelOffset)
    return false;
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

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
      case 16:
      case 32: {
        const uint32_t v = bits == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
        rgb = (red.Of(v) << 16) | (green.Of(v) << 8) | blue.Of(v);
        break;
      }
      case 24:
        rgb = (uint32_t(src[3 * x + 2]) << 16) |
              (uint32_t(src[3 * x + 1]) << 8) | src[3 * x];
        break;
      }
      out->Set(int(x), y, rgb);
    }
  }
  return true;
}

} // namespace portable
