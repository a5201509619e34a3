// Starts a Wayland client and says how long it took to give the
// compositor its first picture: "MICROSECONDS PID" from the fork to the
// first write to the compositor after the first buffer at least 64 pixels
// wide was attached to a surface (a smaller one is a cursor, or a blank
// helper surface), as the client's own protocol log (WAYLAND_DEBUG=1) says,
// with the writes marked in it by MARKS (tests/wayland/sent_marks.cpp,
// preloaded): a request is queued when made, and only a write hands it
// over. Stays to read the log until the client ends (a log that is not
// read would stop it), with its own output closed.
//
// usage: first-frame MARKS COMMAND [ARGUMENT...]
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

int64_t NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: first-frame MARKS COMMAND [ARGUMENT...]\n");
    return 2;
  }
  int pipeFds[2];
  if (pipe(pipeFds) != 0)
    return 2;
  const int64_t start = NowUs();
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    const int none = open("/dev/null", O_RDWR);
    dup2(none, 1);
    dup2(pipeFds[1], 2);
    setenv("WAYLAND_DEBUG", "1", 1);
    setenv("LD_PRELOAD", argv[1], 1);
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  if (pid < 0)
    return 2;
  close(pipeFds[1]);
  std::string pending;            // the log's last line, not yet whole
  std::set<std::string> pictures; // "wl_buffer@N" at least 64 wide
  bool attached = false;          // a picture, not yet written
  bool told = false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0)
      break;
    if (told)
      continue;
    pending.append(buffer, size_t(n));
    size_t end;
    while (!told && (end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      // "-> wl_shm_pool@5.create_buffer(new id wl_buffer@9, 0, W, H, ..."
      size_t at = line.find(".create_buffer(new id ");
      if (at != std::string::npos) {
        const size_t id = at + 22, comma = line.find(',', id);
        int offset = 0, width = 0;
        if (comma != std::string::npos &&
            std::sscanf(line.c_str() + comma + 1, " %d, %d", &offset, &width) ==
                2 &&
            width >= 64)
          pictures.insert(line.substr(id, comma - id));
        continue;
      }
      if (attached && line.rfind("flinto-wl-sent ", 0) == 0) {
        std::printf("%lld %d\n", static_cast<long long>(NowUs() - start),
                    static_cast<int>(pid));
        std::fflush(stdout);
        std::fclose(stdout);
        told = true;
        continue;
      }
      at = line.find(".attach(");
      if (at == std::string::npos)
        continue;
      const size_t id = at + 8, comma = line.find(',', id);
      if (comma != std::string::npos &&
          pictures.count(line.substr(id, comma - id)) != 0)
        attached = true;
    }
  }
  if (!told)
    std::printf("- %d\n", static_cast<int>(pid));
  waitpid(pid, nullptr, 0);
  return told ? 0 : 1;
}
