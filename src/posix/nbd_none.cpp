// Built without libnbd: images QEMU reads are refused as before.
#include "posix/nbd.h"

NbdImage *NbdOpen(const std::string &, ImageContainer, bool, DiskError *error, QemuSaid *said) {
  said->text.clear();
  *error = DISK_UNSUPPORTED_IMAGE;
  return nullptr;
}

uint64_t NbdSize(const NbdImage *) {
  return 0;
}

bool NbdRead(NbdImage *, void *, size_t, uint64_t) {
  return false;
}

bool NbdWrite(NbdImage *, const void *, size_t, uint64_t) {
  return false;
}

void NbdClose(NbdImage *) {}

void NbdReadHeads(std::vector<NbdHead> *images, size_t, int) {
  for (NbdHead &image : *images)
    image.error = DISK_UNSUPPORTED_IMAGE;
}
