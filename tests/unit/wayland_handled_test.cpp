// A client that ends waits until the compositor has handled what it sent
// (the releases of the keys it let go), within a bound, dispatching
// nothing of its own. The compositor here is a server of the Wayland
// library on one end of a socket pair, in a thread of its own.
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-server.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/linux/wayland_handled.h"

namespace {

class Compositor {
public:
  Compositor() {
    display_ = wl_display_create();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
      return;
    client_ = wl_client_create(display_, fds[0]);
    created_.notify = Created;
    wl_client_add_resource_created_listener(client_, &created_);
    clientFd_ = fds[1];
  }
  ~Compositor() {
    Stop();
    wl_display_destroy_clients(display_);
    wl_display_destroy(display_);
  }
  int clientFd() const { return clientFd_; }
  // Requests the server has read (each sync makes a callback).
  int handled() const { return handled_; }

  // Starts reading the client after `delayMs`, as a busy compositor does.
  void Serve(int delayMs) {
    serving_ = true;
    thread_ = std::thread([this, delayMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      wl_event_loop *loop = wl_display_get_event_loop(display_);
      while (serving_) {
        wl_event_loop_dispatch(loop, 10);
        wl_display_flush_clients(display_);
      }
    });
  }
  void Stop() {
    serving_ = false;
    if (thread_.joinable())
      thread_.join();
  }
  void Leave() { // the compositor goes away
    Stop();
    if (client_ != nullptr)
      wl_client_destroy(client_);
    client_ = nullptr;
  }

private:
  static void Created(wl_listener *listener, void *) {
    Compositor *self = wl_container_of(listener, self, created_);
    ++self->handled_;
  }

  wl_display *display_ = nullptr;
  wl_client *client_ = nullptr;
  wl_listener created_{};
  int clientFd_ = -1;
  std::atomic<int> handled_{0};
  std::atomic<bool> serving_{false};
  std::thread thread_;
};

void Count(void *data, wl_callback *, uint32_t) { ++*static_cast<int *>(data); }
const wl_callback_listener counter = {Count};

TEST(WaylandHandled, TheLastRequestsAreHandledBeforeTheClientGoes) {
  Compositor compositor;
  wl_display *client = wl_display_connect_to_fd(compositor.clientFd());
  ASSERT_NE(client, nullptr);
  // Three requests sent (a key's releases), one of them with a listener on
  // the client's own queue; the compositor reads only after a while.
  int answered = 0;
  wl_callback *mine = wl_display_sync(client);
  wl_callback_add_listener(mine, &counter, &answered);
  wl_callback_destroy(wl_display_sync(client));
  wl_callback_destroy(wl_display_sync(client));
  wl_display_flush(client);
  compositor.Serve(150);
  EXPECT_TRUE(linuxhost::WaitUntilHandled(client, 10000));
  // The three and the wait's own, before the wait returned.
  EXPECT_EQ(compositor.handled(), 4);
  // What came for the client's own objects is left in their queue: an
  // ending client has taken its objects apart.
  EXPECT_EQ(answered, 0);
  EXPECT_GE(wl_display_dispatch_pending(client), 1); // read, and kept
  EXPECT_EQ(answered, 1);
  wl_callback_destroy(mine);
  wl_display_disconnect(client);
}

TEST(WaylandHandled, ACompositorThatDoesNotAnswerIsWaitedForWithinTheBound) {
  Compositor compositor; // never reads
  wl_display *client = wl_display_connect_to_fd(compositor.clientFd());
  ASSERT_NE(client, nullptr);
  EXPECT_FALSE(linuxhost::WaitUntilHandled(client, 50));
  EXPECT_EQ(compositor.handled(), 0);
  wl_display_disconnect(client);
}

TEST(WaylandHandled, ACompositorGoneEndsTheWait) {
  Compositor compositor;
  wl_display *client = wl_display_connect_to_fd(compositor.clientFd());
  ASSERT_NE(client, nullptr);
  compositor.Leave();
  // Far longer than the test's own limit: the closed connection ends it.
  EXPECT_FALSE(linuxhost::WaitUntilHandled(client, 600000));
  EXPECT_FALSE(linuxhost::WaitUntilHandled(client, 600000)); // once broken
  EXPECT_FALSE(linuxhost::WaitUntilHandled(nullptr, 600000));
  wl_display_disconnect(client);
}

} // namespace
