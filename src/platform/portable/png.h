#pragma once

#include <string>

namespace portable {
struct Bitmap;
// Writes the bitmap as an 8-bit RGB PNG; false when the file cannot be made.
bool WritePng(const Bitmap &bitmap, const std::string &path);
} // namespace portable
