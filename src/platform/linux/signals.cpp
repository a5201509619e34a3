#include "platform/linux/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace linuxhost {

namespace {

int pipeEnds[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  const ssize_t ignored = write(pipeEnds[1], &byte, 1);
  (void)ignored;
}

} // namespace

int CatchTermination() {
  if (pipeEnds[0] >= 0)
    return pipeEnds[0];
  if (pipe(pipeEnds) != 0) {
    pipeEnds[0] = pipeEnds[1] = -1;
    return -1;
  }
  for (int fd : pipeEnds) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  return pipeEnds[0];
}

bool TerminationRequested() {
  if (pipeEnds[0] < 0)
    return false;
  bool came = false;
  char bytes[16];
  while (read(pipeEnds[0], bytes, sizeof bytes) > 0)
    came = true;
  return came;
}

} // namespace linuxhost
