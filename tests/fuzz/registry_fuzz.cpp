// The settings file is read at every start and may hold anything. Whatever
// it holds, reading never fails hard, and what was read writes back to a
// text that reads back to the same tree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/portable/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  portable::ParseRegistry(text);
  const std::string once = portable::SerializeRegistry();
  portable::ParseRegistry(once);
  const std::string twice = portable::SerializeRegistry();
  if (once != twice)
    std::abort();
  return 0;
}
