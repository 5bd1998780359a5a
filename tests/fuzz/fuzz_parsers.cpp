// The signature and number parsers: any text parses, and a number they
// accept reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ui/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  uint32_t signature = ParseHexSignature(text.data());
  char again[16];
  snprintf(again, sizeof again, "%X", (unsigned)signature);
  if (ParseHexSignature(again) != signature) abort();
  int translated = 0;
  unsigned value = ParseDialogInt(text.data(), &translated);
  if (!translated && value != 0) abort();
  if (translated) {
    snprintf(again, sizeof again, "%u", value);
    int ok = 0;
    if (ParseDialogInt(again, &ok) != value || !ok) abort();
  }
  return 0;
}
