// Which way keys go: XTest, or, under Xwayland on a desktop whose
// compositor takes no virtual keyboard (GNOME, KDE), the compositor's own
// interfaces, which reach native Wayland applications too. One way at a
// time: XTest and the compositor together would type twice into X11
// applications. The compositor's ways are in a module loaded only here
// (compositor_keys.h).
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/key_policy.h"
#include "platform/linux/program_folder.h"
#include "platform/portable/bitmap.h"
#include "platform/portable/host.h"
#include "platform/x11/compositor_keys.h"
#include "platform/x11/x11_driver.h"

namespace x11 {
namespace {

// The module, beside the program (as built and as installed).
const FlintoKeyPathApi *LoadKeyPathModule(std::string *error) {
  const std::string folder = linuxhost::ProgramFolder();
  if (folder.empty()) {
    *error = "the program's own path is unknown";
    return nullptr;
  }
  const std::string path = folder + "flinto-compositor-keys.so";
  if (void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    using Entry = const FlintoKeyPathApi *(*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, FLINTO_KEY_PATH_ENTRY));
    const FlintoKeyPathApi *api = entry != nullptr ? entry() : nullptr;
    if (api != nullptr && api->version == FLINTO_KEY_PATH_API_VERSION)
      return api;
    dlclose(module);
  }
  *error = "the module for the compositor's keys (flinto-compositor-keys.so) "
           "cannot be loaded";
  return nullptr;
}

std::string StateFolder() {
  const char *state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/')
    return std::string(state) + "/flinto";
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/')
    return std::string(home) + "/.local/state/flinto";
  return "";
}

constexpr char kXTestNotice[] =
    "typing by XTest: only X11 applications will receive keys";

} // namespace

bool X11Driver::ChooseKeyPath(bool compositorRefused, std::string *line) {
  const char *forced = std::getenv("FLINTO_INJECT");
  const std::string inject = forced != nullptr ? forced : "";
  if (!inject.empty() && inject != "xtest" && inject != "portal" &&
      inject != "kwin") {
    *line =
        "FLINTO_INJECT is \"" + inject + "\"; it must be xtest, portal or kwin";
    return false;
  }
  if (inject == "xtest") {
    *line = "typing by XTest: FLINTO_INJECT=xtest";
    return true;
  }
  if (inject.empty() && !compositorRefused)
    return true; // plain X11: nothing to say
  // The compositor's ways are opened with the program's first window
  // (OpenKeyPath): a start that only hands over to a running Flinto makes
  // none, and must not open a session (nor use up the portal's permission)
  // beside the one the running Flinto holds.
  keyPathWanted_ = true;
  keyPathForced_ = inject;
  return true;
}

void X11Driver::OpenKeyPath() {
  if (!keyPathWanted_)
    return;
  keyPathWanted_ = false;
  // The compositor's ways, the one that asks nothing first.
  std::string why;
  keyPathApi_ = LoadKeyPathModule(&why);
  const std::string state = StateFolder();
  for (const char *kind : {"kwin", "portal"}) {
    if (keyPathApi_ == nullptr ||
        (!keyPathForced_.empty() && keyPathForced_ != kind))
      continue;
    char error[256] = "";
    keyPath_ = keyPathApi_->open(kind, state.c_str(), error, sizeof error);
    if (keyPath_ != nullptr) {
      keyPathKind_ = kind;
      keyPathState_ = keyPathApi_->process(keyPath_);
      break;
    }
    why += why.empty() ? "" : "; ";
    why += error;
  }
  std::string line;
  if (keyPath_ == nullptr) {
    line = std::string(kXTestNotice) + " (" + why + ")";
  } else if (keyPathKind_ == "kwin") {
    line = "typing through the compositor's fake input";
  } else {
    line = "typing through the desktop portal's remote desktop session, "
           "once it is granted";
  }
  if (keyPath_ != nullptr && keyPathState_ == kKeyPathClosed) {
    line = std::string(kXTestNotice) + " (" + keyPathApi_->why(keyPath_) + ")";
    DropKeyPath();
  }
  std::fprintf(stderr, "flinto: %s\n", line.c_str());
}

