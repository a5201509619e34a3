// The program's icon (resource 101), drawn once for every host: the Windows
// icon file, the tray icon on X11 and the desktop icons are made from it.
#pragma once

#include <cstdint>
#include <vector>

namespace icon {

// A size x size picture, top row first, colours 0x00RRGGBB. It uses only
// light grey, white and black, all in the 16-colour palette. Sizes 16 and 32
// are drawn to the pixel; other sizes take the nearer of the two, scaled to
// the nearest pixel.
std::vector<uint32_t> Draw(int size);

constexpr uint32_t kField = 0xC0C0C0;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

} // namespace icon
