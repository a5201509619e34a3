// The Linux hosts' clock: CLOCK_MONOTONIC, which no change of the wall
// clock moves.
#pragma once

#include <time.h>

#include <cstdint>

namespace linuxhost {

inline uint64_t MonotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
}

inline uint64_t MonotonicMs() { return MonotonicUs() / 1000; }

} // namespace linuxhost
