// The boot-record classifiers: any boot area gets one of their answers.
#include <cstdlib>
#include <cstring>

#include "disk/bootrecord.h"
#include "disk/layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  static uint8_t area[IPL_AREA_BYTES];
  memset(area, 0, sizeof area);
  memcpy(area, data + 4, size - 4 < sizeof area ? size - 4 : sizeof area);
  LayoutKind kind = ClassifySectorZero(area);
  if (kind < LAYOUT_NO_MARK || kind > LAYOUT_GPT) abort();
  BootFormat format = ClassifyBootArea(area, LoadLe32(data));
  if (format < NoIpl || format > Pc9821) abort();
  if ((format == NoIpl) != (kind == LAYOUT_NO_MARK)) abort();
  return 0;
}
