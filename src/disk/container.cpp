#include "disk/container.h"

#include <cstring>

#include "disk/bootrecord.h"

namespace {

uint64_t LoadBe(const uint8_t *p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; i++)
    v = (v << 8) | p[i];
  return v;
}

bool EndsWithHdi(const char *name) {
  size_t n = strlen(name);
  if (n < 4 || name[n - 4] != '.') return false;
  const char *ext = name + n - 3;
  return (ext[0] | 0x20) == 'h' && (ext[1] | 0x20) == 'd' && (ext[2] | 0x20) == 'i';
}

bool Fits(uint64_t offset, uint64_t bytes, uint64_t file_size) {
  return offset <= file_size && bytes <= file_size - offset;
}

// cylinders x heads x sectors x sector_size in *bytes; false when it does
// not fit in 64 bits.
bool GeometryBytes(uint64_t cylinders, uint64_t heads, uint64_t sectors, uint64_t sector_size,
                   uint64_t *bytes) {
  return !__builtin_mul_overflow(cylinders, heads, bytes) &&
         !__builtin_mul_overflow(*bytes, sectors, bytes) &&
         !__builtin_mul_overflow(*bytes, sector_size, bytes);
}

bool OtherSectorSize(uint32_t size) {
  return size == 256 || size == 1024 || size == 2048 || size == 4096;
}

// Formats this backend does not unpack; writing into them as raw would
// damage them.
bool IsForeignImage(const uint8_t *head, size_t n) {
  static const char *const magics[] = {"QFI\xfb", "KDMV", "vhdxfile", "conectix"};
  for (const char *m : magics)
    if (n >= strlen(m) && memcmp(head, m, strlen(m)) == 0) return true;
  return n >= 0x44 && LoadLe32(head + 0x40) == 0xBEDA107Fu; // VDI
}

bool HdiPlausible(const uint8_t *h, uint64_t file_size) {
  uint32_t header = LoadLe32(h + 8), data = LoadLe32(h + 0xC), sector = LoadLe32(h + 0x10);
  uint32_t spt = LoadLe32(h + 0x14), heads = LoadLe32(h + 0x18), cyl = LoadLe32(h + 0x1C);
  bool sector_ok = sector == 512 || OtherSectorSize(sector);
  uint64_t geometry = 0;
  return LoadLe32(h) == 0 && header >= HDI_HEADER_FIELDS && header % 256 == 0 && sector_ok &&
         spt >= 1 && spt <= 255 && heads >= 1 && heads <= 255 && cyl >= 1 &&
         GeometryBytes(cyl, heads, spt, sector, &geometry) && geometry == data &&
         (uint64_t)header + data == file_size;
}

DiskError ParseHdi(const uint8_t *h, size_t n, uint64_t file_size, ImageLayout *out) {
  if (n < HDI_HEADER_FIELDS) return DISK_BAD_CONTAINER;
  out->container = IMAGE_HDI;
  out->data_offset = LoadLe32(h + 8);
  out->data_bytes = LoadLe32(h + 0xC);
  uint32_t sector = LoadLe32(h + 0x10);
  if (sector != SECTOR_SIZE)
    return OtherSectorSize(sector) ? DISK_SECTOR_UNSUPPORTED : DISK_BAD_CONTAINER;
  out->sectors_per_track = LoadLe32(h + 0x14);
  out->heads = LoadLe32(h + 0x18);
  out->cylinders = LoadLe32(h + 0x1C);
  // The geometry describes the data exactly, and the data fits the file.
  uint64_t geometry = 0;
  if (out->data_offset < HDI_HEADER_FIELDS || !Fits(out->data_offset, out->data_bytes, file_size) ||
      !GeometryBytes(out->cylinders, out->heads, out->sectors_per_track, sector, &geometry) ||
      geometry != out->data_bytes)
    return DISK_BAD_CONTAINER;
  return DISK_OK;
}

DiskError ParseNhd(const uint8_t *h, size_t n, uint64_t file_size, ImageLayout *out) {
  if (n < NHD_HEADER_FIELDS) return DISK_BAD_CONTAINER;
  out->container = IMAGE_NHD;
  out->data_offset = LoadLe32(h + 0x110);
  out->cylinders = LoadLe32(h + 0x114);
  out->heads = LoadLe16(h + 0x118);
  out->sectors_per_track = LoadLe16(h + 0x11A);
  uint32_t sector = LoadLe16(h + 0x11C);
  if (sector != SECTOR_SIZE)
    return OtherSectorSize(sector) ? DISK_SECTOR_UNSUPPORTED : DISK_BAD_CONTAINER;
  // The geometry gives the data size; it must fit the file after the header.
  if (out->data_offset < NHD_HEADER_FIELDS ||
      !GeometryBytes(out->cylinders, out->heads, out->sectors_per_track, sector,
                     &out->data_bytes) ||
      !Fits(out->data_offset, out->data_bytes, file_size))
    return DISK_BAD_CONTAINER;
  return DISK_OK;
}

DiskError ParseVhd(const uint8_t *f, uint64_t file_size, ImageLayout *out) {
  uint32_t sum = 0;
  for (int i = 0; i < VHD_FOOTER_BYTES; i++)
    if (i < 0x40 || i >= 0x44) sum += f[i];
  if ((uint32_t)~sum != (uint32_t)LoadBe(f + 0x40, 4)) return DISK_BAD_CONTAINER;
  if (LoadBe(f + 0x3C, 4) != 2) return DISK_UNSUPPORTED_IMAGE; // dynamic, differencing
  out->container = IMAGE_VHD;
  out->data_offset = 0;
  out->data_bytes = file_size - VHD_FOOTER_BYTES;
  out->cylinders = (uint32_t)LoadBe(f + 0x38, 2);
  out->heads = f[0x3A];
  out->sectors_per_track = f[0x3B];
  // A fixed disk is its current size followed by the footer; the CHS
  // geometry rounds it down.
  uint64_t geometry = 0;
  if (LoadBe(f + 0x30, 8) != out->data_bytes ||
      !GeometryBytes(out->cylinders, out->heads, out->sectors_per_track, SECTOR_SIZE, &geometry) ||
      geometry > out->data_bytes)
    return DISK_BAD_CONTAINER;
  return DISK_OK;
}

} // namespace

DiskError ProbeImage(const char *name, const uint8_t *head, size_t head_bytes, const uint8_t *tail,
                     uint64_t file_size, ImageLayout *layout) {
  memset(layout, 0, sizeof *layout);
  layout->container = IMAGE_RAW;
  layout->data_bytes = file_size;
  if (head_bytes >= 16 && memcmp(head, "T98HDDIMAGE.R0\0", 16) == 0)
    return ParseNhd(head, head_bytes, file_size, layout);
  if (EndsWithHdi(name) || (head_bytes >= HDI_HEADER_FIELDS && HdiPlausible(head, file_size)))
    return ParseHdi(head, head_bytes, file_size, layout);
  if (tail && memcmp(tail, "conectix", 8) == 0) return ParseVhd(tail, file_size, layout);
  if (IsForeignImage(head, head_bytes)) return DISK_UNSUPPORTED_IMAGE;
  return DISK_OK;
}

const char *ImageContainerName(ImageContainer container) {
  switch (container) {
  case IMAGE_VHD:
    return "VHD";
  case IMAGE_HDI:
    return "HDI";
  case IMAGE_NHD:
    return "NHD";
  default:
    return "raw";
  }
}
