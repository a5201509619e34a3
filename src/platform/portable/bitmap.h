// The portable layer's pictures: window surfaces, bitmaps and what drivers
// put on the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace portable {

// Pixel memory. A large picture's pages are made when it is allocated, all
// in one go (MAP_POPULATE), rather than one page fault each as it is first
// drawn: a window's picture and the back buffer are drawn whole at once,
// and their first drawing was mostly page faults. (Sanitized builds keep
// them on the heap, where overruns are caught.)
// From this size a picture's pages are made in one go; smaller ones (the
// cursor's, a glyph's) stay on the heap, as every picture does in
// sanitized builds.
constexpr size_t kPicturePages = 64 * 1024;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPicturesMapped = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPicturesMapped = false;
#else
constexpr bool kPicturesMapped = true;
#endif
#else
constexpr bool kPicturesMapped = true;
#endif

template <typename T> struct PixelAllocator {
  using value_type = T;
  PixelAllocator() = default;
  template <typename U> PixelAllocator(const PixelAllocator<U> &) {}
  T *allocate(size_t n);
  void deallocate(T *p, size_t n);
  template <typename U> bool operator==(const PixelAllocator<U> &) const {
    return true;
  }
  template <typename U> bool operator!=(const PixelAllocator<U> &) const {
    return false;
  }
};

// Pixels: 24 or 32 bits per pixel, blue-green-red byte order. A window's
// picture can live in pixels a driver lends (what the compositor is shown),
// rather than in `data`.
struct Bitmap {
  int width = 0;
  int height = 0;
  int bpp = 32;
  int stride = 0;
  bool bottomUp = false;
  std::vector<uint8_t, PixelAllocator<uint8_t>> data;
  uint8_t *lent = nullptr; // the pixels, when not `data`'s

  void Allocate(int w, int h, int bitsPerPixel, bool rowsBottomUp);
  // The size and layout, with no pixels yet (they are made by Allocate).
  void Describe(int w, int h, int bitsPerPixel, bool rowsBottomUp);
  bool HasPixels() const {
    return lent != nullptr || data.size() == size_t(stride) * size_t(height);
  }
  // Colours as 0x00RRGGBB.
  uint32_t Get(int x, int y) const {
    const uint8_t *p = Pixel(x, y);
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
  }
  void Set(int x, int y, uint32_t rgb) {
    uint8_t *p = const_cast<uint8_t *>(Pixel(x, y));
    p[0] = uint8_t(rgb);
    p[1] = uint8_t(rgb >> 8);
    p[2] = uint8_t(rgb >> 16);
  }
  bool Contains(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height;
  }
  // The first byte of row y (as seen, top row 0), of bpp / 8 bytes a pixel.
  uint8_t *Row(int y) { return const_cast<uint8_t *>(Pixel(0, y)); }
  const uint8_t *Row(int y) const { return Pixel(0, y); }

private:
  const uint8_t *Pixel(int x, int y) const {
    const int row = bottomUp ? height - 1 - y : y;
    return (lent != nullptr ? lent : data.data()) + size_t(row) * stride +
           size_t(x) * (bpp / 8);
  }
};

} // namespace portable