void X11Driver::ProcessKeyPath() {
  if (keyPath_ == nullptr)
    return;
  const int before = keyPathState_;
  keyPathState_ = keyPathApi_->process(keyPath_);
  // The compositor's locks changed (KWin's key states): the labels look
  // again, as when the X server reports its state.
  if (const int locks = keyPathApi_->locks(keyPath_);
      locks >= 0 && locks != reportedLocks_) {
    reportedLocks_ = locks;
    portable::KeyEventSeen(0x10, 0, 0);
  }
  if (keyPathState_ == before)
    return;
  if (keyPathState_ == kKeyPathReady) {
    std::fprintf(stderr, "flinto: the remote desktop session was granted: "
                         "keys reach every application\n");
    ShowKeyPathState();
  } else if (keyPathState_ == kKeyPathClosed) {
    std::fprintf(stderr, "flinto: %s: %s\n", keyPathApi_->why(keyPath_),
                 kXTestNotice);
    FallBackToXTest();
  }
}

void X11Driver::FallBackToXTest() {
  DropKeyPath();
  // The keys Flinto holds (a locked Shift) were let go with the session:
  // they go down again the other way, as the keyboard shows them.
  const uint64_t now = Now();
  for (unsigned keycode : held_)
    if (!releasedEarly_.count(keycode)) {
      XTestFakeKeyEvent(dpy_, keycode, True, CurrentTime);
      if (pressedAt_.count(keycode))
        pressedAt_[keycode] = now; // down again from now
    } else {
      pressedAt_.erase(keycode);
    }
  releasedEarly_.clear();
  XFlush(dpy_);
  ShowKeyPathState();
}

void X11Driver::DropKeyPath() {
  if (keyPath_ == nullptr)
    return;
  keyPathApi_->close(keyPath_); // every key still down is let go first
  keyPath_ = nullptr;
  keyPathState_ = kKeyPathClosed;
}

void X11Driver::ShowKeyPathState() {
  for (const auto &[hwnd, xid] : own_) {
    if (!keyboards_.count(xid))
      continue;
    InvalidateRect(hwnd, nullptr, FALSE); // painted again, greyed or not
  }
}

bool X11Driver::KeysWaitForGrant() const {
  return keyPath_ != nullptr && keyPathState_ == kKeyPathPending;
}

void X11Driver::SendKeyEvent(unsigned keycode, bool down) {
  if (keyPath_ == nullptr) {
    XTestFakeKeyEvent(dpy_, keycode, down ? True : False, CurrentTime);
    return;
  }
  if (down && keyPathApi_->locks(keyPath_) < 0) {
    // Nothing reports the locks: they follow Flinto's own presses, by what
    // the key types at the shift level of the moment.
    const bool shift =
        (xkbMods_ & ShiftMask) != 0 || held_.count(50) || held_.count(62);
    const KeySym sym =
        XkbKeycodeToKeysym(dpy_, KeyCode(keycode), int(xkbGroup_), shift);
    const int was = ownLocks_;
    if (sym == XK_Caps_Lock)
      ownLocks_ ^= kKeyPathCapsLock;
    else if (sym == XK_Num_Lock)
      ownLocks_ ^= kKeyPathNumLock;
    if (ownLocks_ != was)
      portable::KeyEventSeen(0x10, 0, 0); // the labels look again
  }
  keyPathApi_->key(keyPath_, keycode - 8, down ? 1 : 0);
  // The session may have ended under the key.
  ProcessKeyPath();
}

int X11Driver::CompositorLocks() {
  if (keyPath_ == nullptr)
    return -1;
  const int locks = keyPathApi_->locks(keyPath_);
  return locks >= 0 ? locks : ownLocks_;
}

// Keys held down past their bound: through the compositor let go for it;
// by XTest the server's repeat turned off for them.
linuxhost::LetGo X11Driver::HeldKeysDue() {
  if (keyPath_ != nullptr)
    return linuxhost::HeldKeysToLetGo(pressedAt_, releasedEarly_, Now());
  return linuxhost::HeldKeysToLetGo(
      pressedAt_, noRepeat_, Now(),
      linuxhost::ServerRepeatOffAfter(repeatDelay_));
}

uint64_t X11Driver::NextLetGo() {
  if (pressedAt_.empty())
    return UINT64_MAX;
  const linuxhost::LetGo due = HeldKeysDue();
  return due.now.empty() ? due.next : 0;
}

void X11Driver::LetGoHeldKeys() {
  if (pressedAt_.empty())
    return;
  const linuxhost::LetGo due = HeldKeysDue();
  for (unsigned keycode : due.now) {
    if (keyPath_ != nullptr) {
      keyPathApi_->key(keyPath_, keycode - 8, 0);
      releasedEarly_.insert(keycode);
    } else {
      // The core keyboard must not repeat it while we hold it.
      SetKeyRepeat(keycode, false);
      noRepeat_.insert(keycode);
    }
  }
  if (keyPath_ == nullptr && !due.now.empty())
    PublishNoRepeatKeys();
}

} // namespace x11
