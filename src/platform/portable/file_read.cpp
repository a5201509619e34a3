#include "platform/portable/file_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace portable {

FileRead ReadFileUpTo(const std::string &path, size_t limit,
                      std::string *text) {
  text->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return FileRead::kCannotOpen;
  FileRead result = FileRead::kRead;
  char piece[16384];
  while (text->size() < limit) {
    const size_t want = std::min(sizeof piece, limit - text->size());
    const ssize_t got = read(fd, piece, want);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      result = FileRead::kReadFailed;
      break;
    }
    if (got == 0)
      break;
    text->append(piece, size_t(got));
  }
  close(fd);
  return result;
}

} // namespace portable
