// Disk image containers: where an image's sector 0 starts, how many bytes of
// disk follow, and the geometry the container records. Pure parsing of the
// bytes the backend read; no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk.h"

// The first four the backend reads itself; the others through QEMU.
enum ImageContainer {
  IMAGE_RAW = 0,
  IMAGE_VHD,
  IMAGE_HDI,
  IMAGE_NHD,
  IMAGE_QCOW2,
  IMAGE_VMDK, // sparse with its own descriptor, or a descriptor file
  IMAGE_VDI,
  IMAGE_VHDX,
  IMAGE_VPC, // dynamic VHD
};

enum {
  IMAGE_HEAD_BYTES = 16384, // read from the start of the file; holds every header
  VHD_FOOTER_BYTES = 512,
  HDI_HEADER_FIELDS = 32,
  NHD_HEADER_FIELDS = 0x120,
};

struct ImageLayout {
  ImageContainer container;
  uint64_t data_offset; // file offset of sector 0
  uint64_t data_bytes;  // disk bytes after it; headers and footers lie outside
  uint32_t cylinders, heads, sectors_per_track; // 0 when the container records none
  bool encrypted; // qcow2 encrypted (AES or LUKS): needs a key this program has not
  bool read_only; // not written: QEMU does not write it (streamOptimized VMDK), or
                  // its data may lie anywhere (a VMDK extent named by a path, a
                  // qcow2's external data file)
};

// Whether QEMU reads the container (qemu-nbd): data_offset and data_bytes
// are then unknown here.
bool IsQemuImage(ImageContainer container);

// NHD by its magic; HDI by a name ending in .hdi (any case) or a header
// whose every field agrees with the file; fixed VHD by the footer cookie;
// otherwise raw. head holds the first head_bytes of the file, tail its last
// 512 bytes (nullptr when the file is shorter). A header whose sizes do not
// fit the file or disagree with each other (HDI and NHD geometry against
// the data size, products checked for overflow; a fixed VHD's current size
// against its data), or a bad VHD checksum, gives DISK_BAD_CONTAINER; a
// recorded sector size of 256, 1024, 2048 or 4096 DISK_SECTOR_UNSUPPORTED;
// qcow2 (version 2 or 3), VMDK (sparse header with its descriptor, or a
// descriptor file), VDI, VHDX and dynamic VHD give their container, left to
// QEMU; a differencing VHD, an unknown qcow2 version or a VMDK descriptor of
// another kind DISK_UNSUPPORTED_IMAGE, a sparse VMDK extent without a
// descriptor (part of a split disk) DISK_IMAGE_REFUSED. DISK_OK otherwise.
DiskError ProbeImage(const char *name, const uint8_t *head, size_t head_bytes, const uint8_t *tail,
                     uint64_t file_size, ImageLayout *layout);

// "raw", "VHD", "HDI", "NHD", "qcow2", "VMDK", "VDI", "VHDX", "dynamic VHD".
// The QEMU format names are QemuFormatName's.
const char *ImageContainerName(ImageContainer container);

// QEMU's driver name of a container it reads: "qcow2", "vmdk", "vdi",
// "vhdx", "vpc"; nullptr for the others.
const char *QemuFormatName(ImageContainer container);

// The extent files a VMDK descriptor names (in a descriptor file or a
// sparse file's own descriptor), as written there; none for other files.
std::vector<std::string> VmdkExtentNames(const uint8_t *head, size_t head_bytes);
