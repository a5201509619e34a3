#include "platform/x11/x11_work_area.h"

#include <algorithm>
#include <cstdint>

namespace x11 {

namespace {

bool Empty(const RECT &r) { return r.right <= r.left || r.bottom <= r.top; }

RECT Meet(const RECT &a, const RECT &b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top),
          std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// Whether [start, end] (inclusive, as struts give spans) meets [low, high).
bool Spans(long start, long end, long low, long high) {
  return start < high && end >= low;
}

} // namespace

Strut StrutFrom(const std::vector<long> &v, long width, long height) {
  Strut s;
  if (v.size() < 4)
    return s;
  s.left = v[0], s.right = v[1], s.top = v[2], s.bottom = v[3];
  if (v.size() >= 12) {
    s.leftStartY = v[4], s.leftEndY = v[5];
    s.rightStartY = v[6], s.rightEndY = v[7];
    s.topStartX = v[8], s.topEndX = v[9];
    s.bottomStartX = v[10], s.bottomEndX = v[11];
  } else {
    s.leftEndY = s.rightEndY = height - 1;
    s.topEndX = s.bottomEndX = width - 1;
  }
  return s;
}

RECT LessStruts(const RECT &monitor, const std::vector<Strut> &struts,
                long screenWidth, long screenHeight) {
  RECT work = monitor;
  for (const Strut &s : struts) {
    // Each reserved band, in screen coordinates, where it meets the monitor.
    if (s.top > 0 && s.top <= screenHeight && monitor.top < s.top &&
        Spans(s.topStartX, s.topEndX, monitor.left, monitor.right))
      work.top = std::max<LONG>(work.top, LONG(s.top));
    if (s.bottom > 0 && s.bottom <= screenHeight &&
        monitor.bottom > screenHeight - s.bottom &&
        Spans(s.bottomStartX, s.bottomEndX, monitor.left, monitor.right))
      work.bottom = std::min<LONG>(work.bottom, LONG(screenHeight - s.bottom));
    if (s.left > 0 && s.left <= screenWidth && monitor.left < s.left &&
        Spans(s.leftStartY, s.leftEndY, monitor.top, monitor.bottom))
      work.left = std::max<LONG>(work.left, LONG(s.left));
    if (s.right > 0 && s.right <= screenWidth &&
        monitor.right > screenWidth - s.right &&
        Spans(s.rightStartY, s.rightEndY, monitor.top, monitor.bottom))
      work.right = std::min<LONG>(work.right, LONG(screenWidth - s.right));
  }
  return Empty(work) ? monitor : work;
}

RECT PublishedWorkArea(const RECT &monitor, const std::vector<RECT> &areas) {
  RECT best = monitor;
  int64_t bestArea = 0;
  for (const RECT &a : areas) {
    const RECT m = Meet(a, monitor);
    if (Empty(m))
      continue;
    const int64_t area = int64_t(m.right - m.left) * int64_t(m.bottom - m.top);
    if (area > bestArea) {
      bestArea = area;
      best = m;
    }
  }
  return best;
}

} // namespace x11
