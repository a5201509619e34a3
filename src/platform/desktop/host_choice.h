// Which host a start is for, from FLINTO_HOST and WAYLAND_DISPLAY: the
// Wayland one when FLINTO_HOST says "wayland", or when it is unset (or
// empty) and a compositor is named. Shared by flinto, which runs the
// host's program, and the host programs, which may be started directly.
#pragma once

#include <cstring>

namespace desktop {

inline bool WaylandWanted(const char *host, const char *waylandDisplay) {
  if (host != nullptr && *host != '\0')
    return std::strcmp(host, "wayland") == 0;
  return waylandDisplay != nullptr && *waylandDisplay != '\0';
}

} // namespace desktop
