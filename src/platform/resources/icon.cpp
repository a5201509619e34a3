#include "platform/resources/icon.h"

#include <cstdlib>

namespace icon {

namespace {

struct Canvas {
  int size;
  std::vector<uint32_t> px;
  explicit Canvas(int s) : size(s), px(size_t(s) * s, kField) {}
  void Set(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < size && y < size)
      px[size_t(y) * size + x] = c;
  }
  // A small raised key: white top and left edges, black bottom and right.
  void Key(int x, int y, int w, int h) {
    for (int i = 0; i < w; ++i) {
      Set(x + i, y, kWhite);
      Set(x + i, y + h - 1, kBlack);
    }
    for (int j = 0; j < h; ++j) {
      Set(x, y + j, kWhite);
      Set(x + w - 1, y + j, kBlack);
    }
  }
  // Letters from rows of bits, most significant bit on the left.
  void Glyph(int x, int y, const uint8_t *rows, int w, int h) {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        if (rows[j] & (1 << (w - 1 - i)))
          Set(x + i, y + j, kBlack);
  }
};

// "SOFT" in a 4 x 6 face (32 x 32) and a 3 x 4 face (16 x 16).
const uint8_t kLarge[4][6] = {
    {0b0111, 0b1000, 0b0110, 0b0001, 0b0001, 0b1110}, // S
    {0b0110, 0b1001, 0b1001, 0b1001, 0b1001, 0b0110}, // O
    {0b1111, 0b1000, 0b1110, 0b1000, 0b1000, 0b1000}, // F
    {0b1111, 0b0110, 0b0110, 0b0110, 0b0110, 0b0110}, // T
};
const uint8_t kSmall[4][4] = {
    {0b011, 0b010, 0b001, 0b110}, // S
    {0b111, 0b101, 0b101, 0b111}, // O
    {0b111, 0b100, 0b110, 0b100}, // F
    {0b111, 0b010, 0b010, 0b010}, // T
};

std::vector<uint32_t> Large() {
  Canvas c(32);
  // Three staggered rows of three keys.
  for (int row = 0; row < 3; ++row)
    for (int k = 0; k < 3; ++k)
      c.Key(2 + 2 * row + 9 * k, 2 + 7 * row, 8, 6);
  for (int i = 0; i < 4; ++i)
    c.Glyph(6 + 6 * i, 24, kLarge[i], 4, 6);
  return c.px;
}

std::vector<uint32_t> Small() {
  Canvas c(16);
  for (int row = 0; row < 3; ++row)
    for (int k = 0; k < 3; ++k)
      c.Key(1 + row + 4 * k, 1 + 3 * row, 3, 3);
  for (int i = 0; i < 4; ++i)
    c.Glyph(1 + 4 * i, 11, kSmall[i], 3, 4);
  return c.px;
}

} // namespace

std::vector<uint32_t> Draw(int size) {
  if (size <= 0)
    return {};
  if (size == 32)
    return Large();
  if (size == 16)
    return Small();
  const int from = std::abs(size - 16) < std::abs(size - 32) ? 16 : 32;
  const std::vector<uint32_t> source = from == 16 ? Small() : Large();
  std::vector<uint32_t> out(size_t(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      out[size_t(y) * size + x] =
          source[size_t(y * from / size) * from + x * from / size];
  return out;
}

} // namespace icon
