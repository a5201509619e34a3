// Writes the program's icon as PNG files of the usual desktop sizes, from
// the same drawing the tray and the Windows icon use.
//
// usage: make_icons OUT_DIR   (writes OUT_DIR/SIZExSIZE/flinto.png)
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/portable/internal.h"
#include "platform/portable/png.h"
#include "platform/resources/icon.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons OUT_DIR\n");
    return 2;
  }
  for (int size : {16, 22, 24, 32, 48, 64, 128}) {
    const std::string dir = std::string(argv[1]) + "/" + std::to_string(size) +
                            "x" + std::to_string(size);
    mkdir(argv[1], 0755);
    mkdir(dir.c_str(), 0755);
    const std::vector<uint32_t> px = icon::Draw(size);
    portable::Bitmap bitmap;
    bitmap.Allocate(size, size, 32, false);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        bitmap.Set(x, y, px[size_t(y) * size + x]);
    if (!portable::WritePng(bitmap, dir + "/flinto.png")) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", dir.c_str());
      return 1;
    }
  }
  return 0;
}
