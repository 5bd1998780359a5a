// The image container parser: a header it accepts never states sizes past
// the file.
#include <cstdlib>

#include "disk/container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the name; the rest is the file.
  const char *name = data[0] & 1 ? "disk.hdi" : "disk.img";
  const uint8_t *file = data + 1;
  uint64_t file_size = size - 1;
  size_t head = file_size < IMAGE_HEAD_BYTES ? (size_t)file_size : (size_t)IMAGE_HEAD_BYTES;
  const uint8_t *tail =
      file_size >= VHD_FOOTER_BYTES ? file + file_size - VHD_FOOTER_BYTES : nullptr;
  ImageLayout layout;
  DiskError e = ProbeImage(name, file, head, tail, file_size, &layout);
  if (e == DISK_OK &&
      (layout.data_offset > file_size || layout.data_bytes > file_size - layout.data_offset))
    abort();
  return 0;
}
