// Keys through the Wayland compositor, for the X11 host under Xwayland on a
// desktop whose compositor takes no virtual keyboard: XTest reaches only
// X11 applications there, and the compositor's own interfaces reach them
// all. Two paths:
//
// - "kwin": the compositor's fake input interface, offered to programs its
//   desktop entry names (no question is asked);
// - "portal": the desktop portal's remote desktop session, which the user
//   grants (GNOME asks at each start).
//
// They live in a module of their own (flinto-compositor-keys.so, loaded
// by the X11 host only where it is needed), since they need the Wayland
// client and D-Bus libraries an X11 start does not: the interface between
// the two is plain C.
#pragma once

#include <stddef.h>

extern "C" {

struct FlintoKeyPath;

enum FlintoKeyPathState {
  kKeyPathPending = 0, // asked, not granted yet: keys are not typed
  kKeyPathReady = 1,   // keys are typed
  kKeyPathClosed = 2,  // refused, closed or gone: keys are not typed
};

// Lock states, when the compositor reports them.
enum {
  kKeyPathCapsLock = 1,
  kKeyPathNumLock = 2,
};

struct FlintoKeyPathApi {
  unsigned version; // kFlintoKeyPathApiVersion
  // Opens the path ("kwin" or "portal"); `stateDir` is where the path may
  // keep what it was granted. Null, with `error` set, when the desktop has
  // no such path.
  FlintoKeyPath *(*open)(const char *kind, const char *stateDir, char *error,
                         size_t errorSize);
  // The file descriptor to watch and the poll events to watch it for.
  int (*fd)(FlintoKeyPath *path);
  short (*events)(FlintoKeyPath *path);
  // Reads and handles what arrived without waiting; returns the state.
  int (*process)(FlintoKeyPath *path);
  // Why the path closed, once it has.
  const char *(*why)(FlintoKeyPath *path);
  // A key (evdev code) goes down or up; nothing while not ready.
  void (*key)(FlintoKeyPath *path, unsigned code, int down);
  // The lock states (kKeyPathCapsLock | kKeyPathNumLock), or -1 when the
  // compositor reports none.
  int (*locks)(FlintoKeyPath *path);
  // Lets go of every key still down and ends the session.
  void (*close)(FlintoKeyPath *path);
};

#define FLINTO_KEY_PATH_API_VERSION 1u
#define FLINTO_KEY_PATH_ENTRY "flinto_key_path_api"
const FlintoKeyPathApi *flinto_key_path_api(void);
}
