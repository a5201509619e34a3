#include "platform/portable/png.h"

#include <png.h>

#include <cstdio>
#include <vector>

#include "platform/portable/internal.h"

namespace portable {

bool WritePng(const Bitmap &bitmap, const std::string &path) {
  if (bitmap.width <= 0 || bitmap.height <= 0)
    return false;
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(size_t(bitmap.width) * 3);
  volatile bool ok = false;
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(bitmap.width),
                 png_uint_32(bitmap.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < bitmap.height; ++y) {
      for (int x = 0; x < bitmap.width; ++x) {
        const uint32_t rgb = bitmap.Get(x, y);
        row[3 * x] = png_byte(rgb >> 16);
        row[3 * x + 1] = png_byte(rgb >> 8);
        row[3 * x + 2] = png_byte(rgb);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  return std::fclose(file) == 0 && ok;
}

} // namespace portable
