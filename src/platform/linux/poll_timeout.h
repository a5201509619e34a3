// How long a Linux host's poll waits for a deadline on its millisecond
// clock.
#pragma once

#include <algorithm>
#include <cstdint>

namespace linuxhost {

// The poll timeout in milliseconds until `deadline` (UINT64_MAX: none, -1
// for ever): 0 when it has passed, at most a minute (a clock that jumps
// never leaves a host asleep for long).
inline int PollTimeout(uint64_t deadline, uint64_t now) {
  if (deadline == UINT64_MAX)
    return -1;
  return deadline > now ? int(std::min<uint64_t>(deadline - now, 60000)) : 0;
}

} // namespace linuxhost
