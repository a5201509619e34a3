// Writes the program's icon as PNG files of the usual desktop sizes and as
// a scalable SVG picture, from the same drawing the tray and the Windows
// icon use (the SVG is the 32 x 32 drawing, a square for each run of
// pixels of one colour, kept sharp at any size).
//
// usage: make_icons OUT_DIR   (writes OUT_DIR/SIZExSIZE/flinto.png and
//                              OUT_DIR/scalable/flinto.svg)
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/portable/png.h"
#include "platform/resources/icon.h"

namespace {

bool WriteSvg(const std::string &path) {
  constexpr int kSide = 32;
  const std::vector<uint32_t> px = icon::Draw(kSide);
  std::ofstream out(path);
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kSide
      << "\" height=\"" << kSide << "\" viewBox=\"0 0 " << kSide << " " << kSide
      << "\" shape-rendering=\"crispEdges\">\n";
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide;) {
      const uint32_t colour = px[size_t(y) * kSide + x];
      int run = 1;
      while (x + run < kSide && px[size_t(y) * kSide + x + run] == colour)
        ++run;
      char fill[8];
      std::snprintf(fill, sizeof fill, "#%06x", colour & 0xFFFFFFu);
      out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << run
          << "\" height=\"1\" fill=\"" << fill << "\"/>\n";
      x += run;
    }
  out << "</svg>\n";
  return bool(out);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons OUT_DIR\n");
    return 2;
  }
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
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
  const std::string scalable = std::string(argv[1]) + "/scalable";
  mkdir(scalable.c_str(), 0755);
  if (!WriteSvg(scalable + "/flinto.svg")) {
    std::fprintf(stderr, "make_icons: cannot write %s\n", scalable.c_str());
    return 1;
  }
  return 0;
}
