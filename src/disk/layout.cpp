#include "disk/layout.h"

#include <cstring>

#include "disk/bootrecord.h"

const uint32_t g_sector_size = SECTOR_SIZE;

double LargeToDouble(uint32_t low, int32_t high) {
  return high * 65536.0 * 65536.0 + low;
}

int DecodeDriveLayout(const void *reply, uint32_t returned, DiskLayoutInfo *layout) {
  memset(layout, 0, sizeof *layout);
  const uint8_t *p = static_cast<const uint8_t *>(reply);
  if (returned < LAYOUT_HEADER_SIZE) return 0;
  uint32_t count = LoadLe32(p);
  layout->signature = LoadLe32(p + 4);
  if (count > MAX_PARTITIONS) count = MAX_PARTITIONS;
  // Entries the reply does not hold read as empty.
  uint32_t held = (returned - LAYOUT_HEADER_SIZE) / LAYOUT_ENTRY_SIZE;
  layout->partition_count = (int32_t)count;
  for (uint32_t i = 0; i < count && i < held; i++) {
    const uint8_t *length = p + LAYOUT_HEADER_SIZE + i * LAYOUT_ENTRY_SIZE + 8;
    layout->partition_length[i] = LargeToDouble(LoadLe32(length), (int32_t)LoadLe32(length + 4));
  }
  return 1;
}

int DecodeDiskGeometry(const void *reply, uint32_t returned, DiskGeometry *geometry) {
  const uint8_t *p = static_cast<const uint8_t *>(reply);
  geometry->Cylinders = (int64_t)((uint64_t)LoadLe32(p) | ((uint64_t)LoadLe32(p + 4) << 32));
  geometry->MediaType = LoadLe32(p + 8);
  geometry->TracksPerCylinder = LoadLe32(p + 12);
  geometry->SectorsPerTrack = LoadLe32(p + 16);
  geometry->BytesPerSector = LoadLe32(p + 20);
  return returned <= QUERY_BUFFER_SIZE ? 1 : 0;
}

int DecodeFirstExtentDisk(const void *reply) {
  return (int)LoadLe32(static_cast<const uint8_t *>(reply) + EXTENT_HEADER_SIZE);
}

void MakeUpGeometry(uint64_t total_sectors, DiskGeometry *geometry) {
  geometry->TracksPerCylinder = 255;
  geometry->SectorsPerTrack = 63;
  geometry->BytesPerSector = SECTOR_SIZE;
  geometry->MediaType = 12; // FixedMedia
  geometry->Cylinders = (int64_t)(total_sectors / (255 * 63));
}
