// One way of typing through the compositor (see compositor_keys.h): the
// module's own view of a path, behind the C interface.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/x11/compositor_keys.h"

namespace compositor {

class Path {
public:
  virtual ~Path() = default;
  virtual int Fd() = 0;
  virtual short Events() = 0;
  // Reads what arrived, without waiting, and handles it.
  virtual void Process() = 0;
  // Sends a key (evdev code) going down or up; only called when ready.
  virtual void SendKey(unsigned code, bool down) = 0;
  virtual int Locks() { return -1; }
  // Ends the session or the connection; the keys are let go before.
  virtual void End() = 0;

  int state() const { return state_; }
  const std::string &why() const { return why_; }

  // A key goes down or up: typed only when ready, and each press keeps
  // its release for the end.
  void Key(unsigned code, bool down);
  // Lets go of every key still down, then ends.
  void Close();

protected:
  void Closed(const std::string &why);
  void Ready() {
    if (state_ == kKeyPathPending)
      state_ = kKeyPathReady;
  }

private:
  int state_ = kKeyPathPending;
  std::string why_;
  std::set<unsigned> held_;
};

// The compositor's fake input: null, with `error` set, when the compositor
// does not offer it to this program.
std::unique_ptr<Path> OpenKwin(std::string *error);

// The desktop portal's remote desktop session, asked for at once; the
// grant comes later. `stateDir` keeps the portal's restore token where the
// portal gives one. Null, with `error` set, without a session bus.
std::unique_ptr<Path> OpenPortal(const std::string &stateDir,
                                 std::string *error);

} // namespace compositor
