// Reading a whole small file without the C++ streams (whose locale machinery
// is most of a statically linked C++ library's pages).
#pragma once

#include <cstddef>
#include <string>

namespace portable {

enum class FileRead { kRead, kCannotOpen, kReadFailed };

// At most `limit` bytes of the file into `text`, a piece at a time (a
// settings file is a few hundred bytes; room for the largest allowed would
// touch every page of it). Opened without blocking, so that a pipe put in
// the file's place gives nothing rather than a wait.
FileRead ReadFileUpTo(const std::string &path, size_t limit, std::string *text);

} // namespace portable
