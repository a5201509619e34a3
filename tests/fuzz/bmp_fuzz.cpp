// Picture files are untrusted: a malformed one loads as nothing, and a read
// never strays outside the bytes given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/portable/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A copy of exactly `size` bytes, so that any over-read is caught.
  std::vector<uint8_t> bytes(data, data + size);
  portable::Bitmap bitmap;
  if (portable::DecodeBmp(bytes.data(), bytes.size(), &bitmap)) {
    if (bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.data.size() != size_t(bitmap.stride) * bitmap.height)
      std::abort();
  }
  return 0;
}
