// Keys through the compositor's fake input interface. The compositor
// offers it only to a program that an installed desktop entry names by its
// absolute path and lists the interface for; the same grant gives the lock
// states (keystate). Keys sent before `authenticate` are dropped silently,
// so it goes first.
#include <poll.h>
#include <wayland-client.h>

#include <cstring>

#include "fake-input-client-protocol.h"
#include "keystate-client-protocol.h"
#include "platform/linux/wayland_handled.h"
#include "platform/x11/compositor/path.h"

namespace compositor {
namespace {

class KwinPath : public Path {
public:
  ~KwinPath() override { Disconnect(); }

  bool Connect(std::string *error) {
    display_ = wl_display_connect(nullptr);
    if (display_ == nullptr) {
      *error = "no Wayland compositor to connect to";
      return false;
    }
    registry_ = wl_display_get_registry(display_);
    static const wl_registry_listener listener = {Global, GlobalRemove};
    wl_registry_add_listener(registry_, &listener, this);
    if (wl_display_roundtrip(display_) < 0) {
      *error = "the compositor did not answer";
      return false;
    }
    if (fakeInput_ == nullptr) {
      *error = "the compositor offers no fake input to this program";
      return false;
    }
    org_kde_kwin_fake_input_authenticate(fakeInput_, "Flinto",
                                         "An on-screen keyboard: it types "
                                         "the keys clicked on it");
    if (keystate_ != nullptr) {
      static const org_kde_kwin_keystate_listener keys = {StateChanged};
      org_kde_kwin_keystate_add_listener(keystate_, &keys, this);
      org_kde_kwin_keystate_fetchStates(keystate_);
    }
    wl_display_flush(display_);
    Ready();
    return true;
  }

  int Fd() override {
    return display_ != nullptr ? wl_display_get_fd(display_) : -1;
  }
  short Events() override { return POLLIN; }

  void Process() override {
    if (display_ == nullptr || state() == kKeyPathClosed)
      return;
    while (wl_display_prepare_read(display_) != 0)
      wl_display_dispatch_pending(display_);
    wl_display_flush(display_);
    pollfd fd = {wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0)
      wl_display_read_events(display_);
    else
      wl_display_cancel_read(display_);
    wl_display_dispatch_pending(display_);
    if (wl_display_get_error(display_) != 0 ||
        (fd.revents & (POLLHUP | POLLERR)) != 0)
      Closed("the compositor went away");
  }

  void SendKey(unsigned code, bool down) override {
    org_kde_kwin_fake_input_keyboard_key(fakeInput_, code, down ? 1 : 0);
    if (wl_display_flush(display_) < 0)
      Closed("the compositor went away");
  }

  int Locks() override { return locks_; }

  void End() override { Disconnect(); }

private:
  static void Global(void *data, wl_registry *registry, uint32_t name,
                     const char *interface, uint32_t version) {
    KwinPath *self = static_cast<KwinPath *>(data);
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
        version >= 4 && self->fakeInput_ == nullptr)
      self->fakeInput_ =
          static_cast<org_kde_kwin_fake_input *>(wl_registry_bind(
              registry, name, &org_kde_kwin_fake_input_interface, 4));
    else if (std::strcmp(interface, org_kde_kwin_keystate_interface.name) ==
                 0 &&
             self->keystate_ == nullptr)
      self->keystate_ = static_cast<org_kde_kwin_keystate *>(
          wl_registry_bind(registry, name, &org_kde_kwin_keystate_interface,
                           version < 4 ? version : 4));
  }
  static void GlobalRemove(void *, wl_registry *, uint32_t) {}

  static void StateChanged(void *data, org_kde_kwin_keystate *, uint32_t key,
                           uint32_t state) {
    KwinPath *self = static_cast<KwinPath *>(data);
    const int bit = key == ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK ? kKeyPathCapsLock
                    : key == ORG_KDE_KWIN_KEYSTATE_KEY_NUMLOCK ? kKeyPathNumLock
                                                               : 0;
    if (bit == 0)
      return;
    int locks = self->locks_ < 0 ? 0 : self->locks_;
    if (state != ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED)
      locks |= bit;
    else
      locks &= ~bit;
    self->locks_ = locks;
  }

  void Disconnect() {
    if (display_ == nullptr)
      return;
    if (keystate_ != nullptr)
      wl_proxy_destroy(reinterpret_cast<wl_proxy *>(keystate_));
    if (fakeInput_ != nullptr)
      org_kde_kwin_fake_input_destroy(fakeInput_);
    if (registry_ != nullptr)
      wl_registry_destroy(registry_);
    linuxhost::WaitUntilHandled(display_, linuxhost::kEndWaitMs);
    wl_display_disconnect(display_);
    display_ = nullptr;
    keystate_ = nullptr;
    fakeInput_ = nullptr;
    registry_ = nullptr;
  }

  wl_display *display_ = nullptr;
  wl_registry *registry_ = nullptr;
  org_kde_kwin_fake_input *fakeInput_ = nullptr;
  org_kde_kwin_keystate *keystate_ = nullptr;
  int locks_ = -1;
};

} // namespace

std::unique_ptr<Path> OpenKwin(std::string *error) {
  auto path = std::make_unique<KwinPath>();
  if (!path->Connect(error))
    return nullptr;
  return path;
}

} // namespace compositor
