// The module's entry: the C interface over the paths.
#include <cstdio>
#include <string>

#include "platform/x11/compositor/path.h"

namespace {

compositor::Path *Of(FlintoKeyPath *path) {
  return reinterpret_cast<compositor::Path *>(path);
}

FlintoKeyPath *Open(const char *kind, const char *stateDir, char *error,
                    size_t errorSize) {
  std::string why;
  std::unique_ptr<compositor::Path> path;
  const std::string name = kind != nullptr ? kind : "";
  if (name == "kwin")
    path = compositor::OpenKwin(&why);
  else if (name == "portal")
    path = compositor::OpenPortal(stateDir != nullptr ? stateDir : "", &why);
  else
    why = "no such path: " + name;
  if (path == nullptr && error != nullptr && errorSize > 0)
    std::snprintf(error, errorSize, "%s", why.c_str());
  return reinterpret_cast<FlintoKeyPath *>(path.release());
}

int Fd(FlintoKeyPath *path) { return Of(path)->Fd(); }
short Events(FlintoKeyPath *path) { return Of(path)->Events(); }
int Process(FlintoKeyPath *path) {
  Of(path)->Process();
  return Of(path)->state();
}
const char *Why(FlintoKeyPath *path) { return Of(path)->why().c_str(); }
void Key(FlintoKeyPath *path, unsigned code, int down) {
  Of(path)->Key(code, down != 0);
}
int Locks(FlintoKeyPath *path) { return Of(path)->Locks(); }
void Close(FlintoKeyPath *path) {
  Of(path)->Close();
  delete Of(path);
}

constexpr FlintoKeyPathApi kApi = {FLINTO_KEY_PATH_API_VERSION,
                                   Open,
                                   Fd,
                                   Events,
                                   Process,
                                   Why,
                                   Key,
                                   Locks,
                                   Close};

} // namespace

extern "C" __attribute__((visibility("default"))) const FlintoKeyPathApi *
flinto_key_path_api(void) {
  return &kApi;
}
