// The layout decoder over an in-memory disk: it never reads outside the
// disk, and its reply fits its buffer and decodes.
#include <cstdlib>
#include <cstring>

#include "disk/layout.h"

namespace {

struct Memory {
  const uint8_t *bytes;
  uint64_t sectors;
};

int Read(void *context, uint64_t sector, uint8_t *buffer) {
  const Memory *m = static_cast<const Memory *>(context);
  if (sector >= m->sectors) abort(); // a read outside the disk
  memcpy(buffer, m->bytes + sector * SECTOR_SIZE, SECTOR_SIZE);
  return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  // The first bytes choose the geometry and the reply buffer's size.
  uint32_t heads = data[0] ? data[0] : 8, spt = data[1] ? data[1] : 17;
  uint32_t room = LAYOUT_HEADER_SIZE + (uint32_t)data[2] * LAYOUT_ENTRY_SIZE + data[3] % 32;
  Memory m = {data + 4, (size - 4) / SECTOR_SIZE};
  static uint8_t reply[QUERY_BUFFER_SIZE];
  uint32_t returned = 0;
  if (room > sizeof reply) room = sizeof reply;
  if (BuildDriveLayoutReply(Read, &m, m.sectors, heads, spt, reply, room, &returned)) {
    if (returned > room || returned < LAYOUT_HEADER_SIZE) abort();
    DiskLayoutInfo layout;
    if (!DecodeDriveLayout(reply, returned, &layout)) abort();
    if (layout.partition_count < 0 || layout.partition_count > MAX_PARTITIONS) abort();
  } else if (returned != 0) {
    abort();
  }
  if (m.sectors >= 2) ProbePc98Geometry(Read, &m, m.sectors, m.bytes + SECTOR_SIZE, &heads, &spt);
  return 0;
}
