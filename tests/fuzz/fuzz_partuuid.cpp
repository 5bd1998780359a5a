// The PARTUUID reference reader: any bytes are scanned without reading
// outside them, in steps linear in their number; each PARTUUID found is
// inside them and spelled as reported, and a replacement changes only it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "app/partuuid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A copy of exactly size bytes: a read past it is one AddressSanitizer sees.
  char *bytes = new char[size ? size : 1];
  memcpy(bytes, data, size);
  std::string_view text(bytes, size);
  uint64_t steps = 0;
  unsigned found = 0;
  uint32_t first = 0;
  ScanPartuuids(
      text,
      [&](const PartuuidToken &t) {
        if (t.at > size || size - t.at < 11) abort();
        char spelled[16];
        snprintf(spelled, sizeof spelled, "%08x-%02x", (unsigned)t.signature, t.partition);
        if (strncasecmp(bytes + t.at, spelled, 11) != 0) abort();
        if (found++ == 0) first = t.signature;
      },
      &steps);
  if (steps > 32 * (uint64_t)size + 32) abort();
  if (found) {
    std::string contents(text);
    unsigned count = 0;
    std::string out = ReplacePartuuids(contents, first, ~first, &count);
    if (count == 0 || out.size() != size) abort();
  }
  delete[] bytes;
  return 0;
}
