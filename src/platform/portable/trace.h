// A record of the text and fill calls made on device contexts, so that what
// is drawn can be checked call by call where pixels depend on the font.
#pragma once

#include <functional>
#include <string>

#include "platform/portable/win32_subset.h"

namespace portable {

struct DrawCall {
  enum Kind { Text, Fill } kind;
  HDC dc;
  std::string bytes; // Text: the bytes passed
  RECT rect;         // Text: the rectangle; Fill: the filled rectangle
  UINT format;       // Text: DT_ flags
  COLORREF colour;   // Text: the text colour; Fill: the background colour
  int bkMode;        // Text
  bool hasFont;      // Text: a font that can draw was selected
};

// Called for every DrawTextA and every ExtTextOutA with ETO_OPAQUE; an empty
// function stops the recording.
void SetDrawRecorder(std::function<void(const DrawCall &)> recorder);

} // namespace portable
