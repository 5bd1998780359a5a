// The command-line splitter: at most MAX_ARGS arguments, each inside the
// text it was split from.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/argvector.h"

// Only SplitArguments is driven; the vector's sources are never read.
const char *ArgSourceCommandLine() {
  return "";
}
unsigned ArgSourceModulePath(char *, unsigned) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  static char *table[MAX_ARGS + 1];
  int count = SplitArguments(text.data(), table);
  if (count < 0 || count > MAX_ARGS) abort();
  for (int i = 0; i < count; i++)
    if (table[i] < text.data() || table[i] + strlen(table[i]) >= text.data() + text.size()) abort();
  return 0;
}
