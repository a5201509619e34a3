// A monitor's work area on X11, from what the desktop publishes: the
// rectangles of _GTK_WORKAREAS_Dn (one per monitor), else _NET_WORKAREA
// (one for the whole screen, which spans the monitors), else the docks'
// struts (_NET_WM_STRUT_PARTIAL, as i3bar sets it where nothing publishes
// a work area).
#pragma once

#include <vector>

#include "platform/portable/win32_subset.h"

namespace x11 {

// One dock's reserved edges, as _NET_WM_STRUT_PARTIAL gives them: the
// thickness at each edge of the screen and the span along it.
struct Strut {
  long left = 0, right = 0, top = 0, bottom = 0;
  long leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
  long topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;
};

// The strut from the property's 12 values (or 4, _NET_WM_STRUT, which
// spans whole edges of a screen of `width` x `height`).
Strut StrutFrom(const std::vector<long> &values, long width, long height);

// The monitor less what the struts reserve where they touch it; the
// monitor itself where they would leave nothing.
RECT LessStruts(const RECT &monitor, const std::vector<Strut> &struts,
                long screenWidth, long screenHeight);

// The monitor's part of a published work area: of the rectangles given,
// the one that overlaps the monitor most, met with the monitor; the
// monitor itself where none overlaps it.
RECT PublishedWorkArea(const RECT &monitor, const std::vector<RECT> &areas);

} // namespace x11
