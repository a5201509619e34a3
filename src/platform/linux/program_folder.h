// The folder this program runs from (with its trailing '/'), where the
// build puts the programs and modules that go with it; empty when unknown.
#pragma once

#include <unistd.h>

#include <climits>
#include <string>

namespace linuxhost {

inline std::string ProgramFolder() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0)
    return "";
  std::string folder(self, size_t(n));
  folder.resize(folder.rfind('/') + 1);
  return folder;
}

} // namespace linuxhost
