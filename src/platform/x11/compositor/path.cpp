// What every path shares: keys typed only when granted, each press with
// its release.
#include "platform/x11/compositor/path.h"

namespace compositor {

void Path::Key(unsigned code, bool down) {
  if (state_ != kKeyPathReady)
    return; // not granted (yet): not typed, and never kept for later
  if (down) {
    held_.insert(code);
  } else if (held_.erase(code) == 0) {
    return; // its press was not sent this way
  }
  SendKey(code, down);
}

void Path::Close() {
  if (state_ == kKeyPathReady)
    for (unsigned code : held_)
      SendKey(code, false);
  held_.clear();
  End();
  if (state_ != kKeyPathClosed) {
    state_ = kKeyPathClosed;
    why_ = "closed by Flinto";
  }
}

void Path::Closed(const std::string &why) {
  if (state_ == kKeyPathClosed)
    return;
  state_ = kKeyPathClosed;
  why_ = why;
  held_.clear(); // the session's keys went with it
}

} // namespace compositor
