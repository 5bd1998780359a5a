// The images map-images.sh mapped as \\.\PHYSICALDRIVEn, reached as plain
// files through Wine's Z: drive so that a test sees the bytes themselves.
#pragma once

#include <cstdint>
#include <vector>

enum {
  AT_DISK = 31,    // at.img, 8 MiB
  PC98_DISK = 32,  // pc98.img, 8 MiB
  BIG_DISK = 33,   // big.img, 5 GiB sparse
  SHORT_DISK = 34, // short.img, 10 sectors and 100 bytes
  NO_DISK = 39,    // nothing mapped
  IMAGE_SECTORS = 16384,
  BIG_SECTORS = 10485760,
};

const char *ImageName(int disk);
std::vector<uint8_t> ReadImage(int disk, uint64_t offset, uint32_t size);
void WriteImage(int disk, uint64_t offset, const std::vector<uint8_t> &bytes);

// Boot areas (32 sectors) the tests write. AT: a primary partition of 4096
// sectors at 2048 and an extended one of 8192 at 8192 whose EBR holds one
// logical partition of 2000 sectors. PC-9821: "IPL1", both boot marks, one
// partition from cylinder 1 to 10 (8 heads x 17 sectors).
std::vector<uint8_t> AtBootArea(uint32_t signature);
std::vector<uint8_t> Pc98BootArea(uint32_t signature);
void WriteAtImage(uint32_t signature); // boot area and EBR on AT_DISK
