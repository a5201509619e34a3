// A Wayland client's last requests, handled before it goes. A compositor
// that finds a client's connection closed drops it at once, with what the
// client sent and the compositor had not read yet: on a busy machine that
// is the release of a key the client let go just before it ended, and the
// key stays down in every application. So a client that ends waits for
// the answer to a sync first (the compositor handles requests in order),
// for a bounded time, without dispatching anything of its own.
#pragma once

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdint>

#include "platform/linux/clock.h"

namespace linuxhost {

namespace waylandhandled {

inline void Done(void *data, wl_callback *, uint32_t) {
  *static_cast<bool *>(data) = true;
}

} // namespace waylandhandled

// How long a client that ends waits for that: a compositor busy for longer
// is likely gone.
constexpr int kEndWaitMs = 1000;

// Waits until the compositor has handled every request sent on `display`
// so far, for at most `limitMs` of wall-clock time. Events for the
// client's objects are read into their queues and left there. Returns
// whether the compositor answered.
inline bool WaitUntilHandled(wl_display *display, int limitMs) {
  if (display == nullptr || wl_display_get_error(display) != 0)
    return false;
  wl_event_queue *queue = wl_display_create_queue(display);
  if (queue == nullptr)
    return false;
  auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
  if (wrapper == nullptr) {
    wl_event_queue_destroy(queue);
    return false;
  }
  wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), queue);
  wl_callback *sync = wl_display_sync(wrapper);
  wl_proxy_wrapper_destroy(wrapper);
  bool done = false;
  static const wl_callback_listener listener = {waylandhandled::Done};
  if (sync != nullptr)
    wl_callback_add_listener(sync, &listener, &done);
  const int64_t end = int64_t(MonotonicMs()) + limitMs;
  while (sync != nullptr && !done) {
    if (wl_display_dispatch_queue_pending(display, queue) < 0)
      break;
    if (done)
      break;
    if (wl_display_prepare_read_queue(display, queue) != 0)
      continue; // something came meanwhile: dispatched above
    // A full socket takes the rest in a later round.
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      break;
    }
    const int64_t left = end - int64_t(MonotonicMs());
    pollfd fd = {wl_display_get_fd(display), POLLIN, 0};
    const int n = left > 0 ? poll(&fd, 1, int(left)) : 0;
    if (n < 0 && errno == EINTR) { // a signal: the same bound holds
      wl_display_cancel_read(display);
      continue;
    }
    if (n <= 0 || (fd.revents & POLLIN) == 0) {
      wl_display_cancel_read(display);
      break;
    }
    if (wl_display_read_events(display) < 0)
      break;
  }
  if (sync != nullptr)
    wl_callback_destroy(sync);
  wl_event_queue_destroy(queue);
  return done;
}

} // namespace linuxhost
