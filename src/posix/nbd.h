// Images QEMU reads (qcow2, VMDK, VDI, VHDX, dynamic VHD), each through a
// private qemu-nbd that libnbd starts by socket activation: no root, no
// /dev/nbd. The format is the one the program found by the file's magic;
// the file goes to QEMU as an absolute path in --image-opts, never as a
// name QEMU would read as anything else (nbd:..., json:...). What qemu-nbd
// says on its standard error is kept, to be shown with the reason.
// Built without libnbd (nbd_none.cpp) every open fails with
// DISK_UNSUPPORTED_IMAGE.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/container.h"
#include "disk/disk.h"

struct NbdImage;

// QEMU's words (its last line, without the program name), or "".
struct QemuSaid {
  std::string text;
};

// Opens path (absolute) as format: read-only and shared with other users
// of the image, or for writing. nullptr with *error and *said on failure.
NbdImage *NbdOpen(const std::string &path, ImageContainer format, bool write, DiskError *error,
                  QemuSaid *said);
uint64_t NbdSize(const NbdImage *image);
bool NbdRead(NbdImage *image, void *buffer, size_t bytes, uint64_t offset);
// Writes in whole 512-byte sectors: the sectors around the bytes are read
// first. Then flushes.
bool NbdWrite(NbdImage *image, const void *buffer, size_t bytes, uint64_t offset);
// Accepts nullptr.
void NbdClose(NbdImage *image);

// One image to open for `list`: what NbdReadHeads fills in.
struct NbdHead {
  std::string path;
  ImageContainer format = IMAGE_RAW;
  DiskError error = DISK_OK;
  QemuSaid said;
  uint64_t size = 0;
  std::vector<uint8_t> head; // the first bytes asked for (fewer on a smaller image)
};
// Opens the images read-only, at most `parallel` at a time, and reads the
// first `bytes` of each; every qemu-nbd is gone when it returns.
void NbdReadHeads(std::vector<NbdHead> *images, size_t bytes, int parallel);

// qemu-img check on the image, before a write: DISK_OK when it finds no
// errors (leaked clusters are none), DISK_IMAGE_CHECK_FAILED,
// DISK_IMAGE_IN_USE, DISK_NO_QEMU or DISK_IMAGE_REFUSED with QEMU's words.
DiskError QemuCheckImage(const std::string &path, ImageContainer format, QemuSaid *said);

// Whether a QEMU program holds the file open on fd (its lock bytes): a
// running VM's raw image. DISK_IMAGE_IN_USE or DISK_OK.
DiskError QemuLockHeld(int fd);

// Shared by the backends above.
// Whether an executable name is on PATH.
bool QemuOnPath(const char *name);
// The last line a QEMU program wrote to fd (a memfd holding its standard
// error), without "qemu-nbd: " and the options it was given.
QemuSaid QemuWords(int fd);
// The reason QEMU's words give: an image in use, an encrypted one, else
// otherwise.
DiskError QemuReason(const QemuSaid &said, DiskError otherwise);
// "driver=FMT,file.driver=file,file.filename=PATH" (commas doubled).
std::string QemuImageOptions(const std::string &path, ImageContainer format);
